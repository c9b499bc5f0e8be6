#pragma once

#include "services/LanguageManager.h"

#include <QWidget>

class QButtonGroup;
class QRadioButton;

namespace vantrel {

// The interface language: the system's or one of nine fixed languages. The language manager
// stores and applies the choice; the tab follows it, also when it changes elsewhere.
class LanguageSettingsTab final : public QWidget {
    Q_OBJECT

public:
    explicit LanguageSettingsTab(LanguageManager& manager = LanguageManager::shared(), QWidget* parent = nullptr);

    QRadioButton* choice(AppLanguage language) const;

private:
    void showSelection();

    LanguageManager& m_manager;
    QButtonGroup* m_choices;
};

} // namespace vantrel
