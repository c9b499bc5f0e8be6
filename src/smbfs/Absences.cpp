#include "Absences.h"

#include <algorithm>

namespace vantrel::smbfs {

namespace {

std::string lowered(const std::string& text)
{
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

// Other letters have cases this mount cannot fold as the server does.
bool plainAscii(const std::string& text)
{
    return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x80; });
}

bool under(const std::string& path, const std::string& folder)
{
    return path == folder
        || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

// Room for one more entry: those past their time go first; when none is, nothing more is known.
template <typename Map>
bool makeRoom(Map& map, size_t limit, int64_t lifetime, int64_t now)
{
    if (map.size() >= limit)
        std::erase_if(map, [&](const auto& entry) { return now - entry.second.since >= lifetime; });
    return map.size() < limit;
}

} // namespace

void Absences::absent(const std::string& path, int64_t now)
{
    if (plainAscii(path) && makeRoom(m_names, kMaxNames, m_absentFor, now))
        m_names[lowered(path)] = {path, now};
}

void Absences::madeFolder(const std::string& path, int64_t now)
{
    if (plainAscii(path) && makeRoom(m_folders, kMaxFolders, m_madeFolderFor, now))
        m_folders[lowered(path)] = {path, now, {}};
}

void Absences::appeared(const std::string& path)
{
    if (m_names.empty() && m_folders.empty())
        return;
    const std::string low = lowered(path);
    m_names.erase(low);
    const auto slash = low.rfind('/');
    if (slash == std::string::npos)
        return;
    if (const auto it = m_folders.find(low.substr(0, slash)); it != m_folders.end())
        it->second.made.insert(low.substr(slash + 1));
}

void Absences::forgetUnder(const std::string& low)
{
    std::erase_if(m_names, [&](const auto& entry) { return under(entry.first, low); });
    std::erase_if(m_folders, [&](const auto& entry) { return under(entry.first, low); });
}

void Absences::moved(const std::string& from, const std::string& to)
{
    forgetUnder(lowered(from));
    forgetUnder(lowered(to));
    appeared(to);
}

void Absences::removedFolder(const std::string& path)
{
    forgetUnder(lowered(path));
}

int64_t Absences::absentFor(const std::string& path, int64_t now) const
{
    if (!plainAscii(path))
        return 0;
    const std::string low = lowered(path);
    int64_t left = 0;
    if (const auto it = m_names.find(low); it != m_names.end() && it->second.path == path)
        left = std::max<int64_t>(left, it->second.since + m_absentFor - now);
    const auto slash = low.rfind('/');
    if (slash != std::string::npos) {
        const auto it = m_folders.find(low.substr(0, slash));
        if (it != m_folders.end() && it->second.path == path.substr(0, slash)
            && !it->second.made.count(low.substr(slash + 1)))
            left = std::max<int64_t>(left, it->second.since + m_madeFolderFor - now);
    }
    return left > 0 && left <= std::max(m_absentFor, m_madeFolderFor) ? left : 0;
}

} // namespace vantrel::smbfs
