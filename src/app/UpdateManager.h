#pragma once

#include <QUrl>

#include <optional>

namespace vantrel {

class LogManager;
class Workspace;

// The update-check entry point. No updater framework is built in: a check points the user at
// the product's web page.
class UpdateManager final {
public:
    // The workspace shows the page in the default browser; tests record the request instead.
    UpdateManager(LogManager& log, Workspace& workspace);

    static UpdateManager& shared();

    bool isInitialized() const { return m_isInitialized; }
    std::optional<QUrl> feedURL() const { return m_feedURL; }

    // Only the first call takes effect.
    void configure(const QUrl& feedURL);
    void checkForUpdates();

    // The URL two path levels above `url` (the feed ".../updates/appcast.xml" gives the host's root).
    static QUrl productPage(const QUrl& feedURL);

private:
    LogManager& m_log;
    Workspace& m_workspace;
    bool m_isInitialized = false;
    std::optional<QUrl> m_feedURL;
};

} // namespace vantrel
