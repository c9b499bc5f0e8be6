#pragma once

#include "model/NASConfig.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace vantrel {

class FormSection;
class NetworkMonitor;
class SegmentedControl;

// The share editor's network-binding rows, built into the form section it is given: the strategy,
// the IP range with its presets and the current network, the Wi-Fi names, and a hint. It edits the
// binding in its widgets only; the editor reads binding() when it saves. A block hidden by the
// strategy keeps its values, and they are saved too.
class NetworkBindingSection final : public QObject {
    Q_OBJECT

public:
    static constexpr int ssidListHeight = 80;
    // Shown for the current network when neither the interfaces nor the monitor know one.
    static inline const QString unknownNetwork = QStringLiteral("未知");
    // Matches every network: a new share's binding and the all-networks preset.
    static inline const QString allNetworksRange = QStringLiteral("0.0.0.0/0");

    NetworkBindingSection(FormSection* section, NetworkMonitor& network, const NetworkBindingConfig& binding);

    NetworkBindingConfig binding() const;
    NetworkBindingStrategy strategy() const { return m_strategy; }
    QString ipRange() const;
    QStringList ssidList() const { return m_ssids; }

    // As the picker does.
    void setStrategy(NetworkBindingStrategy strategy);
    // Adds the typed name, trimmed of spaces and tabs, unless it is listed already; the field is
    // cleared after any name that is not blank.
    void addSSID();
    // Removes every entry equal to the name.
    void removeSSID(const QString& name);

    void applyCurrentNetworkPreset();
    void applyAllNetworksPreset();
    void applyCurrentAddressPreset();

    // The subnet of the first active interface, else the monitor's last address, else "未知".
    QString currentNetworkValue() const;

    // Spaces of any kind and tabs off both ends; line breaks stay.
    static QString trimSpacesAndTabs(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<QString> currentSubnet() const;
    void updateBlocks();
    void rebuildSSIDList();
    void updateAddButton();
    void refreshCurrentNetwork();

    FormSection* m_section;
    NetworkMonitor& m_network;
    NetworkBindingStrategy m_strategy;
    QStringList m_ssids;

    SegmentedControl* m_strategyPicker;
    QLineEdit* m_ipRange;
    QWidget* m_presets;
    QWidget* m_currentNetworkRow;
    QLabel* m_currentNetwork;
    QListWidget* m_ssidList;
    QWidget* m_addRow;
    QLineEdit* m_newSSID;
    QPushButton* m_addSSID;
};

} // namespace vantrel
