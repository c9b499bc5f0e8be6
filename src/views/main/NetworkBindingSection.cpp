#include "views/main/NetworkBindingSection.h"

#include "mounting/NetworkMonitor.h"
#include "platform/Localization.h"
#include "views/main/NASDetailForm.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/PromptField.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Theme.h"
#include "views/widgets/WrapLayout.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QPushButton* smallButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    NASDetailForm::neverDefault(button);
    Theme::setTextStyle(button, Theme::TextStyle::callout);
    return button;
}

} // namespace

NetworkBindingSection::NetworkBindingSection(FormSection* section, NetworkMonitor& network,
    const NetworkBindingConfig& binding)
    : QObject(section)
    , m_section(section)
    , m_network(network)
    , m_strategy(binding.strategy)
    , m_ssids(binding.ssidList)
    , m_strategyPicker(new SegmentedControl({}, section))
    , m_ipRange(new PromptField(binding.ipRange, section))
    , m_presets(new QWidget(section))
    , m_currentNetworkRow(new QWidget(section))
    , m_currentNetwork(NASDetailForm::caption({}, m_currentNetworkRow))
    , m_ssidList(new QListWidget(section))
    , m_addRow(new QWidget(section))
    , m_newSSID(new PromptField({}, m_addRow))
    , m_addSSID(new QPushButton(Localization::text(QStringLiteral("common.add"), QStringLiteral("添加")), m_addRow))
{
    setObjectName(QStringLiteral("NetworkBindingSection"));
    QFormLayout* form = section->form();

    QList<SegmentedControl::Option> strategies;
    for (const NetworkBindingStrategy strategy : allCases<NetworkBindingStrategy>())
        strategies.append({rawValue(strategy), displayName(strategy), {}});
    m_strategyPicker->setObjectName(QStringLiteral("strategyPicker"));
    m_strategyPicker->setOptions(strategies);
    m_strategyPicker->setValue(rawValue(m_strategy));
    connect(m_strategyPicker, &SegmentedControl::activated, this, [this](const QString& value) {
        if (const auto strategy = fromRawValue<NetworkBindingStrategy>(value))
            setStrategy(*strategy);
    });
    form->addRow(Localization::text(QStringLiteral("nas.networkBinding.strategy"), QStringLiteral("绑定策略")),
        m_strategyPicker);

    m_ipRange->setObjectName(QStringLiteral("ipRangeField"));
    m_ipRange->setPlaceholderText(Localization::text(QStringLiteral("nas.networkBinding.ipRange.placeholder"),
        QStringLiteral("例如：192.168.3.0/24")));
    // The field fills itself in whenever it comes on screen empty.
    m_ipRange->installEventFilter(this);
    form->addRow(Localization::text(QStringLiteral("nas.networkBinding.ipRange"), QStringLiteral("IP 范围（CIDR）")),
        m_ipRange);

    m_presets->setObjectName(QStringLiteral("ipRangePresets"));
    auto* presets = new WrapLayout(m_presets);
    presets->setContentsMargins(0, 0, 0, 0);
    presets->setSpacing(8);
    auto* currentNetwork = smallButton(
        Localization::text(QStringLiteral("nas.networkBinding.preset.currentNetwork"), QStringLiteral("当前网络")),
        QStringLiteral("presetCurrentNetwork"), m_presets);
    auto* allNetworks = smallButton(
        Localization::text(QStringLiteral("nas.networkBinding.preset.allNetworks"), QStringLiteral("全部网络")),
        QStringLiteral("presetAllNetworks"), m_presets);
    auto* currentIP = smallButton(
        Localization::text(QStringLiteral("nas.networkBinding.preset.currentIP"), QStringLiteral("当前IP")),
        QStringLiteral("presetCurrentIP"), m_presets);
    connect(currentNetwork, &QPushButton::clicked, this, &NetworkBindingSection::applyCurrentNetworkPreset);
    connect(allNetworks, &QPushButton::clicked, this, &NetworkBindingSection::applyAllNetworksPreset);
    connect(currentIP, &QPushButton::clicked, this, &NetworkBindingSection::applyCurrentAddressPreset);
    presets->addWidget(currentNetwork);
    presets->addWidget(allNetworks);
    presets->addWidget(currentIP);
    form->addRow(static_cast<QWidget*>(nullptr), m_presets);

    m_currentNetwork->setObjectName(QStringLiteral("currentNetworkLabel"));
    m_currentNetworkRow->setObjectName(QStringLiteral("currentNetworkRow"));
    auto* currentNetworkLayout = new QVBoxLayout(m_currentNetworkRow);
    currentNetworkLayout->setContentsMargins(0, 0, 0, 0);
    currentNetworkLayout->addWidget(m_currentNetwork);
    section->addIndentedRow(m_currentNetworkRow);

    m_ssidList->setObjectName(QStringLiteral("ssidList"));
    m_ssidList->setFixedHeight(ssidListHeight);
    m_ssidList->setSelectionMode(QAbstractItemView::NoSelection);
    m_ssidList->setFocusPolicy(Qt::NoFocus);
    m_ssidList->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    form->addRow(static_cast<QWidget*>(nullptr), m_ssidList);

    m_addRow->setObjectName(QStringLiteral("ssidAddRow"));
    auto* addRow = new QHBoxLayout(m_addRow);
    addRow->setContentsMargins(0, 0, 0, 0);
    const QString addLabel = Localization::text(QStringLiteral("nas.networkBinding.ssid.add"),
        QStringLiteral("添加 WiFi 名称"));
    m_newSSID->setObjectName(QStringLiteral("newSSIDField"));
    m_newSSID->setPlaceholderText(addLabel);
    m_newSSID->setAccessibleName(addLabel);
    m_addSSID->setObjectName(QStringLiteral("addSSIDButton"));
    NASDetailForm::neverDefault(m_addSSID);
    connect(m_newSSID, &QLineEdit::returnPressed, this, &NetworkBindingSection::addSSID);
    connect(m_newSSID, &QLineEdit::textChanged, this, &NetworkBindingSection::updateAddButton);
    connect(m_addSSID, &QPushButton::clicked, this, &NetworkBindingSection::addSSID);
    addRow->addWidget(m_newSSID, 1);
    addRow->addWidget(m_addSSID);
    form->addRow(static_cast<QWidget*>(nullptr), m_addRow);

    auto* hint = NASDetailForm::caption(Localization::text(QStringLiteral("nas.networkBinding.hint"),
                                            QStringLiteral("仅在匹配的网络环境下自动挂载此 NAS。手动挂载不受限制。")),
        section);
    hint->setObjectName(QStringLiteral("networkBindingHint"));
    section->addWideRow(hint);

    // The line shows the network as it is whenever the section comes on screen or the network
    // changes.
    section->installEventFilter(this);
    connect(&m_network, &NetworkMonitor::currentIPAddressChanged, this, &NetworkBindingSection::refreshCurrentNetwork);

    rebuildSSIDList();
    updateAddButton();
    updateBlocks();
}

NetworkBindingConfig NetworkBindingSection::binding() const
{
    NetworkBindingConfig binding;
    binding.strategy = m_strategy;
    binding.ipRange = m_ipRange->text();
    binding.ssidList = m_ssids;
    return binding;
}

QString NetworkBindingSection::ipRange() const
{
    return m_ipRange->text();
}

void NetworkBindingSection::setStrategy(NetworkBindingStrategy strategy)
{
    m_strategy = strategy;
    m_strategyPicker->setValue(rawValue(strategy));
    updateBlocks();
}

void NetworkBindingSection::updateBlocks()
{
    const bool ip = m_strategy != NetworkBindingStrategy::ssid;
    const bool wifi = m_strategy != NetworkBindingStrategy::ipRange;
    QFormLayout* form = m_section->form();
    for (QWidget* row : {static_cast<QWidget*>(m_ipRange), m_presets, m_currentNetworkRow})
        form->setRowVisible(row, ip);
    for (QWidget* row : {static_cast<QWidget*>(m_ssidList), m_addRow})
        form->setRowVisible(row, wifi);
    refreshCurrentNetwork();
}

QString NetworkBindingSection::trimSpacesAndTabs(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

void NetworkBindingSection::addSSID()
{
    const QString name = trimSpacesAndTabs(m_newSSID->text());
    if (name.isEmpty())
        return;
    if (!m_ssids.contains(name, Qt::CaseSensitive)) {
        m_ssids.append(name);
        rebuildSSIDList();
    }
    m_newSSID->clear();
}

void NetworkBindingSection::removeSSID(const QString& name)
{
    if (m_ssids.removeAll(name) > 0)
        rebuildSSIDList();
}

void NetworkBindingSection::rebuildSSIDList()
{
    m_ssidList->clear();
    const int symbolSize = Theme::symbolSize(Theme::TextStyle::body);
    for (const QString& name : std::as_const(m_ssids)) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("ssidRow"));
        row->setProperty("ssid", name);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(6, 2, 6, 2);
        auto* symbol = new QLabel(row);
        Theme::setSymbol(symbol, QStringLiteral("wifi"), Theme::Color::secondary, symbolSize);
        auto* text = new QLabel(name, row);
        text->setObjectName(QStringLiteral("ssidName"));
        text->setTextFormat(Qt::PlainText);
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("removeSSIDButton"));
        remove->setAutoRaise(true);
        // Only a symbol: its name and tooltip say what it does, and the keyboard reaches it.
        const QString removeText = Localization::textFormat(QStringLiteral("nas.networkBinding.ssid.remove"),
            QStringLiteral("Remove %@"), {name});
        remove->setToolTip(removeText);
        remove->setAccessibleName(removeText);
        remove->setFocusPolicy(Qt::StrongFocus);
        Theme::setSymbol(remove, QStringLiteral("minus.circle.fill"), Theme::Color::red, symbolSize);
        // Queued: the removal rebuilds the list and so deletes the button that was clicked.
        connect(remove, &QToolButton::clicked, this, [this, name] {
            QMetaObject::invokeMethod(
                this, [this, name] { removeSSID(name); }, Qt::QueuedConnection);
        });
        layout->addWidget(symbol);
        layout->addWidget(text);
        layout->addStretch(1);
        layout->addWidget(remove);

        auto* item = new QListWidgetItem(m_ssidList);
        item->setData(Qt::UserRole, name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setSizeHint(row->sizeHint());
        m_ssidList->setItemWidget(item, row);
    }
}

void NetworkBindingSection::updateAddButton()
{
    m_addSSID->setEnabled(!trimSpacesAndTabs(m_newSSID->text()).isEmpty());
}

std::optional<QString> NetworkBindingSection::currentSubnet() const
{
    const std::optional<IPv4Info> ipv4 = m_network.currentIPv4();
    return ipv4 ? std::optional<QString>(ipv4->subnet) : std::nullopt;
}

QString NetworkBindingSection::currentNetworkValue() const
{
    if (const std::optional<QString> subnet = currentSubnet())
        return *subnet;
    if (const std::optional<QString> address = m_network.currentIPAddress())
        return *address;
    return unknownNetwork;
}

void NetworkBindingSection::refreshCurrentNetwork()
{
    m_currentNetwork->setText(Localization::textFormat(QStringLiteral("nas.networkBinding.currentIP"),
        QStringLiteral("当前网络：%@"), {currentNetworkValue()}));
}

void NetworkBindingSection::applyCurrentNetworkPreset()
{
    m_ipRange->setText(currentSubnet().value_or(QString()));
    refreshCurrentNetwork();
}

void NetworkBindingSection::applyAllNetworksPreset()
{
    m_ipRange->setText(allNetworksRange);
}

void NetworkBindingSection::applyCurrentAddressPreset()
{
    const std::optional<QString> address = m_network.currentIPAddress();
    m_ipRange->setText(address ? *address + QStringLiteral("/32") : QString());
}

bool NetworkBindingSection::eventFilter(QObject* watched, QEvent* event)
{
    // A window coming back from the task bar is not the field appearing anew.
    if (event->type() == QEvent::Show && !event->spontaneous()) {
        if (watched == m_ipRange && m_ipRange->text().isEmpty()) {
            if (const std::optional<QString> subnet = currentSubnet())
                m_ipRange->setText(*subnet);
        }
        if (watched == m_section)
            refreshCurrentNetwork();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vantrel
