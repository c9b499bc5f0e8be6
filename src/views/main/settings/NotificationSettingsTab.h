#pragma once

#include "mounting/NotificationPreferences.h"

#include <QHash>
#include <QWidget>

class QCheckBox;
class QPushButton;

namespace vantrel {

// The master switch for notifications and one switch per event, with a reset of the events to
// their defaults. Everything lives in the preferences; the tab follows their published changes.
class NotificationSettingsTab final : public QWidget {
    Q_OBJECT

public:
    explicit NotificationSettingsTab(NotificationPreferences& prefs = NotificationPreferences::shared(),
        QWidget* parent = nullptr);

    QCheckBox* masterToggle() const { return m_master; }
    QCheckBox* eventToggle(NotificationEvent event) const { return m_events.value(event); }
    QPushButton* resetButton() const { return m_reset; }

private:
    void loadMaster();
    void loadEvents();

    NotificationPreferences& m_prefs;
    QCheckBox* m_master;
    QHash<NotificationEvent, QCheckBox*> m_events;
    QPushButton* m_reset;
};

} // namespace vantrel
