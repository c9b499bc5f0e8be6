#include "views/main/NASDetailForm.h"

#include "platform/Localization.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/Picker.h"
#include "views/widgets/PromptField.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vantrel {

namespace {

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
    auto* label = NASDetailForm::caption(text, row);
    label->setObjectName(QStringLiteral("text"));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    return row;
}

PromptField* textField(const QString& objectName, const QString& text, const QString& prompt, QWidget* parent)
{
    auto* field = new PromptField(text, parent);
    field->setObjectName(objectName);
    field->setPrompt(prompt);
    return field;
}

template <typename E>
QComboBox* enumPicker(const QString& objectName, E selected, QWidget* parent)
{
    auto* picker = new Picker(parent);
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

NASDetailForm::NASDetailForm(FormPage* page, const NASConfig& source)
    : QObject(page)
    , m_page(page)
    , m_protocol(source.protocol)
    , m_authMethod(source.authMethod)
{
    buildBasicInfoSection(source);
    buildAuthSection(source);
    buildMountOptionsSection(source);
    connect(m_name, &QLineEdit::textChanged, this, &NASDetailForm::requiredFieldsEdited);
    connect(m_address, &QLineEdit::textChanged, this, &NASDetailForm::requiredFieldsEdited);
    connect(m_address, &QLineEdit::textChanged, this, &NASDetailForm::connectionFieldsEdited);
    connect(m_protocolPicker, &SegmentedControl::activated, this, &NASDetailForm::connectionFieldsEdited);
    updateProtocolRows();
}

void NASDetailForm::buildBasicInfoSection(const NASConfig& source)
{
    m_basicSection = m_page->addSection(
        Localization::text(QStringLiteral("nas.basicInfo"), QStringLiteral("基本信息")));
    m_basicSection->setObjectName(QStringLiteral("basicInfoSection"));
    m_name = textField(QStringLiteral("nameField"), source.name,
        Localization::text(QStringLiteral("nas.namePlaceholder"), QStringLiteral("例如：家庭 NAS")), m_basicSection);
    m_address = textField(QStringLiteral("addressField"), source.address,
        Localization::text(QStringLiteral("nas.addressPlaceholder"), QStringLiteral("例如：192.168.1.100")),
        m_basicSection);
    m_sharePath = textField(QStringLiteral("sharePathField"), source.sharePath, {}, m_basicSection);

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
    // Its label and prompt follow the protocol; the label names it to assistive technology.
    auto* sharePathLabel = new QLabel(m_basicSection);
    sharePathLabel->setBuddy(m_sharePath);
    form->addRow(sharePathLabel, m_sharePath);
}

void NASDetailForm::buildAuthSection(const NASConfig& source)
{
    m_authSection = m_page->addSection();
    m_authSection->setObjectName(QStringLiteral("authSection"));
    m_username = textField(QStringLiteral("usernameField"), source.username.value_or(QString()),
        Localization::text(QStringLiteral("nas.usernamePlaceholder"), QStringLiteral("登录用户名")), m_authSection);
    m_password = textField(QStringLiteral("passwordField"), source.password.value_or(QString()),
        Localization::text(QStringLiteral("nas.passwordPlaceholder"), QStringLiteral("登录密码")), m_authSection);

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

void NASDetailForm::buildMountOptionsSection(const NASConfig& source)
{
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

    QFormLayout* form = m_optionsSection->form();
    form->addRow(Localization::text(QStringLiteral("nas.smbVersion"), QStringLiteral("SMB 版本")), m_smbVersionPicker);

    m_nfsMountOptions = buildNFSMountOptions();
    m_optionsSection->addWideRow(m_nfsMountOptions);

    // One row for both: the form wraps each row by its own width, which would put the longer box
    // under the labels and the shorter beside them.
    auto* toggles = new QWidget(m_optionsSection);
    toggles->setObjectName(QStringLiteral("mountToggles"));
    auto* togglesLayout = new QVBoxLayout(toggles);
    togglesLayout->setContentsMargins(0, 0, 0, 0);
    togglesLayout->setSpacing(form->verticalSpacing() >= 0
            ? form->verticalSpacing()
            : toggles->style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    togglesLayout->addWidget(m_readOnly);
    togglesLayout->addWidget(m_isEnabled);
    form->addRow(static_cast<QWidget*>(nullptr), toggles);

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

// The fixed options an NFS mount uses, in place of the SMB version.
QWidget* NASDetailForm::buildNFSMountOptions()
{
    auto* options = new QWidget(m_optionsSection);
    options->setObjectName(QStringLiteral("nfsMountOptions"));
    auto* nfsLayout = new QVBoxLayout(options);
    nfsLayout->setContentsMargins(0, 2, 0, 2);
    nfsLayout->setSpacing(4);
    auto* nfsTitle = new QWidget(options);
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
        options);
    detail->setObjectName(QStringLiteral("nfsMountOptionsDetail"));
    nfsLayout->addWidget(detail);
    return options;
}

void NASDetailForm::alignLabelColumns()
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

void NASDetailForm::setProtocol(NASProtocol protocol)
{
    m_protocol = protocol;
    m_protocolPicker->setValue(rawValue(protocol));
    updateProtocolRows();
}

void NASDetailForm::setAuthMethod(AuthMethod method)
{
    m_authMethod = method;
    if (pickedValue<AuthMethod>(m_authMethodPicker) != method) {
        const QSignalBlocker blocker(m_authMethodPicker);
        m_authMethodPicker->setCurrentIndex(int(allCases<AuthMethod>().indexOf(method)));
    }
    updateProtocolRows();
}

void NASDetailForm::updateProtocolRows()
{
    // Hidden rows keep what was typed in them; saving decides what is stored.
    const bool nfs = m_protocol == NASProtocol::nfs;
    QFormLayout* basic = m_basicSection->form();
    basic->setRowVisible(m_nfsVersionNote, nfs);
    setLabelText(basic, m_sharePath,
        nfs ? Localization::text(QStringLiteral("nfs.sharePath"), QStringLiteral("NFS 导出路径"))
            : Localization::text(QStringLiteral("nas.sharePath"), QStringLiteral("共享路径")));
    m_sharePath->setPrompt(nfs
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

QString NASDetailForm::name() const
{
    return m_name->text();
}

QString NASDetailForm::address() const
{
    return m_address->text();
}

NASConfig NASDetailForm::config(const QUuid& id) const
{
    const auto unlessEmpty = [](const QString& text) {
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    };
    NASConfig config;
    config.id = id;
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
    config.mountOptions = fixedMountOptions();
    config.mountOptions.smbVersion = pickedValue<SMBVersion>(m_smbVersionPicker);
    config.mountOptions.readOnly = m_readOnly->isChecked();
    config.mountOptions.customMountPoint = unlessEmpty(m_customMountPoint->text());
    return config;
}

QLabel* NASDetailForm::caption(const QString& text, QWidget* parent)
{
    return Theme::label(text, Theme::TextStyle::caption, Theme::Color::secondary, parent);
}

void NASDetailForm::neverDefault(QPushButton* button)
{
    button->setAutoDefault(false);
    button->setDefault(false);
}

MountOptions NASDetailForm::fixedMountOptions()
{
    MountOptions options;
    options.connectionTimeout = 30;
    options.retryCount = 3;
    options.retryInterval = 10.0;
    options.enableCaching = true;
    return options;
}

} // namespace vantrel
