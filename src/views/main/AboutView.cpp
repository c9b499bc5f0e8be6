#include "views/main/AboutView.h"

#include "app/WindowRegistry.h"
#include "platform/AppInfo.h"
#include "platform/Localization.h"
#include "platform/gui/Workspace.h"
#include "views/widgets/Theme.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

QString textValue(const QVariantMap& info, const QString& key, const QString& fallback)
{
    const QVariant value = info.value(key);
    // A number or list under the key is not a version; an empty text would leave a gap.
    if (value.typeId() != QMetaType::QString || value.toString().trimmed().isEmpty())
        return fallback;
    return value.toString();
}

} // namespace

QList<AboutView::Link> AboutView::links()
{
    return {
        {QStringLiteral("website"), QStringLiteral("globe"), textKey(QStringLiteral("官网")),
            QUrl(QStringLiteral("https://vantrel.app"))},
        {QStringLiteral("feedback"), QStringLiteral("bubble.left.and.bubble.right"), textKey(QStringLiteral("反馈")),
            QUrl(QStringLiteral("https://vantrel.app/feedback"))},
        {QStringLiteral("documentation"), QStringLiteral("doc.text"), textKey(QStringLiteral("文档")),
            QUrl(QStringLiteral("https://vantrel.app/docs"))},
    };
}

QString AboutView::appVersion(const QVariantMap& info)
{
    return textValue(info, QStringLiteral("CFBundleShortVersionString"), QStringLiteral("0.1.0"));
}

QString AboutView::buildNumber(const QVariantMap& info)
{
    return textValue(info, QStringLiteral("CFBundleVersion"), QStringLiteral("1"));
}

QString AboutView::windowTitle()
{
    return Localization::text(QStringLiteral("window.about.title"), QStringLiteral("关于 Vantrel"));
}

AboutView::AboutView(QWidget* parent)
    : AboutView(AppInfo::infoDictionary(), Workspace::shared(), parent)
{
}

AboutView::AboutView(const QVariantMap& info, Workspace& workspace, QWidget* parent)
    : QWidget(parent)
    , m_workspace(workspace)
{
    setObjectName(QStringLiteral("AboutView"));
    setFixedSize(contentWidth, contentHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 24, 0, 16);
    layout->setSpacing(20);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("icon"));
    Theme::setSymbol(icon, QStringLiteral("externaldrive.connected.to.line.below"), Theme::Color::blue,
        QFontMetrics(Theme::systemFont(64)).height());
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = new QLabel(Localization::text(QStringLiteral("Vantrel"), QStringLiteral("Vantrel")));
    name->setObjectName(QStringLiteral("name"));
    name->setTextFormat(Qt::PlainText);
    name->setFont(Theme::systemFont(24, QFont::DemiBold));
    layout->addWidget(name, 0, Qt::AlignHCenter);

    auto* version = new QLabel(Localization::textFormat(QStringLiteral("Version %@ (%@)"),
        QStringLiteral("Version %@ (%@)"), {appVersion(info), buildNumber(info)}));
    version->setObjectName(QStringLiteral("version"));
    version->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(version, Theme::TextStyle::callout);
    Theme::setTint(version, Theme::Color::secondary);
    layout->addWidget(version, 0, Qt::AlignHCenter);

    auto* divider = new QFrame;
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto* dividerRow = new QHBoxLayout;
    dividerRow->setContentsMargins(40, 0, 40, 0);
    dividerRow->addWidget(divider);
    layout->addLayout(dividerRow);

    auto* linkRow = new QHBoxLayout;
    linkRow->addStretch();
    const int symbolSize = Theme::symbolSize(Theme::TextStyle::callout);
    for (const Link& link : links()) {
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("link.") + link.id);
        button->setText(Localization::text(link.text, link.text));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(link.url.toString());
        button->setProperty("url", link.url);
        Theme::setTextStyle(button, Theme::TextStyle::callout);
        Theme::setTint(button, Theme::Color::accent);
        Theme::setSymbol(button, link.symbol, Theme::Color::accent, symbolSize);
        connect(button, &QToolButton::clicked, this, [this, url = link.url] { m_workspace.open(url); });
        linkRow->addWidget(button);
        m_linkButtons.append(button);
    }
    linkRow->addStretch();
    // Longer link texts close the gaps before any text is cut.
    int linksWidth = 0;
    for (const QToolButton* button : std::as_const(m_linkButtons))
        linksWidth += button->sizeHint().width();
    linkRow->setSpacing(std::clamp((contentWidth - linksWidth) / int(m_linkButtons.size() + 1), 4, 24));
    layout->addLayout(linkRow);
    layout->addStretch();
}

QWidget* AboutView::makeWindow(QWidget* content)
{
    QWidget* window = content ? content : new AboutView;
    window->setParent(nullptr);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(windowTitle());
    centreOnScreen(window);
    return window;
}

QWidget* AboutView::showWindow(Workspace& workspace)
{
    const QString title = windowTitle();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isWindow() && window->windowTitle() == title) {
            bringToFront(window);
            return window;
        }
    }
    // Kept when closed, so the next call finds it again.
    QWidget* window = makeWindow(new AboutView(AppInfo::infoDictionary(), workspace));
    bringToFront(window);
    return window;
}

} // namespace vantrel
