#include "views/main/NASDetailView.h"

#include "mounting/AppStateManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "platform/gui/Workspace.h"
#include "services/KeychainManager.h"
#include "views/main/NetworkBindingSection.h"
#include "views/widgets/BusyButton.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <utility>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice.

namespace {

QLabel* caption(const QString& text, QWidget* parent)
{
    return Theme::label(text, Theme::TextStyle::caption, Theme::Color::secondary, parent);
}

// Secret-store writes are D-Bus round-trips that may wait on an unlock prompt, so they leave the
// main thread; one thread keeps two saves' writes in the order they were made.
QThreadPool& secretWriter()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setObjectName(QStringLiteral("com.vantrel.secretwriter"));
        return p;
    }();
    return *pool;
}

struct Secret {
    QString password;
    QString account;
};

// The mount reads the password from the secret store, so it starts only after the write.
QCoro::Task<> storeSecretThenMount(KeychainManager* keychain, std::optional<Secret> secret, MountControl* mounts,
    std::optional<QUuid> mountID)
{
    if (secret) {
        auto write = [keychain, secret = *secret] { keychain->savePassword(secret.password, secret.account); };
        QFuture<void> written = QtConcurrent::run(&secretWriter(), std::move(write));
        co_await written;
    }
    if (mountID) {
        auto mount = mounts->mount(*mountID);
        co_await mount;
    }
}

void startMount(MountControl& mounts, const QUuid& configID)
{
    // The strategy reports the outcome through the share's status; nothing waits here.
    QCoro::Task<> task = mounts.mount(configID);
    Q_UNUSED(task);
}

// A symbol before a caption note, as the NFS notes show.
QWidget* noteRow(const QString& objectName, const QString& symbol, Theme::Color symbolTint, const QString& text,
    QWidget* parent)
{
    auto* row = new QWidget(parent);
    row->setObjectName(objectName);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(4);
    auto* image = new QLabel(row);
    image->setObjectName(QStringLiteral("symbol"));
    Theme::setSymbol(image, symbol, symbolTint, Theme::symbolSize(Theme::TextStyle::caption));
    auto* label = caption(text, row);
    label->setObjectName(QStringLiteral("text"));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    return row;
}

QLineEdit* textField(const QString& objectName, const QString& text, const QString& prompt, QWidget* parent)
{
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(objectName);
    field->setPlaceholderText(prompt);
    return field;
}

template <typename E>
QComboBox* enumPicker(const QString& objectName, E selected, QWidget* parent)
{
    auto* picker = new QComboBox(parent);
    picker->setObjectName(objectName);
    const QList<E> cases = allCases<E>();
    for (const E value : cases)
        picker->addItem(displayName(value), rawValue(value));
    picker->setCurrentIndex(int(cases.indexOf(selected)));
    return picker;
}

template <typename E>
E pickedValue(const QComboBox* picker)
{
    return fromRawValue<E>(picker->currentData().toString()).value_or(allCases<E>().first());
}

void setLabelText(QFormLayout* form, QWidget* field, const QString& text)
{
    if (auto* label = qobject_cast<QLabel*>(form->labelForField(field)))
        label->setText(text);
}

} // namespace

NASDetailView::Services NASDetailView::Services::shared()
{
    return {NASConfigStore::shared(), AppStateManager::shared(), AutoMountStrategy::shared(), MountEngine::shared(),
        NetworkMonitor::shared(), KeychainManager::shared(), Workspace::shared()};
}

NASDetailView::NASDetailView(std::optional<NASConfig> existingConfig, CloseAction onClose, Services services,
    QWidget* parent)
    : QWidget(parent)
    , m_existingConfig(std::move(existingConfig))
    , m_onClose(std::move(onClose))
    , m_services(services)
    , m_newConfigID(m_existingConfig ? QUuid() : QUuid::createUuid())
    , m_protocol(m_existingConfig ? m_existingConfig->protocol : NASProtocol::smb)
    , m_authMethod(m_existingConfig ? m_existingConfig->authMethod : AuthMethod::password)
    , m_page(new FormPage(this))
{
    setObjectName(QStringLiteral("NASDetailView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_page);

    // Every field starts from the stored configuration, the password included: the secret store
    // is never read here.
    const NASConfig source = m_existingConfig.value_or(NASConfig{});

    m_errorSection = m_page->addSection(
        Localization::text(QStringLiteral("nas.mountError"), QStringLiteral("挂载异常")));
    m_errorSection->setObjectName(QStringLiteral("mountErrorSection"));
    Theme::setTint(m_errorSection, Theme::Color::orange);
    auto* errorRow = new QWidget(m_errorSection);
    auto* errorLayout = new QHBoxLayout(errorRow);
    errorLayout->setContentsMargins(0, 4, 0, 4);
    errorLayout->setSpacing(6);
    auto* errorSymbol = new QLabel(errorRow);
    errorSymbol->setObjectName(QStringLiteral("mountErrorSymbol"));
    Theme::setSymbol(errorSymbol, QStringLiteral("exclamationmark.triangle.fill"), Theme::Color::orange,
        Theme::symbolSize(Theme::TextStyle::callout));
    m_errorMessage = new ElidedLabel({}, errorRow);
    m_errorMessage->setMaximumLines(3);
    m_errorMessage->setObjectName(QStringLiteral("mountErrorMessage"));
    Theme::setTextStyle(m_errorMessage, Theme::TextStyle::callout);
    Theme::setTint(m_errorMessage, Theme::Color::orange);
    errorLayout->addWidget(errorSymbol, 0, Qt::AlignTop);
    errorLayout->addWidget(m_errorMessage, 1);
    m_errorSection->addWideRow(errorRow);
    m_errorSection->hide();

    m_basicSection = m_page->addSection(
        Localization::text(QStringLiteral("nas.basicInfo"), QStringLiteral("基本信息")));
    m_basicSection->setObjectName(QStringLiteral("basicInfoSection"));
    m_name = textField(QStringLiteral("nameField"), source.name,
        Localization::text(QStringLiteral("nas.namePlaceholder"), QStringLiteral("例如：家庭 NAS")), m_basicSection);
    m_address = textField(QStringLiteral("addressField"), source.address,
        Localization::text(QStringLiteral("nas.addressPlaceholder"), QStringLiteral("例如：192.168.1.100")),
        m_basicSection);
    m_sharePath = textField(QStringLiteral("sharePathField"), source.sharePath, {}, m_basicSection);
    buildBasicInfoSection();

    m_authSection = m_page->addSection();
    m_authSection->setObjectName(QStringLiteral("authSection"));
    m_username = textField(QStringLiteral("usernameField"), source.username.value_or(QString()),
        Localization::text(QStringLiteral("nas.usernamePlaceholder"), QStringLiteral("登录用户名")), m_authSection);
    m_password = textField(QStringLiteral("passwordField"), source.password.value_or(QString()),
        Localization::text(QStringLiteral("nas.passwordPlaceholder"), QStringLiteral("登录密码")), m_authSection);
    buildAuthSection();

    m_optionsSection = m_page->addSection(
        Localization::text(QStringLiteral("nas.mountOptions"), QStringLiteral("挂载选项")));
    m_optionsSection->setObjectName(QStringLiteral("mountOptionsSection"));
    m_smbVersionPicker = enumPicker(QStringLiteral("smbVersionPicker"), source.mountOptions.smbVersion,
        m_optionsSection);
    m_readOnly = new QCheckBox(Localization::text(QStringLiteral("nas.readOnly"), QStringLiteral("只读挂载")),
        m_optionsSection);
    m_readOnly->setObjectName(QStringLiteral("readOnlyToggle"));
    m_readOnly->setChecked(source.mountOptions.readOnly);
    m_isEnabled = new QCheckBox(Localization::text(QStringLiteral("nas.autoMount"), QStringLiteral("启用自动挂载")),
        m_optionsSection);
    m_isEnabled->setObjectName(QStringLiteral("autoMountToggle"));
    m_isEnabled->setChecked(source.isEnabled);
    m_customMountPoint = textField(QStringLiteral("customMountPointField"),
        source.mountOptions.customMountPoint.value_or(QString()),
        Localization::text(QStringLiteral("nas.mountPointPlaceholder"), QStringLiteral("留空使用默认路径")),
        m_optionsSection);
    buildMountOptionsSection();

    FormSection* bindingSection = m_page->addSection(
        Localization::text(QStringLiteral("nas.networkBinding"), QStringLiteral("网络绑定")));
    bindingSection->setObjectName(QStringLiteral("networkBindingSection"));
    m_binding = new NetworkBindingSection(bindingSection, m_services.network, source.networkBinding);

    m_bar = new NASDetailActionBar(m_existingConfig && m_onClose);
    m_page->setActionBar(m_bar);
    connect(m_bar->testButton(), &QPushButton::clicked, this, &NASDetailView::testConnection);
    connect(m_bar->mountButton(), &QPushButton::clicked, this, &NASDetailView::mount);
    connect(m_bar->unmountButton(), &QPushButton::clicked, this, &NASDetailView::unmount);
    connect(m_bar->openInFinderButton(), &QPushButton::clicked, this, &NASDetailView::openInFinder);
    if (QPushButton* close = m_bar->closeButton())
        connect(close, &QPushButton::clicked, this, &NASDetailView::closeEditor);
    connect(m_bar->saveButton(), &QPushButton::clicked, this, &NASDetailView::save);

    connect(m_name, &QLineEdit::textChanged, this, &NASDetailView::updateActionStates);
    connect(m_address, &QLineEdit::textChanged, this, &NASDetailView::updateActionStates);
    connect(&m_services.appState, &AppStateManager::nasStatusesChanged, this, &NASDetailView::updateFromStatus);

    updateProtocolRows();
    alignLabelColumns();
    updateActionStates();
    updateFromStatus();
}

NASDetailView::~NASDetailView() = default;

void NASDetailView::buildBasicInfoSection()
{
    QFormLayout* form = m_basicSection->form();
    form->addRow(Localization::text(QStringLiteral("nas.name"), QStringLiteral("名称")), m_name);

    QList<SegmentedControl::Option> protocols;
    for (const NASProtocol protocol : allCases<NASProtocol>())
        protocols.append({rawValue(protocol), displayName(protocol), {}});
    m_protocolPicker = new SegmentedControl(protocols, m_basicSection);
    m_protocolPicker->setObjectName(QStringLiteral("protocolPicker"));
    m_protocolPicker->setValue(rawValue(m_protocol));
    connect(m_protocolPicker, &SegmentedControl::activated, this, [this](const QString& value) {
        if (const auto protocol = fromRawValue<NASProtocol>(value))
            setProtocol(*protocol);
    });
    form->addRow(Localization::text(QStringLiteral("nas.protocol"), QStringLiteral("协议")), m_protocolPicker);

    m_nfsVersionNote = noteRow(QStringLiteral("nfsVersionNote"), QStringLiteral("info.circle"), Theme::Color::blue,
        Localization::text(QStringLiteral("nfs.versionNote"),
            QStringLiteral("当前仅支持 NFSv4 协议（使用 TCP 传输，非特权端口）")),
        m_basicSection);
    m_basicSection->addIndentedRow(m_nfsVersionNote);

    form->addRow(Localization::text(QStringLiteral("nas.address"), QStringLiteral("地址")), m_address);
    // Its label and prompt follow the protocol.
    form->addRow(new QLabel(m_basicSection), m_sharePath);
}

void NASDetailView::buildAuthSection()
{
    QFormLayout* form = m_authSection->form();
    m_authMethodPicker = enumPicker(QStringLiteral("authMethodPicker"), m_authMethod, m_authSection);
    connect(m_authMethodPicker, &QComboBox::currentIndexChanged, this,
        [this] { setAuthMethod(pickedValue<AuthMethod>(m_authMethodPicker)); });
    form->addRow(Localization::text(QStringLiteral("nas.authMethod"), QStringLiteral("认证方式")), m_authMethodPicker);

    m_username->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    form->addRow(Localization::text(QStringLiteral("nas.username"), QStringLiteral("用户名")), m_username);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    form->addRow(Localization::text(QStringLiteral("nas.password"), QStringLiteral("密码")), m_password);

    m_nfsAuthNote = noteRow(QStringLiteral("nfsAuthNote"), QStringLiteral("lock.open"), Theme::Color::green,
        Localization::text(QStringLiteral("nfs.noAuthNote"),
            QStringLiteral("NFS 协议不需要用户名和密码。访问权限由 NFS 服务器端的导出配置（exports）控制。")),
        m_authSection);
    m_authSection->addWideRow(m_nfsAuthNote);
}

void NASDetailView::buildMountOptionsSection()
{
    QFormLayout* form = m_optionsSection->form();
    form->addRow(Localization::text(QStringLiteral("nas.smbVersion"), QStringLiteral("SMB 版本")), m_smbVersionPicker);

    m_nfsMountOptions = new QWidget(m_optionsSection);
    m_nfsMountOptions->setObjectName(QStringLiteral("nfsMountOptions"));
    auto* nfsLayout = new QVBoxLayout(m_nfsMountOptions);
    nfsLayout->setContentsMargins(0, 2, 0, 2);
    nfsLayout->setSpacing(4);
    auto* nfsTitle = new QWidget(m_nfsMountOptions);
    auto* titleLayout = new QHBoxLayout(nfsTitle);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->setSpacing(4);
    auto* terminal = new QLabel(nfsTitle);
    Theme::setSymbol(terminal, QStringLiteral("terminal"), Theme::Color::secondary,
        Theme::symbolSize(Theme::TextStyle::caption));
    auto* titleText = new QLabel(
        Localization::text(QStringLiteral("nfs.mountOptions.title"), QStringLiteral("NFSv4 挂载参数")), nfsTitle);
    titleText->setObjectName(QStringLiteral("nfsMountOptionsTitle"));
    titleText->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(titleText, Theme::TextStyle::caption, QFont::Medium);
    titleLayout->addWidget(terminal);
    titleLayout->addWidget(titleText, 1);
    nfsLayout->addWidget(nfsTitle);
    auto* detail = caption(Localization::text(QStringLiteral("nfs.mountOptions.detail"),
                               QStringLiteral("固定使用：vers=4,tcp,noresvport\n• vers=4：NFS 版本 4\n• tcp：使用 TCP "
                                              "传输\n• noresvport：使用非特权端口（>1024）")),
        m_nfsMountOptions);
    detail->setObjectName(QStringLiteral("nfsMountOptionsDetail"));
    nfsLayout->addWidget(detail);
    m_optionsSection->addWideRow(m_nfsMountOptions);

    form->addRow(static_cast<QWidget*>(nullptr), m_readOnly);
    form->addRow(static_cast<QWidget*>(nullptr), m_isEnabled);

    m_customMountPoint->setToolTip(Localization::text(QStringLiteral("nas.mountPointHelp"),
        QStringLiteral("自定义挂载路径，留空将使用 ~/VantrelVolumes/<名称>。注意：/Volumes/ 路径需要手动创建目录。")));
    form->addRow(Localization::text(QStringLiteral("nas.customMountPoint"), QStringLiteral("自定义挂载点")),
        m_customMountPoint);

    auto* examples = new QWidget(m_optionsSection);
    examples->setObjectName(QStringLiteral("mountPointExamples"));
    auto* examplesLayout = new QVBoxLayout(examples);
    examplesLayout->setContentsMargins(0, 2, 0, 0);
    examplesLayout->setSpacing(4);
    examplesLayout->addWidget(caption(Localization::text(QStringLiteral("nas.mountPointExample1"),
                                          QStringLiteral("示例：~/VantrelVolumes/MyNAS（推荐，自动创建）")),
        examples));
    examplesLayout->addWidget(caption(Localization::text(QStringLiteral("nas.mountPointExample2"),
                                          QStringLiteral("示例：/Volumes/MyNAS（需手动创建目录）")),
        examples));
    m_optionsSection->addIndentedRow(examples);
}

void NASDetailView::alignLabelColumns()
{
    // Wide enough for either protocol's share-path label, so switching moves nothing.
    int width = 0;
    if (auto* label = qobject_cast<QLabel*>(m_basicSection->form()->labelForField(m_sharePath))) {
        const QFontMetrics metrics(label->font());
        const int frame = label->sizeHint().width() - metrics.horizontalAdvance(label->text());
        for (const QString& text : {Localization::text(QStringLiteral("nas.sharePath"), QStringLiteral("共享路径")),
                 Localization::text(QStringLiteral("nfs.sharePath"), QStringLiteral("NFS 导出路径"))})
            width = std::max(width, metrics.horizontalAdvance(text) + frame);
    }
    m_page->alignLabelColumns(width);
}

void NASDetailView::setProtocol(NASProtocol protocol)
{
    m_protocol = protocol;
    m_protocolPicker->setValue(rawValue(protocol));
    updateProtocolRows();
}

void NASDetailView::setAuthMethod(AuthMethod method)
{
    m_authMethod = method;
    if (pickedValue<AuthMethod>(m_authMethodPicker) != method) {
        const QSignalBlocker blocker(m_authMethodPicker);
        m_authMethodPicker->setCurrentIndex(int(allCases<AuthMethod>().indexOf(method)));
    }
    updateProtocolRows();
}

void NASDetailView::updateProtocolRows()
{
    // Hidden rows keep what was typed in them; saving decides what is stored.
    const bool nfs = m_protocol == NASProtocol::nfs;
    QFormLayout* basic = m_basicSection->form();
    basic->setRowVisible(m_nfsVersionNote, nfs);
    setLabelText(basic, m_sharePath,
        nfs ? Localization::text(QStringLiteral("nfs.sharePath"), QStringLiteral("NFS 导出路径"))
            : Localization::text(QStringLiteral("nas.sharePath"), QStringLiteral("共享路径")));
    m_sharePath->setPlaceholderText(nfs
            ? Localization::text(QStringLiteral("nfs.sharePathPlaceholder"),
                QStringLiteral("例如：/ 或 /volume1/shared"))
            : Localization::text(QStringLiteral("nas.sharePathPlaceholder"), QStringLiteral("例如：/shared/media")));

    m_authSection->setTitle(nfs ? Localization::text(QStringLiteral("nfs.auth"), QStringLiteral("NFS 认证"))
                                : Localization::text(QStringLiteral("nas.auth"), QStringLiteral("认证")));
    QFormLayout* auth = m_authSection->form();
    auth->setRowVisible(m_authMethodPicker, !nfs);
    auth->setRowVisible(m_username, !nfs && m_authMethod == AuthMethod::password);
    auth->setRowVisible(m_password, !nfs && m_authMethod == AuthMethod::password);
    auth->setRowVisible(m_nfsAuthNote, nfs);

    QFormLayout* options = m_optionsSection->form();
    options->setRowVisible(m_smbVersionPicker, !nfs);
    options->setRowVisible(m_nfsMountOptions, nfs);
}

bool NASDetailView::canTest() const
{
    const bool testing = m_testResult && m_testResult->kind == TestConnectionResult::Kind::testing;
    return !m_address->text().isEmpty() && !testing;
}

bool NASDetailView::canSave() const
{
    // Blank text counts as typed: the form validates nothing else.
    return !m_name->text().isEmpty() && !m_address->text().isEmpty();
}

void NASDetailView::updateActionStates()
{
    m_bar->setTestEnabled(canTest());
    m_bar->setSaveEnabled(canSave());
}

void NASDetailView::updateFromStatus()
{
    if (!m_existingConfig) {
        m_bar->setMountControls(NASDetailActionBar::MountControls::none);
        m_errorSection->hide();
        return;
    }
    const std::optional<NASStatus> status = m_services.appState.status(m_existingConfig->id);
    const MountState::Kind state = status ? status->mountState.kind() : MountState::Kind::idle;
    switch (state) {
    case MountState::Kind::mounting:
    case MountState::Kind::unmounting: m_bar->setMountControls(NASDetailActionBar::MountControls::busy); break;
    case MountState::Kind::mounted: m_bar->setMountControls(NASDetailActionBar::MountControls::mounted); break;
    default: m_bar->setMountControls(NASDetailActionBar::MountControls::mount); break;
    }

    // The status keeps its last error after a later success; above a working share it would only
    // mislead.
    const bool showError = status && status->lastError && state != MountState::Kind::mounted;
    if (showError)
        m_errorMessage->setFullText(status->lastError->message());
    m_errorSection->setVisible(showError);
}

QString NASDetailView::keychainIdentifierFor(const NASConfig& config) const
{
    if (m_existingConfig && !m_existingConfig->keychainIdentifier.isEmpty())
        return m_existingConfig->keychainIdentifier;
    if (!m_assignedKeychainIdentifier.isEmpty())
        return m_assignedKeychainIdentifier;
    if (config.protocol == NASProtocol::nfs)
        return QStringLiteral("nfs-") + config.address + QLatin1Char('-') + config.sharePath;
    return KeychainManager::credentialKey(config.address, config.sharePath, config.username);
}

NASConfig NASDetailView::buildConfig() const
{
    const auto unlessEmpty = [](const QString& text) {
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    };
    NASConfig config;
    config.id = m_existingConfig ? m_existingConfig->id : m_newConfigID;
    config.name = m_name->text();
    config.isEnabled = m_isEnabled->isChecked();
    config.protocol = m_protocol;
    config.address = m_address->text();
    config.sharePath = m_sharePath->text();
    if (m_protocol == NASProtocol::nfs) {
        config.authMethod = AuthMethod::guest;
    } else {
        // A guest share keeps what is left in the hidden fields.
        config.authMethod = m_authMethod;
        config.username = unlessEmpty(m_username->text());
        config.password = unlessEmpty(m_password->text());
    }
    // The SMB identifier hashes the typed user name, absent when empty.
    NASConfig typed = config;
    typed.username = unlessEmpty(m_username->text());
    config.keychainIdentifier = keychainIdentifierFor(typed);

    config.mountOptions.smbVersion = pickedValue<SMBVersion>(m_smbVersionPicker);
    config.mountOptions.readOnly = m_readOnly->isChecked();
    config.mountOptions.customMountPoint = unlessEmpty(m_customMountPoint->text());
    config.mountOptions.connectionTimeout = 30;
    config.mountOptions.retryCount = 3;
    config.mountOptions.retryInterval = 10.0;
    config.mountOptions.enableCaching = true;
    config.networkBinding = m_binding->binding();
    return config;
}

void NASDetailView::setTestResult(const std::optional<TestConnectionResult>& result)
{
    m_testResult = result;
    m_bar->setTestResult(result);
    updateActionStates();
}

void NASDetailView::testConnection()
{
    // One test at a time; the button is disabled meanwhile.
    if (!canTest())
        return;
    setTestResult(TestConnectionResult::testing());
    const NASConfig config = buildConfig();

    QPointer<NASDetailView> self(this);
    MountEngine* engine = &m_services.engine;
    startDeferred(this, [self, engine, config]() -> QCoro::Task<> {
        auto test = engine->testConnection(config);
        const MountEngine::ConnectionTestResult result = co_await test;
        // An editor left meanwhile (another share selected) shows nothing.
        if (!self)
            co_return;
        self->setTestResult(result.succeeded() ? TestConnectionResult::success(*result.latency)
                                               : TestConnectionResult::failure(result.error->message()));
    });
}

void NASDetailView::save()
{
    if (!canSave())
        return;
    const NASConfig config = buildConfig();
    // A share stored without an identifier gets one now and keeps it, so no two shares ever
    // share one secret.
    if (m_assignedKeychainIdentifier.isEmpty()
        && !(m_existingConfig && !m_existingConfig->keychainIdentifier.isEmpty()))
        m_assignedKeychainIdentifier = config.keychainIdentifier;

    std::optional<Secret> secret;
    if (m_protocol == NASProtocol::smb && m_authMethod == AuthMethod::password && config.password
        && !config.password->isEmpty())
        secret = Secret{*config.password, config.keychainIdentifier};

    // A share that was not stored is added once; later saves of this editor update it.
    if (m_existingConfig || m_services.configStore.config(config.id))
        m_services.configStore.updateConfig(config);
    else
        m_services.configStore.addConfig(config);

    const std::optional<QUuid> mountID = config.isEnabled ? std::optional<QUuid>(config.id) : std::nullopt;
    if (secret || mountID) {
        QCoro::Task<> task = storeSecretThenMount(&m_services.keychain, secret, &m_services.mounts, mountID);
        Q_UNUSED(task);
    }
}

void NASDetailView::mount()
{
    if (!m_existingConfig)
        return;
    // The binding as stored is what the mount will use; unsaved edits do not count.
    const NASConfig stored = m_services.configStore.config(m_existingConfig->id).value_or(*m_existingConfig);
    if (m_services.network.matches(stored))
        requestMount(stored.id);
    else
        showNetworkMismatchAlert(stored);
}

void NASDetailView::requestMount(const QUuid& configID)
{
    startMount(m_services.mounts, configID);
}

void NASDetailView::showNetworkMismatchAlert(const NASConfig& config)
{
    m_pendingNetworkMismatchConfig = config;
    if (m_mismatchAlert)
        return;
    auto* alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("networkMismatchAlert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Warning);
    const QString title = Localization::text(QStringLiteral("nas.networkMismatch.title"),
        QStringLiteral("网络环境不匹配"));
    alert->setWindowTitle(title);
    alert->setText(title);
    alert->setInformativeText(Localization::text(QStringLiteral("nas.networkMismatch.message"),
        QStringLiteral("当前网络不在此 NAS 的绑定范围内，连接可能失败。是否仍要尝试？")));
    QPushButton* cancel = alert->addButton(Localization::text(QStringLiteral("common.cancel"), QStringLiteral("取消")),
        QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    QPushButton* confirm = alert->addButton(
        Localization::text(QStringLiteral("nas.networkMismatch.confirm"), QStringLiteral("仍要连接")),
        QMessageBox::AcceptRole);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    alert->setEscapeButton(cancel);
    alert->setDefaultButton(confirm);
    connect(alert, &QMessageBox::finished, this, [this, alert, confirm] {
        const bool confirmed = alert->clickedButton() == confirm;
        const std::optional<NASConfig> pending = std::exchange(m_pendingNetworkMismatchConfig, std::nullopt);
        if (confirmed && pending)
            requestMount(pending->id);
    });
    m_mismatchAlert = alert;
    alert->open();
}

QMessageBox* NASDetailView::networkMismatchAlert() const
{
    return m_mismatchAlert;
}

void NASDetailView::unmount()
{
    if (!m_existingConfig)
        return;
    QCoro::Task<> task = m_services.mounts.unmount(m_existingConfig->id);
    Q_UNUSED(task);
}

void NASDetailView::openInFinder()
{
    if (!m_existingConfig)
        return;
    const std::optional<NASStatus> status = m_services.appState.status(m_existingConfig->id);
    if (status && status->mountPoint)
        m_services.workspace.open(*status->mountPoint);
}

void NASDetailView::closeEditor()
{
    if (m_onClose)
        m_onClose();
}

} // namespace vantrel
