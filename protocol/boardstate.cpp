#include "boardstate.h"

namespace quorvid {

std::vector<std::string_view> BoardState::commandsTo(const BoardState& wanted) const
{
    std::vector<std::string_view> out;
    if (speed != wanted.speed) out.push_back(commandOf(wanted.speed));
    if (mode != wanted.mode) out.push_back(commandOf(wanted.mode));
    if (filter != wanted.filter) out.push_back(commandOf(wanted.filter));
    return out;
}

}  // namespace quorvid
