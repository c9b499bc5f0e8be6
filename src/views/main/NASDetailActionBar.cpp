#include "views/main/NASDetailActionBar.h"

#include "platform/Localization.h"
#include "views/main/NASDetailForm.h"
#include "views/widgets/BusyButton.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/Spinner.h"
#include "views/widgets/Theme.h"
#include "views/widgets/WrapLayout.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vantrel {

bool TestConnectionResult::operator==(const TestConnectionResult& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::success: return latency == other.latency;
    case Kind::failure: return message == other.message;
    case Kind::testing: return true;
    }
    return false;
}

namespace {

QPushButton* makeButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    NASDetailForm::neverDefault(button);
    return button;
}

// The accent-filled look of the form's main action; a disabled button keeps the style's dimmed one.
void makeProminent(QPushButton* button)
{
    QPalette palette = button->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, palette.color(group, QPalette::Highlight));
        palette.setColor(group, QPalette::ButtonText, palette.color(group, QPalette::HighlightedText));
    }
    button->setPalette(palette);
    button->setProperty("prominent", true);
}

} // namespace

NASDetailActionBar::NASDetailActionBar(bool showsClose, QWidget* parent)
    : QWidget(parent)
    , m_resultLine(new QWidget(this))
    , m_resultSpinner(new Spinner(m_resultLine, Theme::symbolSize(Theme::TextStyle::caption)))
    , m_resultSymbol(new QLabel(m_resultLine))
    , m_resultText(new ElidedLabel({}, m_resultLine))
    , m_divider(new QFrame(this))
    , m_test(new BusyButton(Localization::text(QStringLiteral("nas.testConnection"), QStringLiteral("测试连接")), this))
    , m_mounting(new BusyButton(Localization::text(QStringLiteral("nas.mounting"), QStringLiteral("挂载中...")), this))
    , m_mount(makeButton(Localization::text(QStringLiteral("nas.mount"), QStringLiteral("挂载")),
          QStringLiteral("mountButton"), this))
    , m_mountedControls(new QWidget(this))
    , m_openInFinder(makeButton(Localization::text(QStringLiteral("nas.openInFinder"), QStringLiteral("Finder")),
          QStringLiteral("openInFinderButton"), m_mountedControls))
    , m_unmount(makeButton(Localization::text(QStringLiteral("nas.unmount"), QStringLiteral("卸载")),
          QStringLiteral("unmountButton"), m_mountedControls))
    , m_save(makeButton(Localization::text(QStringLiteral("common.save"), QStringLiteral("保存")),
          QStringLiteral("saveButton"), this))
{
    setObjectName(QStringLiteral("NASDetailActionBar"));
    const int horizontal = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    m_resultLine->setObjectName(QStringLiteral("testResultLine"));
    Theme::setTextStyle(m_resultLine, Theme::TextStyle::caption);
    m_resultText->setObjectName(QStringLiteral("testResultText"));
    m_resultSymbol->setObjectName(QStringLiteral("testResultSymbol"));
    Theme::setTint(m_resultSpinner, Theme::Color::secondary);
    auto* resultLayout = new QHBoxLayout(m_resultLine);
    resultLayout->setContentsMargins(horizontal, 4, horizontal, 4);
    resultLayout->setSpacing(6);
    resultLayout->addWidget(m_resultSpinner, 0, Qt::AlignVCenter);
    resultLayout->addWidget(m_resultSymbol, 0, Qt::AlignVCenter);
    resultLayout->addWidget(m_resultText, 1, Qt::AlignVCenter);
    layout->addWidget(m_resultLine);

    m_divider->setObjectName(QStringLiteral("testResultDivider"));
    m_divider->setFrameShape(QFrame::HLine);
    m_divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(m_divider);

    // Close and Save keep to the right; a narrow window moves them to a line of their own.
    auto* row = new WrapLayout;
    row->setContentsMargins(horizontal, 8, horizontal, 12);
    row->setSpacing(12);
    row->setLineSpacing(8);

    m_test->setObjectName(QStringLiteral("testButton"));
    row->addWidget(m_test);

    m_mounting->setObjectName(QStringLiteral("mountingButton"));
    m_mounting->setBusy(true);
    m_mounting->setEnabled(false);
    row->addWidget(m_mounting);
    row->addWidget(m_mount);

    m_mountedControls->setObjectName(QStringLiteral("mountedControls"));
    auto* mounted = new QHBoxLayout(m_mountedControls);
    mounted->setContentsMargins(0, 0, 0, 0);
    mounted->setSpacing(8);
    Theme::setSymbol(m_openInFinder, QStringLiteral("arrow.up.forward.app"), Theme::Color::primary,
        style()->pixelMetric(QStyle::PM_SmallIconSize));
    mounted->addWidget(m_openInFinder);
    mounted->addWidget(m_unmount);
    row->addWidget(m_mountedControls);

    if (showsClose) {
        m_close = makeButton(Localization::text(QStringLiteral("common.close"), QStringLiteral("关闭")),
            QStringLiteral("closeButton"), this);
        row->addTrailingWidget(m_close);
    }
    makeProminent(m_save);
    row->addTrailingWidget(m_save);
    layout->addLayout(row);

    setTestResult(std::nullopt);
    setMountControls(MountControls::none);
}

void NASDetailActionBar::setTestResult(const std::optional<TestConnectionResult>& result)
{
    // The divider parts the result line from the row; without the line the page's own separator
    // above the bar is enough.
    m_resultLine->setVisible(result.has_value());
    m_divider->setVisible(result.has_value());
    m_test->setBusy(result && result->kind == TestConnectionResult::Kind::testing);
    if (!result)
        return;

    const int symbolSize = Theme::symbolSize(Theme::TextStyle::caption);
    m_resultText->setFullText(resultText(*result));
    switch (result->kind) {
    case TestConnectionResult::Kind::testing:
        m_resultSpinner->show();
        m_resultSymbol->hide();
        m_resultText->setMaximumLines(1);
        Theme::setTint(m_resultText, Theme::Color::secondary);
        break;
    case TestConnectionResult::Kind::success:
        m_resultSpinner->hide();
        Theme::setSymbol(m_resultSymbol, QStringLiteral("checkmark.circle.fill"), Theme::Color::green, symbolSize);
        m_resultSymbol->show();
        m_resultText->setMaximumLines(1);
        Theme::setTint(m_resultText, Theme::Color::green);
        break;
    case TestConnectionResult::Kind::failure:
        m_resultSpinner->hide();
        Theme::setSymbol(m_resultSymbol, QStringLiteral("xmark.circle.fill"), Theme::Color::red, symbolSize);
        m_resultSymbol->show();
        m_resultText->setMaximumLines(2);
        Theme::setTint(m_resultText, Theme::Color::red);
        break;
    }
}

void NASDetailActionBar::setMountControls(MountControls controls)
{
    m_mounting->setVisible(controls == MountControls::busy);
    m_mount->setVisible(controls == MountControls::mount);
    m_mountedControls->setVisible(controls == MountControls::mounted);
}

void NASDetailActionBar::setTestEnabled(bool enabled)
{
    m_test->setEnabled(enabled);
}

void NASDetailActionBar::setSaveEnabled(bool enabled)
{
    m_save->setEnabled(enabled);
}

QString NASDetailActionBar::resultText(const TestConnectionResult& result)
{
    switch (result.kind) {
    case TestConnectionResult::Kind::testing:
        return Localization::text(QStringLiteral("nas.testingConnection"), QStringLiteral("正在测试连接..."));
    case TestConnectionResult::Kind::success:
        return Localization::textFormat(QStringLiteral("nas.connectionSuccess"),
            QStringLiteral("连接成功（延迟 %@ms）"), {QString::asprintf("%.0f", result.latency * 1000.0)});
    case TestConnectionResult::Kind::failure:
        return Localization::textFormat(QStringLiteral("nas.connectionFailed"), QStringLiteral("连接失败：%@"),
            {result.message});
    }
    return {};
}

} // namespace vantrel
