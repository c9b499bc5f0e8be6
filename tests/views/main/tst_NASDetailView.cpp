#include "support/StrategyStandIn.h"
#include "support/TestMain.h"
#include "support/gui/ViewFixture.h"

#include "mounting/MountEngine.h"
#include "services/KeychainManager.h"
#include "views/main/NASDetailView.h"
#include "views/main/NetworkBindingSection.h"
#include "views/widgets/BusyButton.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/SegmentedControl.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSignalSpy>
#include <QToolButton>

#include <memory>

using namespace vantrel;

namespace {

// The editor on the view fixture, whose mount engine pings through the stand-in tool; the
// tool's control folder is private to the test.
struct EditorFixture : test::ViewFixture {
    EditorFixture()
    {
        QDir(dir.path()).mkpath(QStringLiteral("control"));
        qputenv("VANTREL_FAKE_DIR", QFile::encodeName(control()));
    }

    QString control() const { return dir.filePath(QStringLiteral("control")); }
    void set(const QString& file, const QByteArray& content = {}) const
    {
        QFile f(control() + QLatin1Char('/') + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QStringList pingRuns() const
    {
        QFile f(control() + QStringLiteral("/ping.argv"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    NASDetailView::Services services()
    {
        return {configStore, appState, mounts, engine, network.monitor, keychain, workspace};
    }

    std::unique_ptr<NASDetailView> open(std::optional<NASConfig> config, NASDetailView::CloseAction onClose = {})
    {
        auto view = std::make_unique<NASDetailView>(std::move(config), std::move(onClose), services());
        view->resize(640, 900);
        view->show();
        return view;
    }

    std::optional<NASConfig> stored(const QUuid& id) const { return configStore.config(id); }
};

template <typename T>
T* child(const QWidget* root, const char* name)
{
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qWarning("no child named %s", name);
    return found;
}

QLineEdit* field(const NASDetailView& view, const char* name)
{
    return child<QLineEdit>(&view, name);
}

QPushButton* button(const NASDetailView& view, const char* name)
{
    return child<QPushButton>(&view, name);
}

bool shown(const NASDetailView& view, const char* name)
{
    const QWidget* widget = child<QWidget>(&view, name);
    return widget && widget->isVisibleTo(&view);
}

QString labelOf(const QWidget* field)
{
    for (QWidget* parent = field->parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* form = qobject_cast<QFormLayout*>(parent->layout())) {
            if (auto* label = qobject_cast<QLabel*>(form->labelForField(const_cast<QWidget*>(field))))
                return label->text();
        }
    }
    return {};
}

void type(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClicks(field, text);
    if (text.isEmpty())
        field->clear();
}

void choose(const NASDetailView& view, const char* picker, const QString& value)
{
    QToolButton* segment = child<SegmentedControl>(&view, picker)->button(value);
    QVERIFY(segment);
    segment->click();
}

void chooseAuth(const NASDetailView& view, AuthMethod method)
{
    auto* picker = child<QComboBox>(&view, "authMethodPicker");
    picker->setCurrentIndex(picker->findData(rawValue(method)));
}

QStringList ssidRows(const NASDetailView& view)
{
    QStringList names;
    auto* list = child<QListWidget>(&view, "ssidList");
    for (int i = 0; i < list->count(); ++i)
        names << list->itemWidget(list->item(i))->property("ssid").toString();
    return names;
}

// A stored SMB share with every field of the form set to something other than its default.
NASConfig fullShare()
{
    NASConfig config;
    config.name = QStringLiteral("Studio");
    config.isEnabled = false;
    config.address = QStringLiteral("10.0.0.5");
    config.sharePath = QStringLiteral("media");
    config.authMethod = AuthMethod::password;
    config.username = QStringLiteral("alice");
    config.password = QStringLiteral("stored-password");
    config.keychainIdentifier = QStringLiteral("studio-key");
    config.mountOptions.smbVersion = SMBVersion::v3;
    config.mountOptions.readOnly = true;
    config.mountOptions.customMountPoint = QStringLiteral("/mnt/studio");
    config.mountOptions.connectionTimeout = 30;
    config.mountOptions.retryCount = 3;
    config.mountOptions.retryInterval = 10.0;
    config.mountOptions.enableCaching = true;
    config.networkBinding.strategy = NetworkBindingStrategy::combined;
    config.networkBinding.ipRange = QStringLiteral("10.0.0.0/8");
    config.networkBinding.ssidList = {QStringLiteral("Office"), QStringLiteral("Lab")};
    return config;
}

// A share as the main window's add button stores it.
NASConfig blankShare()
{
    NASConfig config;
    config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
    config.mountOptions.retryInterval = 10.0;
    config.mountOptions.enableCaching = true;
    return config;
}

} // namespace

class TestNASDetailView : public QObject {
    Q_OBJECT

private slots:
    void loadsEveryFieldFromTheStoredConfigurationNotTheSecretStore()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        QVERIFY(fx.keychain.savePassword(QStringLiteral("keychain-password"), config.keychainIdentifier));
        auto view = fx.open(config);

        QCOMPARE(field(*view, "nameField")->text(), QStringLiteral("Studio"));
        QCOMPARE(field(*view, "addressField")->text(), QStringLiteral("10.0.0.5"));
        QCOMPARE(field(*view, "sharePathField")->text(), QStringLiteral("media"));
        QCOMPARE(field(*view, "usernameField")->text(), QStringLiteral("alice"));
        QCOMPARE(field(*view, "passwordField")->text(), QStringLiteral("stored-password"));
        QCOMPARE(field(*view, "passwordField")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<SegmentedControl>(view.get(), "protocolPicker")->value(), QStringLiteral("smb"));
        QCOMPARE(child<QComboBox>(view.get(), "smbVersionPicker")->currentText(), QStringLiteral("SMB 3.x"));
        QVERIFY(child<QCheckBox>(view.get(), "readOnlyToggle")->isChecked());
        QVERIFY(!child<QCheckBox>(view.get(), "autoMountToggle")->isChecked());
        QCOMPARE(field(*view, "customMountPointField")->text(), QStringLiteral("/mnt/studio"));
        QCOMPARE(child<SegmentedControl>(view.get(), "strategyPicker")->value(), QStringLiteral("combined"));
        QCOMPARE(field(*view, "ipRangeField")->text(), QStringLiteral("10.0.0.0/8"));
        QCOMPARE(ssidRows(*view), (QStringList{QStringLiteral("Office"), QStringLiteral("Lab")}));
        // Unedited, the form builds back exactly what is stored.
        QCOMPARE(view->buildConfig(), config);

        NASConfig bare = fullShare();
        bare.id = QUuid::createUuid();
        bare.username.reset();
        bare.password.reset();
        bare.mountOptions.customMountPoint.reset();
        fx.addShare(bare);
        auto second = fx.open(bare);
        QCOMPARE(field(*second, "usernameField")->text(), QString());
        QCOMPARE(field(*second, "passwordField")->text(), QString());
        QCOMPARE(field(*second, "customMountPointField")->text(), QString());
        QCOMPARE(second->buildConfig(), bare);
    }

    void protocolSwitchSwapsTheRowsAndKeepsEveryTypedValue()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(blankShare());
        auto view = fx.open(config);
        QCOMPARE(labelOf(field(*view, "sharePathField")), QStringLiteral("共享路径"));
        QCOMPARE(field(*view, "sharePathField")->placeholderText(), QStringLiteral("例如：/shared/media"));
        QCOMPARE(child<QGroupBox>(view.get(), "authSection")->title(), QStringLiteral("认证"));
        QVERIFY(!shown(*view, "nfsVersionNote"));
        QVERIFY(!shown(*view, "nfsAuthNote"));
        QVERIFY(!shown(*view, "nfsMountOptions"));
        QVERIFY(shown(*view, "smbVersionPicker"));

        type(field(*view, "nameField"), QStringLiteral("Archive"));
        type(field(*view, "addressField"), QStringLiteral("nas.lan"));
        type(field(*view, "sharePathField"), QStringLiteral("/export"));
        type(field(*view, "usernameField"), QStringLiteral("bob"));
        type(field(*view, "passwordField"), QStringLiteral("pw"));

        choose(*view, "protocolPicker", QStringLiteral("nfs"));
        QCOMPARE(labelOf(field(*view, "sharePathField")), QStringLiteral("NFS 导出路径"));
        QCOMPARE(field(*view, "sharePathField")->placeholderText(), QStringLiteral("例如：/ 或 /volume1/shared"));
        QCOMPARE(child<QGroupBox>(view.get(), "authSection")->title(), QStringLiteral("NFS 认证"));
        QVERIFY(shown(*view, "nfsVersionNote"));
        QVERIFY(shown(*view, "nfsAuthNote"));
        QVERIFY(shown(*view, "nfsMountOptions"));
        for (const char* hidden : {"authMethodPicker", "usernameField", "passwordField", "smbVersionPicker"})
            QVERIFY2(!shown(*view, hidden), hidden);
        const NASConfig asNFS = view->buildConfig();
        QCOMPARE(asNFS.protocol, NASProtocol::nfs);
        QCOMPARE(asNFS.authMethod, AuthMethod::guest);
        QCOMPARE(asNFS.username, std::nullopt);
        QCOMPARE(asNFS.password, std::nullopt);

        choose(*view, "protocolPicker", QStringLiteral("smb"));
        QVERIFY(shown(*view, "usernameField"));
        QCOMPARE(field(*view, "usernameField")->text(), QStringLiteral("bob"));
        QCOMPARE(field(*view, "passwordField")->text(), QStringLiteral("pw"));
        const NASConfig asSMB = view->buildConfig();
        QCOMPARE(asSMB.name, QStringLiteral("Archive"));
        QCOMPARE(asSMB.address, QStringLiteral("nas.lan"));
        QCOMPARE(asSMB.sharePath, QStringLiteral("/export"));
        QCOMPARE(asSMB.authMethod, AuthMethod::password);
        QCOMPARE(asSMB.username, QStringLiteral("bob"));
        QCOMPARE(asSMB.password, QStringLiteral("pw"));
    }

    void guestHidesTheCredentialsAndKeepsThem()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        chooseAuth(*view, AuthMethod::guest);
        QVERIFY(!shown(*view, "usernameField"));
        QVERIFY(!shown(*view, "passwordField"));
        QVERIFY(shown(*view, "authMethodPicker"));
        // An SMB guest share is built with what the hidden fields still hold.
        const NASConfig guest = view->buildConfig();
        QCOMPARE(guest.authMethod, AuthMethod::guest);
        QCOMPARE(guest.username, QStringLiteral("alice"));
        QCOMPARE(guest.password, QStringLiteral("stored-password"));

        chooseAuth(*view, AuthMethod::password);
        QVERIFY(shown(*view, "usernameField"));
        QCOMPARE(field(*view, "passwordField")->text(), QStringLiteral("stored-password"));
    }

    void mountErrorSectionFollowsTheStatusAndLeavesAMountedShare()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        auto* section = child<QGroupBox>(view.get(), "mountErrorSection");
        QVERIFY(!section->isVisibleTo(view.get()));
        // It leads the form.
        QCOMPARE(view->findChild<FormPage*>()->sections().first(), section);

        fx.setState(config, MountState::failed(VantrelError::mountFailed(QStringLiteral("Permission denied"))));
        QVERIFY(section->isVisibleTo(view.get()));
        QCOMPARE(child<ElidedLabel>(view.get(), "mountErrorMessage")->fullText(),
            VantrelError::mountFailed(QStringLiteral("Permission denied")).message());
        QCOMPARE(section->title(), QStringLiteral("挂载异常"));
        QCOMPARE(section->property("tint").toString(), QStringLiteral("orange"));

        fx.setState(config, MountState::mounting());
        QVERIFY(section->isVisibleTo(view.get()));
        fx.setState(config, MountState::mounted(), QUrl::fromLocalFile(QStringLiteral("/mnt/studio")));
        QVERIFY(fx.appState.status(config.id)->lastError.has_value());
        QVERIFY(!section->isVisibleTo(view.get()));

        // A long message is cut at three lines.
        const QString longText = QStringLiteral("word ").repeated(400);
        fx.setState(config, MountState::failed(VantrelError::mountFailed(longText)));
        QVERIFY(section->isVisibleTo(view.get()));
        auto* message = child<ElidedLabel>(view.get(), "mountErrorMessage");
        const QStringList lines = message->shownLines(message->contentsRect().width());
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));

        // An editor of a share that is not stored has no status to show.
        auto unsaved = fx.open(std::nullopt);
        QVERIFY(!child<QGroupBox>(unsaved.get(), "mountErrorSection")->isVisibleTo(unsaved.get()));
    }

    void mountControlsFollowThePublishedStatus()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        int closes = 0;
        auto view = fx.open(config, [&closes] { ++closes; });
        const auto visibleControls = [&view] {
            QStringList names;
            for (const char* name : {"mountingButton", "mountButton", "openInFinderButton", "unmountButton"}) {
                if (shown(*view, name))
                    names << QString::fromLatin1(name);
            }
            return names;
        };
        const QStringList mountOnly{QStringLiteral("mountButton")};
        const QStringList busy{QStringLiteral("mountingButton")};
        const QStringList mounted{QStringLiteral("openInFinderButton"), QStringLiteral("unmountButton")};

        QCOMPARE(visibleControls(), mountOnly);
        fx.setState(config, MountState::mounting());
        QCOMPARE(visibleControls(), busy);
        QVERIFY(!button(*view, "mountingButton")->isEnabled());
        QVERIFY(child<BusyButton>(view.get(), "mountingButton")->isBusy());
        const QUrl mountPoint = QUrl::fromLocalFile(QStringLiteral("/mnt/studio"));
        fx.setState(config, MountState::mounted(), mountPoint);
        QCOMPARE(visibleControls(), mounted);
        QCOMPARE(button(*view, "openInFinderButton")->property("symbol").toString(),
            QStringLiteral("arrow.up.forward.app"));
        button(*view, "openInFinderButton")->click();
        QCOMPARE(fx.workspace.opened, QList<QUrl>{mountPoint});
        button(*view, "unmountButton")->click();
        QCOMPARE(fx.mounts.unmounted, QList<QUuid>{config.id});
        fx.setState(config, MountState::unmounting());
        QCOMPARE(visibleControls(), busy);
        for (const MountState& state : {MountState::idle(), MountState::offline(),
                 MountState::failed(VantrelError::mountFailed(QStringLiteral("x")))}) {
            fx.setState(config, state);
            QCOMPARE(visibleControls(), mountOnly);
        }
        fx.appState.removeStatus(config.id);
        QCOMPARE(visibleControls(), mountOnly);

        // Something still mounted at the share's mount point (an unmount that failed, a server
        // that went away) is offered for unmounting, whatever the status says.
        fx.mounts.heldMounts.append(config.id);
        fx.setState(config, MountState::failed(VantrelError::unmountFailed(QStringLiteral("busy"))));
        QTRY_COMPARE(visibleControls(), mounted);
        QTest::mouseClick(button(*view, "unmountButton"), Qt::LeftButton);
        QCOMPARE(fx.mounts.unmounted, (QList<QUuid>{config.id, config.id}));
        fx.mounts.heldMounts.clear();
        fx.setState(config, MountState::idle());
        QCOMPARE(visibleControls(), mountOnly);

        button(*view, "closeButton")->click();
        QCOMPARE(closes, 1);

        // Without a close action there is no close button; a share not stored has neither it nor
        // mount controls.
        auto noClose = fx.open(config);
        QCOMPARE(noClose->findChild<QPushButton*>(QStringLiteral("closeButton")), nullptr);
        auto unsaved = fx.open(std::nullopt, [] {});
        QCOMPARE(unsaved->findChild<QPushButton*>(QStringLiteral("closeButton")), nullptr);
        for (const char* name : {"mountingButton", "mountButton", "openInFinderButton", "unmountButton"})
            QVERIFY2(!shown(*unsaved, name), name);
    }

    void mountAsksFirstWhenTheStoredBindingDoesNotMatch()
    {
        EditorFixture fx;
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);
        NASConfig away = fullShare();
        away.networkBinding.strategy = NetworkBindingStrategy::ipRange;
        fx.addShare(away);
        auto view = fx.open(away);
        // An unsaved edit that would match does not count.
        type(field(*view, "ipRangeField"), QStringLiteral("192.168.1.0/24"));

        button(*view, "mountButton")->click();
        QMessageBox* alert = view->networkMismatchAlert();
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        QCOMPARE(alert->text(), QStringLiteral("网络环境不匹配"));
        QCOMPARE(alert->informativeText(),
            QStringLiteral("当前网络不在此 NAS 的绑定范围内，连接可能失败。是否仍要尝试？"));
        QCOMPARE(view->pendingNetworkMismatchConfig()->id, away.id);
        QVERIFY(fx.mounts.mounted.isEmpty());
        auto* cancel = alert->findChild<QPushButton*>(QStringLiteral("cancelButton"));
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        cancel->click();
        QTRY_VERIFY(!view->networkMismatchAlert());
        QCOMPARE(view->pendingNetworkMismatchConfig(), std::nullopt);
        QVERIFY(fx.mounts.mounted.isEmpty());

        button(*view, "mountButton")->click();
        alert = view->networkMismatchAlert();
        QVERIFY(alert);
        auto* confirm = alert->findChild<QPushButton*>(QStringLiteral("confirmButton"));
        QCOMPARE(confirm->text(), QStringLiteral("仍要连接"));
        confirm->click();
        QTRY_VERIFY(!view->networkMismatchAlert());
        QCOMPARE(fx.mounts.mounted, QList<QUuid>{away.id});
        QCOMPARE(view->pendingNetworkMismatchConfig(), std::nullopt);

        // Once the matching binding is saved, mount goes straight ahead.
        child<QCheckBox>(view.get(), "autoMountToggle")->setChecked(false);
        view->save();
        button(*view, "mountButton")->click();
        QVERIFY(!view->networkMismatchAlert());
        QCOMPARE(fx.mounts.mounted, (QList<QUuid>{away.id, away.id}));
    }

    void bindingBlocksFollowTheStrategyAndKeepHiddenValues()
    {
        EditorFixture fx;
        NASConfig config = fullShare();
        config.networkBinding.strategy = NetworkBindingStrategy::ipRange;
        fx.addShare(config);
        auto view = fx.open(config);
        const QStringList ipRows{QStringLiteral("ipRangeField"), QStringLiteral("ipRangePresets"),
            QStringLiteral("currentNetworkLabel")};
        const QStringList wifiRows{QStringLiteral("ssidList"), QStringLiteral("ssidAddRow")};
        const auto allShown = [&view](const QStringList& names, bool expected) {
            for (const QString& name : names) {
                if (shown(*view, name.toLatin1().constData()) != expected)
                    return false;
            }
            return true;
        };
        auto* picker = child<SegmentedControl>(view.get(), "strategyPicker");
        QCOMPARE(picker->button(QStringLiteral("ipRange"))->text(), QStringLiteral("IP Range"));
        QCOMPARE(picker->button(QStringLiteral("ssid"))->text(), QStringLiteral("SSID"));
        QCOMPARE(picker->button(QStringLiteral("combined"))->text(), QStringLiteral("Combined (IP + SSID)"));
        QVERIFY(allShown(ipRows, true));
        QVERIFY(allShown(wifiRows, false));
        QVERIFY(shown(*view, "networkBindingHint"));

        choose(*view, "strategyPicker", QStringLiteral("ssid"));
        QVERIFY(allShown(ipRows, false));
        QVERIFY(allShown(wifiRows, true));
        const NASConfig hidden = view->buildConfig();
        QCOMPARE(hidden.networkBinding.strategy, NetworkBindingStrategy::ssid);
        QCOMPARE(hidden.networkBinding.ipRange, QStringLiteral("10.0.0.0/8"));

        choose(*view, "strategyPicker", QStringLiteral("combined"));
        QVERIFY(allShown(ipRows, true));
        QVERIFY(allShown(wifiRows, true));
        auto* ipRange = field(*view, "ipRangeField");
        QVERIFY(ipRange->mapTo(view.get(), QPoint()).y()
            < child<QWidget>(view.get(), "ssidList")->mapTo(view.get(), QPoint()).y());
    }

    void emptyRangeIsFilledWhenItsFieldAppears()
    {
        EditorFixture fx;
        fx.network.publish(QStringLiteral("192.168.3.15"), std::nullopt);
        NASConfig empty = fullShare();
        empty.networkBinding.strategy = NetworkBindingStrategy::ipRange;
        empty.networkBinding.ipRange.clear();
        auto filled = fx.open(empty);
        QCOMPARE(field(*filled, "ipRangeField")->text(), QStringLiteral("192.168.3.0/24"));

        NASConfig everywhere = empty;
        everywhere.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        auto kept = fx.open(everywhere);
        QCOMPARE(field(*kept, "ipRangeField")->text(), QStringLiteral("0.0.0.0/0"));

        // Hidden by the strategy it waits until it comes on screen.
        NASConfig wifiOnly = empty;
        wifiOnly.networkBinding.strategy = NetworkBindingStrategy::ssid;
        auto later = fx.open(wifiOnly);
        QCOMPARE(field(*later, "ipRangeField")->text(), QString());
        choose(*later, "strategyPicker", QStringLiteral("combined"));
        QCOMPARE(field(*later, "ipRangeField")->text(), QStringLiteral("192.168.3.0/24"));

        // Without an interface there is nothing to fill in.
        fx.network.publish(std::nullopt, std::nullopt);
        auto offline = fx.open(empty);
        QCOMPARE(field(*offline, "ipRangeField")->text(), QString());
    }

    void presetsAndTheCurrentNetworkLineFallBack()
    {
        EditorFixture fx;
        fx.network.publish(QStringLiteral("10.1.2.3"), std::nullopt);
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        auto* line = child<QLabel>(view.get(), "currentNetworkLabel");
        auto* range = field(*view, "ipRangeField");
        QCOMPARE(line->text(), QStringLiteral("当前网络：10.1.2.0/24"));
        button(*view, "presetCurrentIP")->click();
        QCOMPARE(range->text(), QStringLiteral("10.1.2.3/32"));
        button(*view, "presetAllNetworks")->click();
        QCOMPARE(range->text(), QStringLiteral("0.0.0.0/0"));
        button(*view, "presetCurrentNetwork")->click();
        QCOMPARE(range->text(), QStringLiteral("10.1.2.0/24"));

        // The interface went away but the monitor still has the address of its last update.
        fx.network.path->setIPv4(std::nullopt);
        button(*view, "presetCurrentNetwork")->click();
        QCOMPARE(range->text(), QString());
        QCOMPARE(line->text(), QStringLiteral("当前网络：10.1.2.3"));
        button(*view, "presetCurrentIP")->click();
        QCOMPARE(range->text(), QStringLiteral("10.1.2.3/32"));

        // The line follows a network change on its own.
        fx.network.publish(std::nullopt, std::nullopt);
        QCOMPARE(line->text(), QStringLiteral("当前网络：未知"));
        button(*view, "presetCurrentIP")->click();
        QCOMPARE(range->text(), QString());
    }

    void wifiNamesAreAddedTrimmedOnceAndRemovedEverywhere()
    {
        EditorFixture fx;
        NASConfig config = fullShare();
        config.networkBinding.ssidList = {QStringLiteral("Old"), QStringLiteral("Lab"), QStringLiteral("Old")};
        fx.addShare(config);
        auto view = fx.open(config);
        auto* name = field(*view, "newSSIDField");
        auto* add = button(*view, "addSSIDButton");
        QVERIFY(!add->isEnabled());

        struct Step {
            QString typed;
            bool pressReturn;
            QStringList list;
            QString fieldAfter;
        };
        const QStringList base{QStringLiteral("Old"), QStringLiteral("Lab"), QStringLiteral("Old")};
        const QList<Step> steps{
            {QStringLiteral(" Home "), false, base + QStringList{QStringLiteral("Home")}, {}},
            {QStringLiteral("Home"), true, base + QStringList{QStringLiteral("Home")}, {}},
            {QStringLiteral("home"), false, base + QStringList{QStringLiteral("Home"), QStringLiteral("home")}, {}},
            {QStringLiteral("\tCafé\u3000"), true,
                base + QStringList{QStringLiteral("Home"), QStringLiteral("home"), QStringLiteral("Café")}, {}},
            // Blank text changes nothing and stays in the field.
            {QStringLiteral("   "), true,
                base + QStringList{QStringLiteral("Home"), QStringLiteral("home"), QStringLiteral("Café")},
                QStringLiteral("   ")},
        };
        for (const Step& step : steps) {
            name->setText(step.typed);
            QCOMPARE(add->isEnabled(), !NetworkBindingSection::trimSpacesAndTabs(step.typed).isEmpty());
            if (step.pressReturn)
                QTest::keyClick(name, Qt::Key_Return);
            else
                add->click();
            QCOMPARE(view->bindingSection()->ssidList(), step.list);
            QCOMPARE(ssidRows(*view), step.list);
            QCOMPARE(name->text(), step.fieldAfter);
        }

        // Every occurrence of a name goes, through the row's own button.
        auto* list = child<QListWidget>(view.get(), "ssidList");
        list->itemWidget(list->item(0))->findChild<QToolButton*>(QStringLiteral("removeSSIDButton"))->click();
        QTRY_COMPARE(ssidRows(*view),
            (QStringList{QStringLiteral("Lab"), QStringLiteral("Home"), QStringLiteral("home"),
                QStringLiteral("Café")}));
        QCOMPARE(view->buildConfig().networkBinding.ssidList, ssidRows(*view));

        // The list keeps its height, empty or full.
        QCOMPARE(list->height(), NetworkBindingSection::ssidListHeight);
        for (int i = 0; i < 12; ++i) {
            name->setText(QStringLiteral("net%1").arg(i));
            add->click();
        }
        QCOMPARE(list->height(), NetworkBindingSection::ssidListHeight);
    }

    void assistiveTechnologyReadsEveryControlByItsLabel()
    {
        EditorFixture fx;
        const NASConfig config = fullShare();
        fx.configStore.addConfig(config);
        auto view = fx.open(config);
        const auto reader = [&](const char* name) {
            return QAccessible::queryAccessibleInterface(child<QWidget>(view.get(), name));
        };

        // Fields and pickers are named by their own labels; a picker's value is its choice.
        QCOMPARE(reader("sharePathField")->text(QAccessible::Name), QStringLiteral("共享路径"));
        QCOMPARE(reader("authMethodPicker")->role(), QAccessible::ComboBox);
        QCOMPARE(reader("authMethodPicker")->text(QAccessible::Name), QStringLiteral("认证方式"));
        QCOMPARE(reader("authMethodPicker")->text(QAccessible::Value), QStringLiteral("Password"));
        QCOMPARE(reader("smbVersionPicker")->text(QAccessible::Name), QStringLiteral("SMB 版本"));
        QCOMPARE(reader("smbVersionPicker")->text(QAccessible::Value), QStringLiteral("SMB 3.x"));
        auto* method = child<QComboBox>(view.get(), "authMethodPicker");
        method->setFocus();
        QTest::keyClick(method, Qt::Key_Down);
        QCOMPARE(reader("authMethodPicker")->text(QAccessible::Value), QStringLiteral("Guest"));
        QCOMPARE(reader("authMethodPicker")->text(QAccessible::Name), QStringLiteral("认证方式"));
        QCOMPARE(reader("authMethodPicker")->child(0)->childCount(), 2);

        // Each Wi-Fi row is read by its name; its symbol-only remove button has a name, a tooltip
        // and keyboard focus.
        QAccessibleInterface* wifi = reader("ssidList");
        QCOMPARE(wifi->childCount(), 2);
        QCOMPARE(wifi->child(0)->text(QAccessible::Name), QStringLiteral("Office"));
        QCOMPARE(wifi->child(1)->text(QAccessible::Name), QStringLiteral("Lab"));
        QStringList removeButtons;
        for (QToolButton* remove : view->findChildren<QToolButton*>(QStringLiteral("removeSSIDButton"))) {
            QAccessibleInterface* button = QAccessible::queryAccessibleInterface(remove);
            QVERIFY(button->state().focusable);
            QCOMPARE(button->text(QAccessible::Description), remove->toolTip());
            removeButtons << button->text(QAccessible::Name);
        }
        QCOMPARE(removeButtons, (QStringList{"Remove Office", "Remove Lab"}));

        // Every control in reach has a name of its own, never its section's header, and takes
        // the keyboard's focus.
        QStringList headers;
        for (const QGroupBox* section : view->findChildren<QGroupBox*>())
            headers << section->title();
        const QList<QAccessible::Role> controls{QAccessible::EditableText, QAccessible::ComboBox, QAccessible::CheckBox,
            QAccessible::RadioButton, QAccessible::Button, QAccessible::ListItem};
        int checked = 0;
        std::function<void(QAccessibleInterface*)> visit = [&](QAccessibleInterface* node) {
            if (!node || node->state().invisible)
                return;
            if (controls.contains(node->role())) {
                const QString name = node->text(QAccessible::Name);
                const QString what = (node->object() ? node->object()->objectName() : QString()) + QLatin1Char('=')
                    + name;
                QVERIFY2(!name.isEmpty() && !headers.contains(name), qPrintable(what));
                QVERIFY2(node->state().focusable, qPrintable(what));
                ++checked;
            }
            for (int i = 0; i < node->childCount(); ++i)
                visit(node->child(i));
        };
        visit(QAccessible::queryAccessibleInterface(view.get()));
        QVERIFY(checked > 20);

        // The share-path field takes the NFS label with the protocol.
        choose(*view, "protocolPicker", QStringLiteral("nfs"));
        QCOMPARE(reader("sharePathField")->text(QAccessible::Name), QStringLiteral("NFS 导出路径"));
    }

    void testAndSaveAreEnabledByNameAndAddress()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(blankShare());
        auto view = fx.open(config);
        struct Case {
            QString name;
            QString address;
            bool test;
            bool save;
        };
        const QList<Case> cases{
            {{}, {}, false, false},
            {QStringLiteral("n"), {}, false, false},
            {{}, QStringLiteral("a"), true, false},
            {QStringLiteral("  "), QStringLiteral("  "), true, true},
            {QStringLiteral("n"), QStringLiteral("a"), true, true},
        };
        for (const Case& c : cases) {
            field(*view, "nameField")->setText(c.name);
            field(*view, "addressField")->setText(c.address);
            QCOMPARE(button(*view, "testButton")->isEnabled(), c.test);
            QCOMPARE(button(*view, "saveButton")->isEnabled(), c.save);
        }
    }

    void resultTextShowsWholeMillisecondsOrTheWholeError()
    {
        EditorFixture fx;
        QCOMPARE(NASDetailActionBar::resultText(TestConnectionResult::success(0.0234)),
            QStringLiteral("连接成功（延迟 23ms）"));
        QCOMPARE(NASDetailActionBar::resultText(TestConnectionResult::success(0.0004)),
            QStringLiteral("连接成功（延迟 0ms）"));
        QCOMPARE(NASDetailActionBar::resultText(TestConnectionResult::success(1.5)),
            QStringLiteral("连接成功（延迟 1500ms）"));
        QCOMPARE(NASDetailActionBar::resultText(TestConnectionResult::failure(QStringLiteral("100% lost: %@"))),
            QStringLiteral("连接失败：100% lost: %@"));
        QCOMPARE(NASDetailActionBar::resultText(TestConnectionResult::testing()), QStringLiteral("正在测试连接..."));
    }

    void connectionTestRunsOnceAtATimeAndShowsTheOutcome()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        QVERIFY(!shown(*view, "testResultLine"));
        // The test pings the typed address, saved or not.
        type(field(*view, "addressField"), QStringLiteral("10.9.8.7"));

        fx.set(QStringLiteral("ping.hold"));
        button(*view, "testButton")->click();
        QCOMPARE(view->testResult(), TestConnectionResult::testing());
        QVERIFY(!button(*view, "testButton")->isEnabled());
        QVERIFY(child<BusyButton>(view.get(), "testButton")->isBusy());
        QVERIFY(shown(*view, "testResultLine"));
        QCOMPARE(child<ElidedLabel>(view.get(), "testResultText")->fullText(), QStringLiteral("正在测试连接..."));
        QTRY_COMPARE(fx.pingRuns().size(), 1);
        view->testConnection();
        fx.set(QStringLiteral("ping.release"));
        QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
        const QStringList pingArguments{QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
            QStringLiteral("3000"), QStringLiteral("--"), QStringLiteral("10.9.8.7")};
        QCOMPARE(fx.pingRuns(), QStringList{pingArguments.join(QChar(0x1F))});
        QVERIFY(QRegularExpression(QStringLiteral("^连接成功（延迟 \\d+ms）$"))
                    .match(child<ElidedLabel>(view.get(), "testResultText")->fullText())
                    .hasMatch());
        QCOMPARE(child<QLabel>(view.get(), "testResultSymbol")->property("symbol").toString(),
            QStringLiteral("checkmark.circle.fill"));
        QVERIFY(button(*view, "testButton")->isEnabled());
        QVERIFY(!child<BusyButton>(view.get(), "testButton")->isBusy());

        QFile::remove(fx.control() + QStringLiteral("/ping.hold"));
        fx.set(QStringLiteral("ping.exit"), "2");
        button(*view, "testButton")->click();
        QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::failure);
        QCOMPARE(child<ElidedLabel>(view.get(), "testResultText")->fullText(),
            QStringLiteral("连接失败：Connection failed: Ping to 10.9.8.7 failed (exit code 2)"));
        QCOMPARE(child<QLabel>(view.get(), "testResultSymbol")->property("symbol").toString(),
            QStringLiteral("xmark.circle.fill"));
        QCOMPARE(child<ElidedLabel>(view.get(), "testResultText")->property("tint").toString(), QStringLiteral("red"));
    }

    void aTestResultGoesWhenTheAddressChangesOrALaterMountFails()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        QLineEdit* address = field(*view, "addressField");
        QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
        QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
        QVERIFY(shown(*view, "testResultLine"));
        // Another server: the result was for the one before.
        address->setFocus();
        QTest::keyClick(address, Qt::Key_End);
        QTest::keyClick(address, Qt::Key_9);
        QCOMPARE(view->testResult(), std::nullopt);
        QVERIFY(!shown(*view, "testResultLine"));

        // A test still running when the address changes shows nothing when it ends.
        fx.set(QStringLiteral("ping.hold"));
        QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
        QTRY_COMPARE(fx.pingRuns().size(), 2);
        QTest::keyClick(address, Qt::Key_Backspace);
        fx.set(QStringLiteral("ping.release"));
        QTRY_VERIFY(button(*view, "testButton")->isEnabled());
        QCOMPARE(view->testResult(), std::nullopt);
        QFile::remove(fx.control() + QStringLiteral("/ping.hold"));

        // A mount that fails after a passed test: only the mount error stands.
        QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
        QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
        fx.setState(config, MountState::mounting());
        QCOMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
        fx.setState(config, MountState::failed(VantrelError::mountFailed(QStringLiteral("Permission denied"))));
        QCOMPARE(view->testResult(), std::nullopt);
        QVERIFY(!shown(*view, "testResultLine"));
        QVERIFY(shown(*view, "mountErrorSection"));
        // A test after the failure is shown again.
        QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
        QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
    }

    // Text that ping would read as one of its options (or that names no host) is refused in the
    // editor's words before any tool runs.
    void connectionTestRefusesAnAddressThatIsNoHost()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        for (const QString& address : {QStringLiteral("-V"), QStringLiteral("--help"), QStringLiteral("nas -c 9"),
                 QStringLiteral("nas;reboot"), QStringLiteral("-nas.local"), QStringLiteral("nas.local:-1")}) {
            type(field(*view, "addressField"), address);
            QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
            QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::failure);
            QCOMPARE(child<ElidedLabel>(view.get(), "testResultText")->fullText(),
                QStringLiteral("连接失败：\u201C") + address
                    + QStringLiteral("\u201D is not a host name or an IP address."));
            QVERIFY(button(*view, "testButton")->isEnabled());
        }
        QCOMPARE(fx.pingRuns(), QStringList{});

        // Host names, IPv4 and IPv6 literals, with or without a port, still reach ping.
        for (const QString& address : {QStringLiteral("nas_01.local"), QStringLiteral("10.0.0.5:4450"),
                 QStringLiteral("fe80::1"), QStringLiteral("[fe80::1]:445")}) {
            type(field(*view, "addressField"), address);
            QTest::mouseClick(button(*view, "testButton"), Qt::LeftButton);
            QTRY_COMPARE(view->testResult()->kind, TestConnectionResult::Kind::success);
        }
        QCOMPARE(fx.pingRuns().size(), 4);
    }

    // The real strategy unmounts: the editor shows the busy button while the tool runs, and a
    // second click starts no second run that could record a failure after the first succeeded.
    void unmountIsBusyWhileItRunsAndRunsOnce()
    {
        EditorFixture fx;
        test::StrategyStandIn mounting(fx, fx.network.monitor, fx.dir.filePath(QStringLiteral("Volumes")),
            fx.control());
        fx.network.publish(QStringLiteral("192.168.1.20"), std::nullopt);
        NASConfig config;
        config.name = QStringLiteral("Exports");
        config.protocol = NASProtocol::nfs;
        config.address = QStringLiteral("filer");
        config.sharePath = QStringLiteral("/export/team");
        config.authMethod = AuthMethod::guest;
        config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
        fx.addShare(config);
        NASDetailView view(config, {},
            {fx.configStore, fx.appState, mounting.strategy, mounting.engine, fx.network.monitor, fx.keychain,
                fx.workspace});
        view.resize(640, 900);
        view.show();

        QList<MountState::Kind> states;
        connect(&fx.appState, &AppStateManager::nasStatusesChanged, &view, [&] {
            if (const auto status = fx.appState.status(config.id))
                states << status->mountState.kind();
        });
        QTest::mouseClick(button(view, "mountButton"), Qt::LeftButton);
        QTRY_COMPARE(fx.appState.status(config.id)->mountState.kind(), MountState::Kind::mounted);
        QCOMPARE(mounting.control.runs(QStringLiteral("mount.nfs4")), 1);

        states.clear();
        mounting.control.set(QStringLiteral("umount.hold"));
        QPushButton* unmount = button(view, "unmountButton");
        QTest::mouseClick(unmount, Qt::LeftButton);
        QTest::mouseClick(unmount, Qt::LeftButton);
        QTRY_COMPARE(mounting.control.runs(QStringLiteral("umount")), 1);
        QCOMPARE(fx.appState.status(config.id)->mountState.kind(), MountState::Kind::unmounting);
        QVERIFY(shown(view, "mountingButton"));
        QVERIFY(!button(view, "mountingButton")->isEnabled());
        QVERIFY(!shown(view, "unmountButton"));
        QVERIFY(!shown(view, "mountButton"));

        mounting.control.set(QStringLiteral("umount.release"));
        QTRY_VERIFY(!mounting.strategy.hasOperationsUnderWay());
        QCOMPARE(mounting.control.runs(QStringLiteral("umount")), 1);
        QCOMPARE(states, (QList<MountState::Kind>{MountState::Kind::unmounting, MountState::Kind::idle}));
        QVERIFY(shown(view, "mountButton"));
        QVERIFY(!shown(view, "mountErrorSection"));
    }

    void testResultOfAShareLeftBehindGoesNowhere()
    {
        EditorFixture fx;
        const NASConfig first = fx.addShare(fullShare());
        NASConfig other = fullShare();
        other.id = QUuid::createUuid();
        fx.addShare(other);
        auto view = fx.open(first);
        fx.set(QStringLiteral("ping.hold"));
        view->testConnection();
        QTRY_COMPARE(fx.pingRuns().size(), 1);
        view.reset();
        auto next = fx.open(other);
        fx.set(QStringLiteral("ping.release"));
        QTest::qWait(200);
        QCOMPARE(next->testResult(), std::nullopt);
        QVERIFY(!shown(*next, "testResultLine"));
    }

    void saveStoresTheFormAndTheSecretOnlyForATypedSMBPassword()
    {
        EditorFixture fx;
        NASConfig stored = fullShare();
        stored.isEnabled = true;
        stored.mountOptions.retryInterval = 5.0;
        stored.mountOptions.enableCaching = false;
        fx.addShare(stored);
        QVERIFY(fx.keychain.savePassword(QStringLiteral("earlier"), stored.keychainIdentifier));
        // The mount starts only once the secret is written.
        std::optional<QString> secretAtMount;
        fx.mounts.onMount = [&](const QUuid&) { secretAtMount = fx.keychain.getPassword(stored.keychainIdentifier); };

        auto view = fx.open(stored);
        type(field(*view, "addressField"), QStringLiteral("10.0.0.99"));
        type(field(*view, "usernameField"), QStringLiteral("carol"));
        type(field(*view, "passwordField"), QStringLiteral("new secret"));
        button(*view, "saveButton")->click();
        const NASConfig saved = *fx.stored(stored.id);
        QCOMPARE(saved.address, QStringLiteral("10.0.0.99"));
        QCOMPARE(saved.password, QStringLiteral("new secret"));
        // Edited address and user keep the identifier, so the secret stays where the mount reads it.
        QCOMPARE(saved.keychainIdentifier, stored.keychainIdentifier);
        QCOMPARE(saved.mountOptions.retryInterval, 10.0);
        QVERIFY(saved.mountOptions.enableCaching);
        QTRY_COMPARE(fx.mounts.mounted, QList<QUuid>{stored.id});
        QCOMPARE(secretAtMount, QStringLiteral("new secret"));
        // The editor goes on with what was typed.
        QCOMPARE(field(*view, "passwordField")->text(), QStringLiteral("new secret"));

        // An empty password leaves the stored secret alone; a disabled share is not mounted.
        type(field(*view, "passwordField"), QString());
        child<QCheckBox>(view.get(), "autoMountToggle")->setChecked(false);
        view->save();
        QCOMPARE(fx.stored(stored.id)->password, std::nullopt);
        QCOMPARE(fx.stored(stored.id)->isEnabled, false);
        QTest::qWait(50);
        QCOMPARE(fx.keychain.getPassword(stored.keychainIdentifier), QStringLiteral("new secret"));
        QCOMPARE(fx.mounts.mounted.size(), 1);

        // A guest share keeps its leftover text but writes no secret.
        type(field(*view, "passwordField"), QStringLiteral("leftover"));
        chooseAuth(*view, AuthMethod::guest);
        child<QCheckBox>(view.get(), "autoMountToggle")->setChecked(true);
        view->save();
        QTRY_COMPARE(fx.mounts.mounted.size(), 2);
        QCOMPARE(fx.stored(stored.id)->authMethod, AuthMethod::guest);
        QCOMPARE(fx.stored(stored.id)->username, QStringLiteral("carol"));
        QCOMPARE(fx.stored(stored.id)->password, QStringLiteral("leftover"));
        QCOMPARE(fx.keychain.getPassword(stored.keychainIdentifier), QStringLiteral("new secret"));
    }

    void nfsIsSavedAsGuestWithoutCredentials()
    {
        EditorFixture fx;
        const NASConfig blank = fx.addShare(blankShare());
        auto view = fx.open(blank);
        type(field(*view, "nameField"), QStringLiteral("Backup"));
        type(field(*view, "addressField"), QStringLiteral("10.0.0.5"));
        type(field(*view, "sharePathField"), QStringLiteral("/volume1/share"));
        type(field(*view, "usernameField"), QStringLiteral("bob"));
        type(field(*view, "passwordField"), QStringLiteral("pw"));
        choose(*view, "protocolPicker", QStringLiteral("nfs"));
        view->save();
        const NASConfig saved = *fx.stored(blank.id);
        QCOMPARE(saved.protocol, NASProtocol::nfs);
        QCOMPARE(saved.authMethod, AuthMethod::guest);
        QCOMPARE(saved.username, std::nullopt);
        QCOMPARE(saved.password, std::nullopt);
        QCOMPARE(saved.keychainIdentifier, QStringLiteral("nfs-10.0.0.5-/volume1/share"));
        QTRY_COMPARE(fx.mounts.mounted, QList<QUuid>{blank.id});
        QCOMPARE(fx.keychain.getPassword(saved.keychainIdentifier), std::nullopt);
    }

    void aShareStoredWithoutIdentifierGetsItsOwnAtTheFirstSave()
    {
        EditorFixture fx;
        const NASConfig first = fx.addShare(blankShare());
        const NASConfig second = fx.addShare(blankShare());
        const auto fill = [](NASDetailView& view, const QString& address) {
            type(field(view, "nameField"), QStringLiteral("Share"));
            type(field(view, "addressField"), address);
            type(field(view, "sharePathField"), QStringLiteral("media"));
            type(field(view, "usernameField"), QStringLiteral("alice"));
            type(field(view, "passwordField"), QStringLiteral("pw-") + address);
            view.save();
        };
        auto view = fx.open(first);
        fill(*view, QStringLiteral("10.0.0.1"));
        const QString key = KeychainManager::credentialKey(QStringLiteral("10.0.0.1"), QStringLiteral("media"),
            QStringLiteral("alice"));
        QCOMPARE(fx.stored(first.id)->keychainIdentifier, key);
        QTRY_COMPARE(fx.mounts.mounted.size(), 1);
        QCOMPARE(fx.keychain.getPassword(key), QStringLiteral("pw-10.0.0.1"));

        // Kept from then on, in this editor and in the next one.
        fill(*view, QStringLiteral("10.0.0.2"));
        QCOMPARE(fx.stored(first.id)->keychainIdentifier, key);
        QTRY_COMPARE(fx.mounts.mounted.size(), 2);
        QCOMPARE(fx.keychain.getPassword(key), QStringLiteral("pw-10.0.0.2"));
        auto reopened = fx.open(*fx.stored(first.id));
        QCOMPARE(reopened->buildConfig().keychainIdentifier, key);

        auto other = fx.open(second);
        fill(*other, QStringLiteral("10.0.0.3"));
        QVERIFY(fx.stored(second.id)->keychainIdentifier != key);
        QTRY_COMPARE(fx.mounts.mounted.size(), 3);
        QCOMPARE(fx.keychain.getPassword(fx.stored(second.id)->keychainIdentifier), QStringLiteral("pw-10.0.0.3"));
        QCOMPARE(fx.keychain.getPassword(key), QStringLiteral("pw-10.0.0.2"));
    }

    void anEditorOfAnUnstoredShareAddsItOnce()
    {
        EditorFixture fx;
        auto view = fx.open(std::nullopt);
        type(field(*view, "nameField"), QStringLiteral("New"));
        type(field(*view, "addressField"), QStringLiteral("nas.lan"));
        child<QCheckBox>(view.get(), "autoMountToggle")->setChecked(false);
        view->save();
        QCOMPARE(fx.configStore.configs().size(), 1);
        const QUuid id = fx.configStore.configs().first().id;
        QCOMPARE(fx.configStore.configs().first().keychainIdentifier,
            KeychainManager::credentialKey(QStringLiteral("nas.lan"), QString(), std::nullopt));
        type(field(*view, "nameField"), QStringLiteral("Renamed"));
        view->save();
        QCOMPARE(fx.configStore.configs().size(), 1);
        QCOMPARE(fx.stored(id)->name, QStringLiteral("Renamed"));
    }

    void noButtonReactsToReturn()
    {
        EditorFixture fx;
        const NASConfig config = fx.addShare(fullShare());
        auto view = fx.open(config);
        view->activateWindow();
        type(field(*view, "nameField"), QStringLiteral("Renamed"));
        QTest::keyClick(field(*view, "nameField"), Qt::Key_Return);
        for (const char* name : {"saveButton", "testButton", "mountButton"}) {
            QPushButton* focused = button(*view, name);
            focused->setFocus();
            QTest::keyClick(focused, Qt::Key_Return);
            QTest::keyClick(focused, Qt::Key_Enter);
        }
        QTest::qWait(50);
        QCOMPARE(fx.stored(config.id)->name, QStringLiteral("Studio"));
        QVERIFY(fx.mounts.mounted.isEmpty());
        QVERIFY(!view->networkMismatchAlert());
        QVERIFY(fx.pingRuns().isEmpty());
        QCOMPARE(view->testResult(), std::nullopt);
    }
};

VANTREL_TEST_MAIN(TestNASDetailView)
#include "tst_NASDetailView.moc"
