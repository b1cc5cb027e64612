#include "symboliclink.h"

#include <system_error>

namespace quorvid::sim {

namespace fs = std::filesystem;

SymbolicLink::SymbolicLink(fs::path link, fs::path target) : m_link(std::move(link)), m_target(std::move(target))
{
}

std::unique_ptr<SymbolicLink> SymbolicLink::create(const fs::path& link, const fs::path& target, std::string* error)
{
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(link, ec);
    if (fs::is_symlink(st)) {
        fs::remove(link, ec);
    } else if (fs::exists(st)) {
        if (error) *error = link.string() + " exists and is not a symbolic link; not replacing it";
        return nullptr;
    }
    ec.clear();
    fs::create_symlink(target, link, ec);
    if (ec) {
        if (error) *error = link.string() + ": " + ec.message();
        return nullptr;
    }
    return std::unique_ptr<SymbolicLink>(new SymbolicLink(link, target));
}

SymbolicLink::~SymbolicLink()
{
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(m_link, ec)) && fs::read_symlink(m_link, ec) == m_target)
        fs::remove(m_link, ec);
}

}  // namespace quorvid::sim
