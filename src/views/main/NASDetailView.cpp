#include "views/main/NASDetailView.h"

#include "mounting/AppStateManager.h"
#include "mounting/MountControl.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "platform/gui/Workspace.h"
#include "views/main/NASDetailForm.h"
#include "views/main/NetworkBindingSection.h"
#include "views/widgets/BusyButton.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace vantrel {

// No temporaries inside co_await expressions in this file: GCC 12 destroys some of them twice.

NASDetailView::NASDetailView(std::optional<NASConfig> existingConfig, CloseAction onClose, Services services,
    QWidget* parent)
    : QWidget(parent)
    , m_existingConfig(std::move(existingConfig))
    , m_onClose(std::move(onClose))
    , m_services(services)
    , m_saver(m_services.configStore, m_services.keychain, m_services.mounts, m_existingConfig)
    , m_page(new FormPage(this))
{
    setObjectName(QStringLiteral("NASDetailView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_page);

    // Every field starts from the stored configuration, the password included: the secret store
    // is never read here.
    const NASConfig source = m_existingConfig.value_or(NASConfig{});

    m_errorSection = buildMountErrorSection();
    m_form = new NASDetailForm(m_page, source);
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

    connect(m_form, &NASDetailForm::requiredFieldsEdited, this, &NASDetailView::updateActionStates);
    connect(m_form, &NASDetailForm::connectionFieldsEdited, this, [this] {
        ++m_testGeneration;
        if (m_testResult && m_testResult->kind != TestConnectionResult::Kind::testing)
            setTestResult(std::nullopt);
    });
    connect(&m_services.appState, &AppStateManager::nasStatusesChanged, this, &NASDetailView::updateFromStatus);

    m_form->alignLabelColumns();
    updateActionStates();
    updateFromStatus();
}

NASDetailView::~NASDetailView() = default;

FormSection* NASDetailView::buildMountErrorSection()
{
    FormSection* section = m_page->addSection(
        Localization::text(QStringLiteral("nas.mountError"), QStringLiteral("挂载异常")));
    section->setObjectName(QStringLiteral("mountErrorSection"));
    Theme::setTint(section, Theme::Color::orange);
    auto* errorRow = new QWidget(section);
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
    section->addWideRow(errorRow);
    section->hide();
    return section;
}

bool NASDetailView::canTest() const
{
    const bool testing = m_testResult && m_testResult->kind == TestConnectionResult::Kind::testing;
    return !m_form->address().isEmpty() && !testing;
}

bool NASDetailView::canSave() const
{
    // Blank text counts as typed: the form validates nothing else.
    return !m_form->name().isEmpty() && !m_form->address().isEmpty();
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
    const quint64 generation = ++m_statusGeneration;
    // A mount that fails after a test passed: the green line beside the red error would mislead.
    const bool failedNow = state == MountState::Kind::failed && m_shownMountState != MountState::Kind::failed;
    m_shownMountState = state;
    if (failedNow && m_testResult && m_testResult->kind != TestConnectionResult::Kind::testing)
        setTestResult(std::nullopt);
    switch (state) {
    case MountState::Kind::mounting:
    case MountState::Kind::unmounting: m_bar->setMountControls(NASDetailActionBar::MountControls::busy); break;
    case MountState::Kind::mounted: m_bar->setMountControls(NASDetailActionBar::MountControls::mounted); break;
    default:
        m_bar->setMountControls(NASDetailActionBar::MountControls::mount);
        offerUnmountIfMounted(m_existingConfig->id, generation);
        break;
    }

    // The status keeps its last error after a later success; above a working share it would only
    // mislead.
    const bool showError = status && status->lastError && state != MountState::Kind::mounted;
    if (showError)
        m_errorMessage->setFullText(status->lastError->message());
    m_errorSection->setVisible(showError);
}

NASConfig NASDetailView::buildConfig() const
{
    NASConfig config = m_form->config(m_saver.configID());
    config.keychainIdentifier = m_saver.keychainIdentifier(config);
    config.networkBinding = m_binding->binding();
    return config;
}

QCoro::Task<> NASDetailView::offerUnmountIfMounted(QUuid configID, quint64 generation)
{
    QPointer<NASDetailView> self(this);
    auto holding = m_services.mounts.holdsMount(configID);
    const bool held = co_await std::move(holding);
    // A later status change has decided anew meanwhile.
    if (!self || !held || generation != m_statusGeneration)
        co_return;
    m_bar->setMountControls(NASDetailActionBar::MountControls::mounted);
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
    const NASConfig config = buildConfig();
    // Said in the editor's words, without the engine's "Connection failed" prefix twice over.
    if (!NASConfig::isUsableAddress(config.address)) {
        setTestResult(TestConnectionResult::failure(NASConfig::unusableAddressText(config.address)));
        return;
    }
    setTestResult(TestConnectionResult::testing());

    QPointer<NASDetailView> self(this);
    MountEngine* engine = &m_services.engine;
    const quint64 generation = m_testGeneration;
    startDeferred(this, [self, engine, config, generation]() -> QCoro::Task<> {
        auto test = engine->testConnection(config);
        const MountEngine::ConnectionTestResult result = co_await test;
        // An editor left meanwhile (another share selected) shows nothing.
        if (!self)
            co_return;
        // The address or protocol changed while the test ran: its outcome is not theirs.
        if (generation != self->m_testGeneration) {
            self->setTestResult(std::nullopt);
            co_return;
        }
        self->setTestResult(result.succeeded() ? TestConnectionResult::success(*result.latency)
                                               : TestConnectionResult::failure(result.error->message()));
    });
}

void NASDetailView::save()
{
    if (canSave())
        m_saver.save(buildConfig());
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
    // The strategy reports the outcome through the share's status; nothing waits here.
    detach(m_services.mounts.mount(configID));
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
    detach(m_services.mounts.unmount(m_existingConfig->id));
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
