#pragma once

#include "support/FakePathMonitor.h"
#include "support/MountingFixture.h"
#include "support/RecordingMountControl.h"
#include "support/RecordingWorkspace.h"
#include "support/gui/ScriptedFileDialogs.h"

#include "mounting/MountEngine.h"
#include "mounting/NetworkMonitor.h"
#include "platform/WifiInfo.h"
#include "services/LanguageManager.h"

#include <QMutex>
#include <QString>
#include <QUrl>

#include <optional>

namespace vantrel::test {

// A Wi-Fi source that reports the name the test chose; read on any thread.
class SettableWifi final : public WifiInfo {
public:
    SettableWifi();
    std::optional<QString> currentSSID() const override;
    void setSSID(const std::optional<QString>& ssid);

private:
    mutable QMutex m_mutex;
    std::optional<QString> m_ssid;
};

// A real network monitor over a fake path monitor and Wi-Fi source.
struct NetworkStandIn {
    NetworkStandIn();

    // Publishes an address and Wi-Fi name the way a network change does (address, then name,
    // each announced even when unchanged) and returns once the monitor has applied them. No
    // address means no usable interface.
    void publish(const std::optional<QString>& address, const std::optional<QString>& ssid);

    FakePathMonitor* path;
    SettableWifi* wifi;
    NetworkMonitor monitor;
};

// Everything a window's content observes and calls, private to one test: a temporary defaults
// file, configuration store, state manager, keychain and logger, the network stand-in, a
// recording mount control, workspace and file panels, a language manager, and a mount engine on
// the stand-in tools (its connection test runs tests/tools/ping). No translation
// catalog is loaded, so the views show their default texts whatever the machine's language.
struct ViewFixture : TemporaryFolder, ConfigEnvironment {
    ViewFixture();

    NetworkStandIn network;
    RecordingMountControl mounts;
    RecordingWorkspace workspace;
    ScriptedFileDialogs fileDialogs;
    LanguageManager languageManager;
    MountEngine engine;

    // Stores an enabled guest share bound to any address (the store gives it an idle status).
    NASConfig addShare(const QString& name, const QString& address = QStringLiteral("192.168.1.10"));
    NASConfig addShare(NASConfig config);
    void setState(const NASConfig& config, const MountState& state,
        const std::optional<QUrl>& mountPoint = std::nullopt);

    // Loads shares, their statuses and the network from a sample file:
    //   {"network": {"address": "...", "ssid": "..."},
    //    "shares": [{"config": <stored configuration>, "status": {"state": "mounted",
    //                "mountPoint": "/path", "error": "text"}}]}
    // The states are idle, mounting, mounted, unmounting, offline and failed (its error is a
    // mount failure with the given text). False with a description when the file is unusable.
    bool loadSample(const QString& path, QString* error);
};

} // namespace vantrel::test
