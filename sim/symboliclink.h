// A symbolic link to the line's near end, so that a script can name the port
// before it knows which pseudo-terminal the board got. It goes away with the
// board.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace quorvid::sim {

class SymbolicLink {
public:
    // Makes link point to target. A symbolic link already at that path (left
    // by an earlier run) is replaced; any other file is not touched and the
    // call fails with the reason in error.
    static std::unique_ptr<SymbolicLink> create(const std::filesystem::path& link,
                                                const std::filesystem::path& target, std::string* error);

    // Removes the link, unless something else has taken its place meanwhile.
    ~SymbolicLink();

    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;

private:
    SymbolicLink(std::filesystem::path link, std::filesystem::path target);

    std::filesystem::path m_link;
    std::filesystem::path m_target;
};

}  // namespace quorvid::sim
