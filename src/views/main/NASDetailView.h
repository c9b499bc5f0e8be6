#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"
#include "views/main/NASConfigSaver.h"
#include "views/main/NASDetailActionBar.h"

#include <QPointer>

#include <QString>
#include <QUuid>
#include <QWidget>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class QMessageBox;

namespace vantrel {

class AppStateManager;
class ElidedLabel;
class FormPage;
class FormSection;
class KeychainManager;
class MountControl;
class MountEngine;
class NASConfigStore;
class NASDetailForm;
class NetworkBindingSection;
class NetworkMonitor;
class Workspace;

// The share editor: one configuration's form (mount error, basic information, authentication,
// mount options, network binding) with the action bar pinned below it. It edits copies of the
// values, loaded once when it is built; the store changes only when the user saves. Mount
// controls and the mount-error section follow the share's published status. The fields are
// NASDetailForm's and NetworkBindingSection's, the saving NASConfigSaver's; the editor runs the
// actions and shows their state.
class NASDetailView final : public QWidget {
    Q_OBJECT

public:
    // What the editor reads and calls.
    struct Services {
        NASConfigStore& configStore;
        AppStateManager& appState;
        MountControl& mounts;
        MountEngine& engine; // the connection test
        NetworkMonitor& network;
        KeychainManager& keychain;
        Workspace& workspace;
    };
    using CloseAction = std::function<void()>;

    // existingConfig: the stored configuration being edited, or none for one not stored yet.
    NASDetailView(std::optional<NASConfig> existingConfig, CloseAction onClose, Services services,
        QWidget* parent = nullptr);
    ~NASDetailView() override;

    const std::optional<NASConfig>& existingConfig() const { return m_existingConfig; }

    // The configuration of the form as it stands, texts as typed.
    NASConfig buildConfig() const;

    // The actions of the bar. None waits for the work it starts.
    void testConnection();
    void save();
    void mount();
    void unmount();
    void openInFinder();
    void closeEditor();

    bool canTest() const;
    bool canSave() const;

    const std::optional<TestConnectionResult>& testResult() const { return m_testResult; }
    const std::optional<NASConfig>& pendingNetworkMismatchConfig() const { return m_pendingNetworkMismatchConfig; }
    // The open network-mismatch alert, if any.
    QMessageBox* networkMismatchAlert() const;

    NetworkBindingSection* bindingSection() const { return m_binding; }
    NASDetailActionBar* actionBar() const { return m_bar; }

private:
    FormSection* buildMountErrorSection();
    void updateActionStates();
    void updateFromStatus();
    // Offers Unmount when something is mounted at the share's mount point although its status
    // says otherwise.
    QCoro::Task<> offerUnmountIfMounted(QUuid configID, quint64 generation);
    void setTestResult(const std::optional<TestConnectionResult>& result);
    void showNetworkMismatchAlert(const NASConfig& config);
    void requestMount(const QUuid& configID);

    std::optional<NASConfig> m_existingConfig;
    CloseAction m_onClose;
    Services m_services;
    NASConfigSaver m_saver;

    std::optional<TestConnectionResult> m_testResult;
    // Counts the edits a test result depends on; a result of a test started before one is dropped.
    quint64 m_testGeneration = 0;
    std::optional<MountState::Kind> m_shownMountState;
    std::optional<NASConfig> m_pendingNetworkMismatchConfig;
    QPointer<QMessageBox> m_mismatchAlert;
    quint64 m_statusGeneration = 0;

    FormPage* m_page;
    FormSection* m_errorSection = nullptr;
    ElidedLabel* m_errorMessage = nullptr;
    NASDetailForm* m_form = nullptr;
    NetworkBindingSection* m_binding = nullptr;
    NASDetailActionBar* m_bar = nullptr;
};

} // namespace vantrel
