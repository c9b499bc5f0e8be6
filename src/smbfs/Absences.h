#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace vantrel::smbfs {

// Names known not to be on the server, so that the lookups the kernel makes before creating a
// name cost no exchange: a name the server has just said is absent, and any name in a folder
// this mount has just made, other than those made in it since. The knowledge lasts as long as
// the kernel's own caches would keep an answer. Names are compared without ASCII case, as a
// case-insensitive server does; a name with other letters is never answered from here.
// Not thread-safe.
class Absences {
public:
    Absences(int64_t absentFor, int64_t madeFolderFor)
        : m_absentFor(absentFor)
        , m_madeFolderFor(madeFolderFor)
    {
    }

    // The server said path is not there.
    void absent(const std::string& path, int64_t now);
    // This mount made the folder just now: it is empty.
    void madeFolder(const std::string& path, int64_t now);
    // path exists now (made or moved there, or seen on the server).
    void appeared(const std::string& path);
    // from was renamed to to; whatever was known under either is forgotten.
    void moved(const std::string& from, const std::string& to);
    void removedFolder(const std::string& path);
    // How much longer path is known to be absent (in the clock's units), or 0 when not known.
    int64_t absentFor(const std::string& path, int64_t now) const;

    static constexpr size_t kMaxNames = 4096;
    static constexpr size_t kMaxFolders = 256;

private:
    struct Name {
        std::string path;
        int64_t since = 0;
    };
    struct Folder {
        std::string path;
        int64_t since = 0;
        std::unordered_set<std::string> made; // lowered names made in it since
    };
    void forgetUnder(const std::string& lowered);

    int64_t m_absentFor;
    int64_t m_madeFolderFor;
    std::unordered_map<std::string, Name> m_names;     // by lowered path
    std::unordered_map<std::string, Folder> m_folders; // by lowered path
};

} // namespace vantrel::smbfs
