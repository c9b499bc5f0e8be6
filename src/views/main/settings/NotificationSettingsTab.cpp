#include "views/main/settings/NotificationSettingsTab.h"

#include "platform/Localization.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace vantrel {

namespace {

QString eventSymbol(NotificationEvent event)
{
    switch (event) {
    case NotificationEvent::mountSuccess: return QStringLiteral("checkmark.circle");
    case NotificationEvent::mountFailure: return QStringLiteral("xmark.octagon");
    case NotificationEvent::unmount: return QStringLiteral("eject");
    case NotificationEvent::networkChange: return QStringLiteral("wifi");
    case NotificationEvent::transferComplete: return QStringLiteral("arrow.up.arrow.down.circle");
    case NotificationEvent::transferFailed: return QStringLiteral("exclamationmark.triangle");
    case NotificationEvent::cacheCleanup: return QStringLiteral("trash");
    }
    return {};
}

} // namespace

NotificationSettingsTab::NotificationSettingsTab(NotificationPreferences& prefs, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("NotificationSettingsTab"));

    FormSection* global = page->addSection(
        Localization::text(QStringLiteral("settings.notification.global"), QStringLiteral("全局设置")));
    m_master = settings::addToggle(global, NotificationPreferences::globalKey,
        Localization::text(QStringLiteral("settings.notification.enableAll"), QStringLiteral("启用所有通知")));
    settings::addNote(global,
        Localization::text(QStringLiteral("settings.notification.systemHint"),
            QStringLiteral("请确保在系统设置中允许 Vantrel 发送通知。")));

    FormSection* events = page->addSection(
        Localization::text(QStringLiteral("settings.notification.events"), QStringLiteral("事件通知")));
    const int symbolSize = Theme::symbolSize(Theme::TextStyle::body);
    for (NotificationEvent event : allCases<NotificationEvent>()) {
        const QString raw = rawValue(event);
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("event.") + raw);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto* image = new QLabel;
        image->setFixedWidth(20);
        image->setAlignment(Qt::AlignCenter);
        Theme::setSymbol(image, eventSymbol(event), Theme::Color::secondary, symbolSize);
        auto* name = new QLabel(notificationEventDisplayName(event));
        name->setTextFormat(Qt::PlainText);
        auto* toggle = new QCheckBox;
        toggle->setObjectName(NotificationPreferences::eventKey(event));
        toggle->setAccessibleName(name->text());
        name->setBuddy(toggle);
        rowLayout->addWidget(image);
        rowLayout->addWidget(name);
        rowLayout->addStretch(1);
        rowLayout->addWidget(toggle);
        events->addWideRow(row);
        m_events.insert(event, toggle);
        connect(toggle, &QCheckBox::toggled, this, [this, event](bool on) { m_prefs.setEnabled(on, event); });
    }

    FormSection* actions = page->addSection();
    m_reset = new QPushButton(
        Localization::text(QStringLiteral("settings.notification.reset"), QStringLiteral("恢复默认")));
    m_reset->setObjectName(QStringLiteral("reset"));
    m_reset->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    Theme::setTint(m_reset, Theme::Color::accent);
    actions->addWideRow(m_reset);

    loadMaster();
    loadEvents();

    connect(m_master, &QCheckBox::toggled, this, [this](bool on) { m_prefs.setGlobalEnabled(on); });
    connect(m_reset, &QPushButton::clicked, this, [this] { m_prefs.resetToDefaults(); });
    connect(&m_prefs, &NotificationPreferences::globalEnabledChanged, this, &NotificationSettingsTab::loadMaster);
    connect(&m_prefs, &NotificationPreferences::eventStatesChanged, this, &NotificationSettingsTab::loadEvents);
}

void NotificationSettingsTab::loadMaster()
{
    const QSignalBlocker block(m_master);
    m_master->setChecked(m_prefs.globalEnabled());
}

void NotificationSettingsTab::loadEvents()
{
    // A row shows the event's own choice, whatever the master switch says.
    const NotificationEventStates states = m_prefs.eventStates();
    for (auto it = m_events.constBegin(); it != m_events.constEnd(); ++it) {
        const QSignalBlocker block(it.value());
        it.value()->setChecked(states.value(it.key(), notificationEventDefaultState(it.key())));
    }
}

} // namespace vantrel
