#include "views/main/MainWindowToolbar.h"

#include "platform/Localization.h"
#include "views/widgets/Theme.h"

#include <QToolButton>

namespace vantrel {

MainWindowToolbar::MainWindowToolbar(QWidget* parent)
    : QToolBar(parent)
{
    setObjectName(QStringLiteral("toolbar"));
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    const int iconSize = Theme::symbolSize(Theme::TextStyle::title3);
    setIconSize(QSize(iconSize, iconSize));

    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);

    const auto addButton = [&](const QString& name, const QString& symbol, const QString& tooltip,
                               void (MainWindowToolbar::*request)()) {
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setAutoRaise(true);
        button->setToolTip(tooltip);
        button->setFocusPolicy(Qt::StrongFocus);
        Theme::setSymbol(button, symbol, Theme::Color::primary, iconSize);
        connect(button, &QToolButton::clicked, this, request);
        addWidget(button);
        return button;
    };
    QToolButton* about = addButton(QStringLiteral("toolbar.about"), QStringLiteral("info.circle"),
        Localization::text(QStringLiteral("main.about"), QStringLiteral("关于 Vantrel")),
        &MainWindowToolbar::aboutRequested);
    QToolButton* settings = addButton(QStringLiteral("toolbar.settings"), QStringLiteral("gear"),
        Localization::text(QStringLiteral("main.openSettings"), QStringLiteral("打开设置")),
        &MainWindowToolbar::settingsRequested);
    // The symbol-only buttons are named by their tooltips, the add button by its title.
    about->setAccessibleName(about->toolTip());
    settings->setAccessibleName(settings->toolTip());
    QToolButton* add = addButton(QStringLiteral("toolbar.add"), QStringLiteral("plus"),
        Localization::text(QStringLiteral("main.addNASTooltip"), QStringLiteral("添加新的 NAS 配置")),
        &MainWindowToolbar::addRequested);
    // The primary action carries its title beside the symbol.
    add->setText(Localization::text(QStringLiteral("main.addNAS"), QStringLiteral("添加 NAS")));
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

} // namespace vantrel
