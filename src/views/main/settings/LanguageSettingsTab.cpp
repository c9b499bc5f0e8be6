#include "views/main/settings/LanguageSettingsTab.h"

#include "platform/Localization.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vantrel {

LanguageSettingsTab::LanguageSettingsTab(LanguageManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_choices(new QButtonGroup(this))
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("LanguageSettingsTab"));

    FormSection* app = page->addSection(
        Localization::text(QStringLiteral("settings.language.app"), QStringLiteral("应用语言")));
    auto* picker = new QWidget;
    picker->setObjectName(QStringLiteral("languagePicker"));
    auto* pickerLayout = new QVBoxLayout(picker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    const QList<AppLanguage> languages = allCases<AppLanguage>();
    for (qsizetype i = 0; i < languages.size(); ++i) {
        auto* button = new QRadioButton(appLanguageDisplayName(languages.at(i)));
        button->setObjectName(QStringLiteral("language.") + rawValue(languages.at(i)));
        m_choices->addButton(button, int(i));
        pickerLayout->addWidget(button);
    }
    auto* label = new QLabel(
        Localization::text(QStringLiteral("settings.language.select"), QStringLiteral("选择语言")));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    app->form()->addRow(label, picker);
    settings::addNote(app,
        Localization::text(QStringLiteral("settings.language.restartHint"),
            QStringLiteral("切换语言后建议重启应用以确保所有界面完全生效。")));

    FormSection* supported = page->addSection(
        Localization::text(QStringLiteral("settings.language.supported"), QStringLiteral("翻译说明")));
    settings::addNote(supported,
        Localization::text(QStringLiteral("settings.language.disclaimer"),
            QStringLiteral(
                "部分语种的翻译可能尚不完善，缺失的内容将以英语呈现。我们会持续改进，对此带来的不便深表歉意。")),
        Theme::TextStyle::callout);

    showSelection();

    connect(m_choices, &QButtonGroup::idToggled, this, [this, languages](int id, bool checked) {
        // The manager ignores the language it already has, so a repeated choice stores nothing.
        if (checked && id >= 0 && id < languages.size())
            m_manager.setSelectedLanguage(languages.at(id));
    });
    connect(&m_manager, &LanguageManager::selectedLanguageChanged, this, &LanguageSettingsTab::showSelection);
}

QRadioButton* LanguageSettingsTab::choice(AppLanguage language) const
{
    return qobject_cast<QRadioButton*>(m_choices->button(int(allCases<AppLanguage>().indexOf(language))));
}

void LanguageSettingsTab::showSelection()
{
    const QSignalBlocker block(m_choices);
    if (QRadioButton* button = choice(m_manager.selectedLanguage()))
        button->setChecked(true);
}

} // namespace vantrel
