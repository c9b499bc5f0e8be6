#pragma once

#include "model/NASConfig.h"

#include <QObject>
#include <QString>
#include <QUuid>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace vantrel {

class FormPage;
class FormSection;
class PromptField;
class SegmentedControl;

// The share editor's own fields, built into the form page it is given as three sections: basic
// information, authentication and mount options. Switching the protocol or the authentication
// method hides rows and relabels them, and keeps what was typed in the hidden ones; saving
// decides what is stored.
class NASDetailForm final : public QObject {
    Q_OBJECT

public:
    // The fields start from `source`, the password included.
    NASDetailForm(FormPage* page, const NASConfig& source);

    // The configuration of the fields as typed, under the id; the keychain identifier and the
    // network binding are left to the caller.
    NASConfig config(const QUuid& id) const;
    // The mount options the editor offers no field for, as every share it saves gets them.
    static MountOptions fixedMountOptions();
    QString name() const;
    QString address() const;

    // Pieces every part of the editor builds with, so they look and behave alike: a small text in
    // the secondary colour, and a button that Return in a field never presses.
    static QLabel* caption(const QString& text, QWidget* parent);
    static void neverDefault(QPushButton* button);

    // Gives the page's sections one label column, wide enough for either protocol's labels. Call
    // once the page holds all its sections.
    void alignLabelColumns();

signals:
    // The name or the address changed, on which the editor's actions depend.
    void requiredFieldsEdited();
    // The protocol or the address changed: a connection test of the earlier values says nothing
    // about these.
    void connectionFieldsEdited();

private:
    void buildBasicInfoSection(const NASConfig& source);
    void buildAuthSection(const NASConfig& source);
    void buildMountOptionsSection(const NASConfig& source);
    QWidget* buildNFSMountOptions();
    void setProtocol(NASProtocol protocol);
    void setAuthMethod(AuthMethod method);
    void updateProtocolRows();

    FormPage* m_page;
    NASProtocol m_protocol;
    AuthMethod m_authMethod;

    FormSection* m_basicSection = nullptr;
    FormSection* m_authSection = nullptr;
    FormSection* m_optionsSection = nullptr;
    QLineEdit* m_name = nullptr;
    SegmentedControl* m_protocolPicker = nullptr;
    QWidget* m_nfsVersionNote = nullptr;
    QLineEdit* m_address = nullptr;
    PromptField* m_sharePath = nullptr;
    QComboBox* m_authMethodPicker = nullptr;
    QLineEdit* m_username = nullptr;
    QLineEdit* m_password = nullptr;
    QWidget* m_nfsAuthNote = nullptr;
    QComboBox* m_smbVersionPicker = nullptr;
    QWidget* m_nfsMountOptions = nullptr;
    QCheckBox* m_readOnly = nullptr;
    QCheckBox* m_isEnabled = nullptr;
    QLineEdit* m_customMountPoint = nullptr;
};

} // namespace vantrel
