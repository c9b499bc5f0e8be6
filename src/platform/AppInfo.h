#pragma once

#include <QString>
#include <QVariantMap>

namespace vantrel {

// The application's identity, as the bundle's information dictionary would hold it.
struct AppInfo {
    static QString bundleIdentifier();
    static QString version();
    static QString buildNumber();
    static QString displayName();
    // The name of the application's icon in the icon theme and of its desktop entry (without
    // ".desktop"): the bundle identifier.
    static QString iconName();
    // Where `cmake --install` (or the package) puts the executable.
    static QString installedExecutable();
    // The same as the bundle's information dictionary: "CFBundleIdentifier", "CFBundleName",
    // "CFBundleShortVersionString" and "CFBundleVersion".
    static QVariantMap infoDictionary();
};

} // namespace vantrel
