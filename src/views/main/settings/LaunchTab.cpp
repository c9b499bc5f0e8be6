#include "views/main/settings/LaunchTab.h"

#include "platform/Localization.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/Stepper.h"
#include "views/widgets/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vantrel {

namespace {

// One safeguard of the automatic mounting: its symbol beside a wrapped caption.
QWidget* safeguardRow(const QString& symbol, const QString& text)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* image = new QLabel;
    image->setObjectName(QStringLiteral("safeguardSymbol"));
    image->setFixedWidth(14);
    image->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Theme::setSymbol(image, symbol, Theme::Color::secondary, Theme::symbolSize(Theme::TextStyle::caption));
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("safeguardText"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    Theme::setTextStyle(label, Theme::TextStyle::caption);
    Theme::setTint(label, Theme::Color::secondary);
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

LaunchTab::LaunchTab(Defaults& defaults, LaunchAtLoginManager& launchAtLogin, QWidget* parent)
    : QWidget(parent)
    , m_defaults(defaults)
    , m_loginItem(launchAtLogin)
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("LaunchTab"));

    FormSection* behaviour = page->addSection(
        Localization::text(QStringLiteral("settings.launch.behavior"), QStringLiteral("启动行为")));
    m_launchAtLogin = settings::addToggle(behaviour, launchAtLoginKey,
        Localization::text(QStringLiteral("settings.launch.atLogin"), QStringLiteral("登录时启动")));
    settings::addNote(behaviour,
        Localization::text(QStringLiteral("settings.launch.atLogin.hint"),
            QStringLiteral("开启后，Vantrel 会在系统登录时自动启动并在菜单栏运行。")));

    FormSection* autoMount = page->addSection(
        Localization::text(QStringLiteral("settings.launch.autoMount"), QStringLiteral("自动挂载")));
    m_autoMount = settings::addToggle(autoMount, autoMountKey,
        Localization::text(QStringLiteral("settings.launch.autoMount.toggle"), QStringLiteral("启动时自动挂载")));
    settings::addNote(autoMount,
        Localization::text(QStringLiteral("settings.launch.autoMount.hint"),
            QStringLiteral("开启后，应用启动时会自动挂载所有已启用且网络匹配的 NAS。")));

    auto* safeguards = new QWidget;
    safeguards->setObjectName(QStringLiteral("safeguards"));
    auto* safeguardLayout = new QVBoxLayout(safeguards);
    safeguardLayout->setContentsMargins(0, 4, 0, 0);
    safeguardLayout->setSpacing(4);
    auto* title = new QLabel(
        Localization::text(QStringLiteral("settings.launch.stability.title"), QStringLiteral("稳定性保障机制")));
    title->setObjectName(QStringLiteral("safeguardTitle"));
    title->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(title, Theme::TextStyle::caption);
    safeguardLayout->addWidget(title);
    const struct {
        const char* symbol;
        const char* key;
        const char* defaultText;
    } rows[] = {
        {"wifi.circle", textKey("settings.launch.stability.network"),
            "网络变化防抖：网络切换时等待 2 秒稳定后再评估挂载"},
        {"arrow.clockwise.circle", textKey("settings.launch.stability.retry"),
            "指数退避重试：失败后在 10s→30s→60s→300s 自动重试"},
        {"bed.double.circle", textKey("settings.launch.stability.wake"), "睡眠唤醒监听：系统唤醒后自动重新挂载"},
        {"network", textKey("settings.launch.stability.binding"), "网络绑定检查：仅在匹配的家庭网络下执行自动挂载"},
    };
    for (const auto& row : rows) {
        safeguardLayout->addWidget(safeguardRow(QString::fromLatin1(row.symbol),
            Localization::text(QString::fromLatin1(row.key), QString::fromUtf8(row.defaultText))));
    }
    autoMount->addWideRow(safeguards);

    FormSection* keepAlive = page->addSection(
        Localization::text(QStringLiteral("settings.keepAlive.title"), QStringLiteral("连接保持")));
    m_keepAlive = settings::addToggle(keepAlive, keepAliveEnabledKey,
        Localization::text(QStringLiteral("settings.keepAlive.enabled"), QStringLiteral("启用连接保持")));
    m_interval = new Stepper(60, 600, 60);
    m_interval->setObjectName(keepAliveIntervalKey);
    m_interval->label()->setMinimumWidth(60);
    m_interval->setLabelFunction(&LaunchTab::intervalText);
    m_intervalRow = settings::addTrailingRow(keepAlive,
        Localization::text(QStringLiteral("settings.keepAlive.interval"), QStringLiteral("检查间隔")), m_interval);
    settings::addNote(keepAlive,
        Localization::text(QStringLiteral("settings.keepAlive.hint"),
            QStringLiteral(
                "启用后，Vantrel 会定期检查已挂载 NAS 的连接状态。如果发现连接已断开且仍在家庭网络中，会自动尝试重新挂载。")));

    load();

    connect(m_launchAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        m_defaults.setValue(launchAtLoginKey, on);
        m_loginItem.setEnabled(on);
    });
    connect(m_autoMount, &QCheckBox::toggled, this, [this](bool on) { m_defaults.setValue(autoMountKey, on); });
    connect(m_keepAlive, &QCheckBox::toggled, this, [this](bool on) {
        m_defaults.setValue(keepAliveEnabledKey, on);
        updateIntervalRow();
    });
    connect(m_interval, &Stepper::valueEdited, this,
        [this](double seconds) { m_defaults.setValue(keepAliveIntervalKey, seconds); });
}

QString LaunchTab::intervalText(double seconds)
{
    const qint64 minutes =
        settings::wholeNumber(seconds / 60).value_or(static_cast<qint64>(defaultKeepAliveInterval / 60));
    return Localization::plural(QStringLiteral("%lld min"), QStringLiteral("%lld min"), minutes);
}

void LaunchTab::load()
{
    const QSignalBlocker blockLogin(m_launchAtLogin);
    const QSignalBlocker blockMount(m_autoMount);
    const QSignalBlocker blockKeepAlive(m_keepAlive);
    m_launchAtLogin->setChecked(m_defaults.boolValue(launchAtLoginKey).value_or(false));
    m_autoMount->setChecked(m_defaults.boolValue(autoMountKey).value_or(true));
    m_keepAlive->setChecked(m_defaults.boolValue(keepAliveEnabledKey).value_or(true));
    m_interval->setValue(settings::labelledNumber(m_defaults, keepAliveIntervalKey, defaultKeepAliveInterval));
    updateIntervalRow();
}

void LaunchTab::updateIntervalRow()
{
    settings::setRowVisible(m_intervalRow, m_keepAlive->isChecked());
}

} // namespace vantrel
