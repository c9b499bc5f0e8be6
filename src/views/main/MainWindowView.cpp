#include "views/main/MainWindowView.h"

#include "mounting/AppStateManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/MountEngine.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "platform/AppInfo.h"
#include "platform/Localization.h"
#include "platform/gui/Symbols.h"
#include "platform/gui/Workspace.h"
#include "services/KeychainManager.h"
#include "views/main/AboutView.h"
#include "views/main/NASDetailView.h"
#include "views/main/ShareListModel.h"
#include "views/main/ShareRowDelegate.h"
#include "views/main/StatusIndicator.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FlowLayout.h"
#include "views/widgets/Theme.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QLabel* symbolLabel(const QString& symbol, Theme::Color tint, int pixelSize, const QString& objectName = {})
{
    auto* label = new QLabel;
    label->setObjectName(objectName.isEmpty() ? QStringLiteral("symbol") : objectName);
    Theme::setSymbol(label, symbol, tint, pixelSize);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return label;
}

QLabel* textLabel(const QString& text, Theme::TextStyle style, Theme::Color tint, const QString& objectName)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(label, style);
    Theme::setTint(label, tint);
    return label;
}

ElidedLabel* elidedLabel(const QString& text, Theme::TextStyle style, Theme::Color tint, const QString& objectName)
{
    auto* label = new ElidedLabel(text);
    label->setObjectName(objectName);
    Theme::setTextStyle(label, style);
    Theme::setTint(label, tint);
    return label;
}

// A rounded card on the control background with a hairline border.
class CardFrame final : public QFrame {
public:
    explicit CardFrame(QWidget* parent = nullptr)
        : QFrame(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(bounds, 8, 8);
        painter.fillPath(shape, Theme::color(Theme::Color::controlBackground, palette()));
        painter.setPen(QPen(Theme::color(Theme::Color::separator, palette()), 1));
        painter.drawPath(shape);
    }
};

} // namespace

MainWindowView::MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
    QWidget* parent)
    : MainWindowView(appState, configStore, std::move(openWindow), Services{}, parent)
{
}

MainWindowView::MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
    Services services, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_openWindow(std::move(openWindow))
    , m_network(services.network ? *services.network : NetworkMonitor::shared())
    , m_workspace(services.workspace ? *services.workspace : Workspace::shared())
    , m_mounts(services.mounts)
    , m_engine(services.engine)
    , m_keychain(services.keychain)
    , m_editorFactory(&MainWindowView::makeEditor)
{
    setObjectName(QStringLiteral("MainWindowView"));

    m_pulse = new StatusPulse(this);
    m_model = new ShareListModel(m_configStore, m_appState, m_network, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = buildToolbar();
    layout->addWidget(m_toolbar);
    auto* toolbarLine = new QFrame;
    toolbarLine->setFrameShape(QFrame::HLine);
    toolbarLine->setFrameShadow(QFrame::Sunken);
    layout->addWidget(toolbarLine);

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(buildSidebar());
    m_splitter->addWidget(buildDetailColumn());
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({sidebarIdealWidth, minimumContentWidth - sidebarIdealWidth});
    layout->addWidget(m_splitter, 1);

    // The list follows the store and the statuses by itself; the rest of the window follows here.
    connect(&m_configStore, &NASConfigStore::configsChanged, this, [this] {
        updateEmptyHint();
        updateDetail();
    });
    connect(&m_appState, &AppStateManager::nasStatusesChanged, this, [this] {
        updateDetail();
        updatePulse();
    });
    // Every published address or Wi-Fi name re-evaluates the badges, an unchanged one included:
    // the badges have no other way to learn of a change of network.
    connect(&m_network, &NetworkMonitor::currentIPAddressChanged, m_model, &ShareListModel::refreshNetwork);
    connect(&m_network, &NetworkMonitor::currentSSIDChanged, m_model, &ShareListModel::refreshNetwork);
    connect(m_model, &ShareListModel::networkRefreshed, this, [this] {
        // Rebuilt rows start their pulse afresh.
        if (m_pulse->isRunning())
            m_pulse->start();
    });

    updateEmptyHint();
    updateDetail();
    updatePulse();
}

MainWindowView::~MainWindowView() = default;

MountControl& MainWindowView::mounts()
{
    if (!m_mounts)
        m_mounts = &AutoMountStrategy::shared();
    return *m_mounts;
}

MountEngine& MainWindowView::engine()
{
    if (!m_engine)
        m_engine = &MountEngine::shared();
    return *m_engine;
}

KeychainManager& MainWindowView::keychain()
{
    if (!m_keychain)
        m_keychain = &KeychainManager::shared();
    return *m_keychain;
}

QUuid MainWindowView::networkRefreshID() const
{
    return m_model->networkRefreshID();
}

// ---- toolbar ------------------------------------------------------------------------------------

QToolBar* MainWindowView::buildToolbar()
{
    auto* toolbar = new QToolBar;
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const int iconSize = Theme::symbolSize(Theme::TextStyle::title3);
    toolbar->setIconSize(QSize(iconSize, iconSize));

    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    const auto addButton = [&](const QString& name, const QString& symbol, const QString& tooltip,
                               void (MainWindowView::*action)()) {
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setAutoRaise(true);
        button->setToolTip(tooltip);
        button->setAccessibleName(tooltip);
        Theme::setSymbol(button, symbol, Theme::Color::primary, iconSize);
        connect(button, &QToolButton::clicked, this, action);
        toolbar->addWidget(button);
        return button;
    };
    addButton(QStringLiteral("toolbar.about"), QStringLiteral("info.circle"),
        Localization::text(QStringLiteral("main.about"), QStringLiteral("关于 Vantrel")), &MainWindowView::showAbout);
    addButton(QStringLiteral("toolbar.settings"), QStringLiteral("gear"),
        Localization::text(QStringLiteral("main.openSettings"), QStringLiteral("打开设置")),
        &MainWindowView::openSettings);
    QToolButton* add = addButton(QStringLiteral("toolbar.add"), QStringLiteral("plus"),
        Localization::text(QStringLiteral("main.addNASTooltip"), QStringLiteral("添加新的 NAS 配置")),
        &MainWindowView::addNAS);
    // The primary action carries its title beside the symbol.
    add->setText(Localization::text(QStringLiteral("main.addNAS"), QStringLiteral("添加 NAS")));
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return toolbar;
}

void MainWindowView::showAbout()
{
    const QString title = AboutView::windowTitle();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isWindow() && window->windowTitle() == title) {
            if (window->isMinimized())
                window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->show();
            window->raise();
            window->activateWindow();
            return;
        }
    }
    // Kept when closed, so the next call finds it again.
    QWidget* window = AboutView::makeWindow(new AboutView(AppInfo::infoDictionary(), m_workspace));
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindowView::openSettings()
{
    if (m_openWindow)
        m_openWindow(settingsWindowID);
}

NASConfig MainWindowView::newConfig()
{
    NASConfig config;
    config.id = QUuid::createUuid();
    config.name = QString();
    config.isEnabled = true;
    config.protocol = NASProtocol::smb;
    config.address = QString();
    config.sharePath = QString();
    config.authMethod = AuthMethod::password;
    config.username = std::nullopt;
    config.password = std::nullopt;
    config.keychainIdentifier = QString();
    config.mountOptions.smbVersion = SMBVersion::automatic;
    config.mountOptions.readOnly = false;
    config.mountOptions.customMountPoint = std::nullopt;
    config.mountOptions.connectionTimeout = 30;
    config.mountOptions.retryCount = 3;
    config.mountOptions.retryInterval = 10.0;
    config.mountOptions.enableCaching = true;
    config.networkBinding.strategy = NetworkBindingStrategy::ipRange;
    config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
    config.networkBinding.ssidList = {};
    return config;
}

void MainWindowView::addNAS()
{
    const NASConfig config = newConfig();
    if (m_configStore.addConfig(config))
        setSelectedConfigID(config.id);
}

// ---- sidebar ------------------------------------------------------------------------------------

QWidget* MainWindowView::buildSidebar()
{
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(sidebarMinimumWidth);
    // The hint lies over the list, in the same cell.
    auto* grid = new QGridLayout(sidebar);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    auto* column = new QWidget;
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    auto* header = textLabel(Localization::text(QStringLiteral("main.nasList"), QStringLiteral("NAS 列表")),
        Theme::TextStyle::caption, Theme::Color::secondary, QStringLiteral("listHeader"));
    header->setContentsMargins(ShareRowDelegate::inset + 4, 8, ShareRowDelegate::inset, 4);
    columnLayout->addWidget(header);

    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("shareList"));
    m_list->setModel(m_model);
    auto* delegate = new ShareRowDelegate(m_pulse, m_list);
    m_list->setItemDelegate(delegate);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(false);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setMouseTracking(true);
    columnLayout->addWidget(m_list, 1);
    grid->addWidget(column, 0, 0);

    m_emptyHint = new QWidget;
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* hintLayout = new QVBoxLayout(m_emptyHint);
    hintLayout->setSpacing(8);
    hintLayout->addWidget(symbolLabel(QStringLiteral("externaldrive.badge.plus"), Theme::Color::secondary,
                              Theme::symbolSize(Theme::TextStyle::largeTitle)),
        0, Qt::AlignHCenter);
    auto* hintText = textLabel(Localization::text(QStringLiteral("main.noConfigs"), QStringLiteral("暂无 NAS 配置")),
        Theme::TextStyle::caption, Theme::Color::secondary, QStringLiteral("hintText"));
    hintText->setAlignment(Qt::AlignHCenter);
    hintText->setWordWrap(true);
    hintLayout->addWidget(hintText, 0, Qt::AlignHCenter);
    grid->addWidget(m_emptyHint, 0, 0, Qt::AlignCenter);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindowView::syncSelectionFromList);
    connect(delegate, &ShareRowDelegate::linkActivated, this, &MainWindowView::openInFinder);
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint& position) {
        const QModelIndex index = m_list->indexAt(position);
        if (!index.isValid())
            return;
        QMenu* menu = makeContextMenu(m_model->configID(index.row()), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(position));
    });
    connect(m_pulse, &StatusPulse::progressChanged, m_list->viewport(), qOverload<>(&QWidget::update));
    return sidebar;
}

QMenu* MainWindowView::makeContextMenu(const QUuid& configID, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("shareContextMenu"));
    QAction* remove = menu->addAction(Localization::text(QStringLiteral("common.delete"), QStringLiteral("删除")));
    remove->setObjectName(QStringLiteral("delete"));
    remove->setIcon(Symbols::icon(QStringLiteral("trash")));
    remove->setProperty("symbol", QStringLiteral("trash"));
    // Queued: the menu is still closing when the action fires.
    connect(
        remove, &QAction::triggered, this, [this, configID] { deleteConfig(configID); }, Qt::QueuedConnection);
    return menu;
}

void MainWindowView::deleteConfig(const QUuid& configID)
{
    const bool wasSelected = m_selectedConfigID == configID;
    m_configStore.deleteConfig(configID);
    if (wasSelected)
        clearSelection();
}

void MainWindowView::openInFinder(const QUrl& mountPoint)
{
    m_workspace.open(mountPoint);
}

void MainWindowView::updateEmptyHint()
{
    m_emptyHint->setVisible(m_configStore.configs().isEmpty());
}

void MainWindowView::updatePulse()
{
    if (m_model->hasMountingRow()) {
        if (!m_pulse->isRunning())
            m_pulse->start();
    } else {
        m_pulse->stop();
    }
}

// ---- selection ----------------------------------------------------------------------------------

void MainWindowView::setSelectedConfigID(const std::optional<QUuid>& configID)
{
    if (configID == m_selectedConfigID)
        return;
    m_selectedConfigID = configID;
    syncListSelection();
    updateDetail();
    emit selectedConfigIDChanged(m_selectedConfigID);
}

void MainWindowView::syncListSelection()
{
    m_syncingSelection = true;
    const int row = m_selectedConfigID ? m_model->row(*m_selectedConfigID) : -1;
    if (row >= 0) {
        const QModelIndex index = m_model->index(row);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    } else {
        m_list->selectionModel()->clearSelection();
    }
    m_syncingSelection = false;
}

void MainWindowView::syncSelectionFromList()
{
    if (m_syncingSelection)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    std::optional<QUuid> configID;
    if (!selected.isEmpty())
        configID = m_model->configID(selected.first().row());
    if (configID == m_selectedConfigID)
        return;
    m_selectedConfigID = configID;
    updateDetail();
    emit selectedConfigIDChanged(m_selectedConfigID);
}

// ---- detail column ------------------------------------------------------------------------------

QWidget* MainWindowView::buildDetailColumn()
{
    m_detail = new QStackedWidget;
    m_detail->setObjectName(QStringLiteral("detailColumn"));

    m_editorPage = new QWidget;
    m_editorPage->setObjectName(QStringLiteral("editorPage"));
    m_editorLayout = new QVBoxLayout(m_editorPage);
    m_editorLayout->setContentsMargins(0, 0, 0, 0);
    m_detail->addWidget(m_editorPage);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("mountedFolders"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* section = new QWidget;
    auto* sectionLayout = new QVBoxLayout(section);
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    sectionLayout->setContentsMargins(side, 24, side, 24);
    sectionLayout->setSpacing(16);
    auto* title = textLabel(
        Localization::text(QStringLiteral("main.mountedFoldersTitle"), QStringLiteral("已挂载的文件夹")),
        Theme::TextStyle::title2, Theme::Color::primary, QStringLiteral("mountedFoldersTitle"));
    title->setAlignment(Qt::AlignHCenter);
    sectionLayout->addWidget(title);
    m_cardsHost = new QWidget;
    m_cardsHost->setObjectName(QStringLiteral("mountedFolderCards"));
    m_cards = new FlowLayout(cardMinimumWidth, m_cardsHost);
    m_cards->setContentsMargins(0, 0, 0, 0);
    m_cards->setRowSpacing(16);
    sectionLayout->addWidget(m_cardsHost);
    sectionLayout->addStretch();
    scroll->setWidget(section);
    m_mountedPage = scroll;
    m_detail->addWidget(m_mountedPage);

    m_placeholder = buildPlaceholder();
    m_detail->addWidget(m_placeholder);
    return m_detail;
}

QWidget* MainWindowView::buildPlaceholder()
{
    auto* placeholder = new QWidget;
    placeholder->setObjectName(QStringLiteral("detailPlaceholder"));
    auto* layout = new QVBoxLayout(placeholder);
    layout->setSpacing(12);
    layout->addStretch();
    layout->addWidget(symbolLabel(QStringLiteral("externaldrive.connected.to.line.below"), Theme::Color::secondary,
                          QFontMetrics(Theme::systemFont(48)).height()),
        0, Qt::AlignHCenter);
    auto* title = textLabel(
        Localization::text(QStringLiteral("main.selectOrAddNAS"), QStringLiteral("选择或添加一台 NAS")),
        Theme::TextStyle::title3, Theme::Color::secondary, QStringLiteral("placeholderTitle"));
    title->setAlignment(Qt::AlignHCenter);
    title->setWordWrap(true);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto* hint = textLabel(Localization::text(QStringLiteral("main.emptyDetailHint"),
                               QStringLiteral("从左侧列表选择已有配置，或点击上方按钮添加新的 NAS")),
        Theme::TextStyle::caption, Theme::Color::tertiary, QStringLiteral("placeholderHint"));
    hint->setAlignment(Qt::AlignHCenter);
    hint->setWordWrap(true);
    hint->setMaximumWidth(250);
    layout->addWidget(hint, 0, Qt::AlignHCenter);
    layout->addStretch();
    return placeholder;
}

QWidget* MainWindowView::buildMountedFolderCard(const MountedEntry& entry)
{
    auto* card = new CardFrame;
    card->setObjectName(QStringLiteral("mountedFolderCard"));
    card->setProperty("configID", entry.config.id);
    auto* layout = new QVBoxLayout(card);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(symbolLabel(QStringLiteral("externaldrive.fill"), Theme::Color::green,
        Theme::symbolSize(Theme::TextStyle::title2)));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(
        elidedLabel(entry.config.name, Theme::TextStyle::headline, Theme::Color::primary, QStringLiteral("name")));
    names->addWidget(elidedLabel(entry.config.address, Theme::TextStyle::caption, Theme::Color::secondary,
        QStringLiteral("address")));
    header->addLayout(names, 1);
    layout->addLayout(header);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    if (entry.status.mountPoint) {
        const QUrl mountPoint = *entry.status.mountPoint;
        auto* pathRow = new QHBoxLayout;
        pathRow->setSpacing(4);
        pathRow->addWidget(symbolLabel(QStringLiteral("folder"), Theme::Color::secondary,
            Theme::symbolSize(Theme::TextStyle::caption)));
        pathRow->addWidget(elidedLabel(mountPoint.toLocalFile(), Theme::TextStyle::caption, Theme::Color::secondary,
                               QStringLiteral("path")),
            1);
        layout->addLayout(pathRow);

        auto* open = new QPushButton(
            Localization::text(QStringLiteral("main.openInFinder"), QStringLiteral("在 Finder 中打开")));
        open->setObjectName(QStringLiteral("openInFinder"));
        Theme::setTextStyle(open, Theme::TextStyle::callout);
        Theme::setSymbol(open, QStringLiteral("arrow.up.forward.app"), Theme::Color::primary,
            Theme::symbolSize(Theme::TextStyle::callout));
        connect(open, &QPushButton::clicked, this, [this, mountPoint] { openInFinder(mountPoint); });
        layout->addWidget(open, 0, Qt::AlignLeft);
    }
    return card;
}

QList<MainWindowView::MountedEntry> MainWindowView::mountedEntries() const
{
    QList<MountedEntry> entries;
    for (const NASConfig& config : m_configStore.configs()) {
        const std::optional<NASStatus> status = m_appState.status(config.id);
        if (status && status->mountState.is(MountState::Kind::mounted) && status->mountPoint)
            entries.append({config, *status});
    }
    return entries;
}

void MainWindowView::setEditorFactory(EditorFactory factory)
{
    m_editorFactory = std::move(factory);
    // The next selection builds with it; a shown editor is rebuilt now.
    if (m_editor) {
        m_editorConfigID = QUuid();
        updateDetail();
    }
}

QWidget* MainWindowView::makeEditor(MainWindowView& view, const NASConfig& config)
{
    // The editor's close action runs inside its own button's click; the view lets it go later.
    return new NASDetailView(config,
        [view = QPointer<MainWindowView>(&view)] {
            if (view)
                view->clearSelection();
        },
        {view.configStore(), view.appState(), view.mounts(), view.engine(), view.network(), view.keychain(),
            view.workspace()});
}

QSize MainWindowView::minimumSizeHint() const
{
    return QWidget::minimumSizeHint().expandedTo(QSize(minimumContentWidth, minimumContentHeight));
}

QWidget* MainWindowView::currentDetail() const
{
    QWidget* page = m_detail->currentWidget();
    return page == m_editorPage ? m_editor.data() : page;
}

void MainWindowView::updateDetail()
{
    const std::optional<NASConfig> selected = m_selectedConfigID ? m_configStore.config(*m_selectedConfigID)
                                                                 : std::nullopt;
    if (selected) {
        if (!m_editor || m_editorConfigID != selected->id) {
            if (m_editor) {
                // The editor may be the one asking (its close action): it goes once it returns.
                m_editor->hide();
                m_editor->deleteLater();
            }
            m_editor = m_editorFactory ? m_editorFactory(*this, *selected) : nullptr;
            m_editorConfigID = selected->id;
            if (m_editor)
                m_editorLayout->addWidget(m_editor);
        }
        m_detail->setCurrentWidget(m_editorPage);
        return;
    }
    if (m_editor) {
        m_editor->hide();
        m_editor->deleteLater();
        m_editor = nullptr;
        m_editorConfigID = QUuid();
    }
    const QList<MountedEntry> entries = mountedEntries();
    updateMountedFolders(entries);
    m_detail->setCurrentWidget(entries.isEmpty() ? m_placeholder : m_mountedPage);
}

void MainWindowView::updateMountedFolders(const QList<MountedEntry>& entries)
{
    if (entries == m_shownEntries)
        return;
    m_shownEntries = entries;
    while (QLayoutItem* item = m_cards->takeAt(0)) {
        if (QWidget* card = item->widget()) {
            card->hide();
            card->deleteLater();
        }
        delete item;
    }
    for (const MountedEntry& entry : entries)
        m_cards->addWidget(buildMountedFolderCard(entry));
}

} // namespace vantrel
