#pragma once

#include <QString>

namespace vantrel {

// The application's identity, as the bundle's information dictionary would hold it.
struct AppInfo {
    static QString bundleIdentifier();
    static QString version();
    static QString buildNumber();
    static QString displayName();
};

} // namespace vantrel
