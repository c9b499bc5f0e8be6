#include "views/browser/ConflictResolutionSheet.h"

#include "platform/Localization.h"
#include "views/widgets/Theme.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

ConflictResolutionSheet::ConflictResolutionSheet(const QString& filename, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_filename(filename)
{
    setObjectName(QStringLiteral("ConflictResolutionSheet"));
    setWindowModality(Qt::WindowModal);
    const QString title = Localization::text(QStringLiteral("browser.fileExists"),
        QStringLiteral("File already exists"));
    setWindowTitle(title);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    // Fixed: the message's fixed width makes the sheet sheetWidth wide, its lines make it tall.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* icon = Theme::symbolLabel(QStringLiteral("exclamationmark.triangle"), Theme::Color::orange,
        QFontMetrics(Theme::systemFont(32)).height());
    icon->setObjectName(QStringLiteral("icon"));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto* heading = new QLabel(title);
    heading->setObjectName(QStringLiteral("title"));
    heading->setTextFormat(Qt::PlainText);
    heading->setAlignment(Qt::AlignCenter);
    Theme::setTextStyle(heading, Theme::TextStyle::headline);
    layout->addWidget(heading);

    auto* message = new QLabel(Localization::textFormat(QStringLiteral("browser.fileExistsMessage"),
        QStringLiteral("\"%@\" already exists in this location."), {filename}));
    message->setObjectName(QStringLiteral("message"));
    message->setTextFormat(Qt::PlainText);
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);
    // The label must know its width to wrap; the sheet's width is fixed.
    message->setFixedWidth(sheetWidth - 2 * 24);
    Theme::setTextStyle(message, Theme::TextStyle::subheadline);
    Theme::setTint(message, Theme::Color::secondary);
    layout->addWidget(message);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    const auto makeButton = [this](const QString& text, const QString& name, ConflictResolution resolution) {
        auto* button = new QPushButton(text);
        button->setObjectName(name);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, resolution] { choose(resolution); });
        return button;
    };
    m_skip = makeButton(Localization::text(QStringLiteral("browser.skip"), QStringLiteral("Skip")),
        QStringLiteral("skip"), ConflictResolution::skip);
    m_rename = makeButton(Localization::text(QStringLiteral("browser.rename"), QStringLiteral("Rename")),
        QStringLiteral("rename"), ConflictResolution::rename);
    m_overwrite = makeButton(Localization::text(QStringLiteral("browser.overwrite"), QStringLiteral("Overwrite")),
        QStringLiteral("overwrite"), ConflictResolution::overwrite);
    m_overwrite->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_skip);
    buttons->addWidget(m_rename);
    buttons->addWidget(m_overwrite);
    buttons->addStretch();
    layout->addLayout(buttons);
}

QPushButton* ConflictResolutionSheet::button(ConflictResolution resolution) const
{
    switch (resolution) {
    case ConflictResolution::overwrite: return m_overwrite;
    case ConflictResolution::rename: return m_rename;
    case ConflictResolution::skip: return m_skip;
    }
    return nullptr;
}

void ConflictResolutionSheet::choose(ConflictResolution resolution)
{
    if (m_answered)
        return;
    m_answered = true;
    emit resolved(resolution);
    accept();
}

void ConflictResolutionSheet::reject()
{
    // No cancel: the file is neither queued nor dropped until the user says which.
}

void ConflictResolutionSheet::closeEvent(QCloseEvent* event)
{
    if (!m_answered)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

} // namespace vantrel
