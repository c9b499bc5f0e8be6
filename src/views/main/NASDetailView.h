#pragma once

#include "model/NASConfig.h"
#include "views/main/NASDetailActionBar.h"

#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
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
class NetworkBindingSection;
class NetworkMonitor;
class SegmentedControl;
class Workspace;

// The share editor: one configuration's form (mount error, basic information, authentication,
// mount options, network binding) with the action bar pinned below it. It edits copies of the
// values, loaded once when it is built; the store changes only when the user saves. Mount
// controls and the mount-error section follow the share's published status.
class NASDetailView final : public QWidget {
    Q_OBJECT

public:
    // What the editor reads and calls; shared() gives the application's instances.
    struct Services {
        NASConfigStore& configStore;
        AppStateManager& appState;
        MountControl& mounts;
        MountEngine& engine; // the connection test
        NetworkMonitor& network;
        KeychainManager& keychain;
        Workspace& workspace;

        static Services shared();
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
    void buildBasicInfoSection();
    void buildAuthSection();
    void buildMountOptionsSection();
    void alignLabelColumns();
    void setProtocol(NASProtocol protocol);
    void setAuthMethod(AuthMethod method);
    void updateProtocolRows();
    void updateActionStates();
    void updateFromStatus();
    void setTestResult(const std::optional<TestConnectionResult>& result);
    void showNetworkMismatchAlert(const NASConfig& config);
    void requestMount(const QUuid& configID);
    QString keychainIdentifierFor(const NASConfig& config) const;

    std::optional<NASConfig> m_existingConfig;
    CloseAction m_onClose;
    Services m_services;
    // The id a configuration that is not stored yet keeps across saves.
    QUuid m_newConfigID;
    // Given at the first save to a stored configuration that had none, and kept from then on.
    QString m_assignedKeychainIdentifier;

    NASProtocol m_protocol;
    AuthMethod m_authMethod;
    std::optional<TestConnectionResult> m_testResult;
    std::optional<NASConfig> m_pendingNetworkMismatchConfig;
    QPointer<QMessageBox> m_mismatchAlert;

    FormPage* m_page;
    FormSection* m_errorSection = nullptr;
    ElidedLabel* m_errorMessage = nullptr;
    FormSection* m_basicSection = nullptr;
    FormSection* m_authSection = nullptr;
    FormSection* m_optionsSection = nullptr;
    QLineEdit* m_name = nullptr;
    SegmentedControl* m_protocolPicker = nullptr;
    QWidget* m_nfsVersionNote = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_sharePath = nullptr;
    QComboBox* m_authMethodPicker = nullptr;
    QLineEdit* m_username = nullptr;
    QLineEdit* m_password = nullptr;
    QWidget* m_nfsAuthNote = nullptr;
    QComboBox* m_smbVersionPicker = nullptr;
    QWidget* m_nfsMountOptions = nullptr;
    QCheckBox* m_readOnly = nullptr;
    QCheckBox* m_isEnabled = nullptr;
    QLineEdit* m_customMountPoint = nullptr;
    NetworkBindingSection* m_binding = nullptr;
    NASDetailActionBar* m_bar = nullptr;
};

} // namespace vantrel
