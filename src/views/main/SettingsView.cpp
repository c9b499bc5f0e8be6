#include "views/main/SettingsView.h"

#include "platform/Localization.h"
#include "platform/gui/Symbols.h"
#include "views/main/settings/AdvancedMountTab.h"
#include "views/main/settings/CacheSettingsTab.h"
#include "views/main/settings/LanguageSettingsTab.h"
#include "views/main/settings/LaunchTab.h"
#include "views/main/settings/LoggingTab.h"
#include "views/main/settings/NotificationSettingsTab.h"

#include <QApplication>
#include <QProxyStyle>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

// The desktop's own style with tabs padded a little less, so that six labelled tabs fit the
// window's default width instead of scrolling.
class CompactTabStyle final : public QProxyStyle {
public:
    CompactTabStyle()
        : QProxyStyle(QApplication::style()->name())
    {
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? std::min(value, 12) : value;
    }
};

template <typename T>
T& orShared(T* given, T& (*shared)())
{
    return given ? *given : shared();
}

} // namespace

// No tab reads the share state or the store.
SettingsView::SettingsView(AppStateManager& /*appState*/, NASConfigStore& /*configStore*/,
    LanguageManager& languageManager, const Services& services, QWidget* parent)
    : QWidget(parent)
    , m_languageManager(languageManager)
    , m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("SettingsView"));
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(m_tabs->tabBar());
    m_tabs->tabBar()->setStyle(tabStyle);
    // Every tab in full: longer translations widen the window rather than hide tabs behind arrows.
    m_tabs->tabBar()->setUsesScrollButtons(false);
    m_tabs->tabBar()->setElideMode(Qt::ElideNone);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);

    Defaults& defaults = orShared(services.defaults, &Defaults::standard);
    LogManager& log = orShared(services.log, &LogManager::shared);
    const struct {
        QWidget* tab;
        const char* key;
        const char* defaultText;
        const char* symbol;
    } tabs[] = {
        {new LanguageSettingsTab(m_languageManager), textKey("settings.tab.language"), "语言", "character"},
        {new LaunchTab(defaults, orShared(services.launchAtLogin, &LaunchAtLoginManager::shared)),
            textKey("settings.tab.launch"), "启动", "power"},
        {new NotificationSettingsTab(orShared(services.notifications, &NotificationPreferences::shared)),
            textKey("settings.tab.notifications"), "通知", "bell"},
        {new CacheSettingsTab(defaults, orShared(services.cache, &CacheManager::shared),
             orShared(services.cacheDirectory, &CacheDirectoryManager::shared)),
            textKey("settings.tab.cache"), "缓存", "internaldrive"},
        {new AdvancedMountTab(defaults), textKey("settings.tab.advanced"), "高级", "gearshape.2"},
        {new LoggingTab(log, orShared(services.fileDialogs, &FileDialogs::shared)), textKey("settings.tab.logging"),
            "日志", "doc.text"},
    };
    for (const auto& entry : tabs) {
        const QString symbol = QString::fromLatin1(entry.symbol);
        const int index = m_tabs->addTab(entry.tab, Symbols::icon(symbol),
            Localization::text(QString::fromLatin1(entry.key), QString::fromUtf8(entry.defaultText)));
        m_tabs->tabBar()->setTabData(index, symbol);
    }
    m_tabs->setCurrentIndex(0);
    // The fixed minimum, or more where a translation needs it.
    setMinimumSize(QSize(minimumContentWidth, minimumContentHeight).expandedTo(minimumSizeHint()));
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Opened, not restored from the dock: start at the first tab again.
    if (!event->spontaneous())
        m_tabs->setCurrentIndex(0);
}

} // namespace vantrel
