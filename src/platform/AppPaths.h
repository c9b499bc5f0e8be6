#pragma once

#include <QString>

namespace vantrel {

// The application's own folders in the user's XDG folders (tests point XDG_*_HOME elsewhere).
class AppPaths final {
public:
    AppPaths() = delete;

    // "Application Support/Vantrel": logs, crash reports, usage records.
    static QString dataDirectory();
    // "Caches/Vantrel": what can be fetched again.
    static QString cacheDirectory();
    // The settings' folder.
    static QString configDirectory();
};

} // namespace vantrel
