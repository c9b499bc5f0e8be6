#include "views/main/ShareListSidebar.h"

#include "mounting/AppStateManager.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NetworkMonitor.h"
#include "platform/Localization.h"
#include "platform/gui/Symbols.h"
#include "views/main/ShareListModel.h"
#include "views/main/ShareRowDelegate.h"
#include "views/main/StatusIndicator.h"
#include "views/widgets/Theme.h"

#include <QAction>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <functional>

namespace vantrel {

namespace {

// The share list. Only the left button picks a row: a right press is left to the context menu and
// changes nothing else. A mounted row's link is a button inside the row: pressed and released on
// it, it opens the mount point, and it never picks the row.
class ShareListView final : public QListView {
public:
    std::function<void(const QUrl&)> linkActivated;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->accept();
            return;
        }
        m_pressedLink = linkAt(event->position().toPoint());
        if (m_pressedLink.isValid()) {
            event->accept();
            return;
        }
        QListView::mousePressEvent(event);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        // The second click of a double click on the link is one more click of it.
        if (event->button() != Qt::LeftButton || linkAt(event->position().toPoint()).isValid()) {
            mousePressEvent(event);
            return;
        }
        QListView::mouseDoubleClickEvent(event);
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        // A press on the link never turns into a drag that selects.
        if (m_pressedLink.isValid()) {
            event->accept();
            return;
        }
        QListView::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->accept();
            return;
        }
        const QPersistentModelIndex pressed = std::exchange(m_pressedLink, QPersistentModelIndex());
        if (!pressed.isValid()) {
            QListView::mouseReleaseEvent(event);
            return;
        }
        event->accept();
        if (linkAt(event->position().toPoint()) == pressed && linkActivated)
            linkActivated(pressed.data(ShareListModel::LinkRole).toUrl());
    }

private:
    // The row whose link lies under the point; none elsewhere.
    QPersistentModelIndex linkAt(const QPoint& position) const
    {
        const QModelIndex index = indexAt(position);
        if (!index.isValid() || !index.data(ShareListModel::LinkRole).toUrl().isValid())
            return {};
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        return ShareRowDelegate::layout(option, index).link.contains(position) ? QPersistentModelIndex(index)
                                                                               : QPersistentModelIndex();
    }

    QPersistentModelIndex m_pressedLink;
};

} // namespace

ShareListSidebar::ShareListSidebar(NASConfigStore& configStore, AppStateManager& appState, NetworkMonitor& network,
    QWidget* parent)
    : QWidget(parent)
    , m_configStore(configStore)
    , m_pulse(new StatusPulse(this))
    , m_model(new ShareListModel(configStore, appState, network, this))
{
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(minimumListWidth);
    // The hint lies over the list, in the same cell.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    auto* column = new QWidget;
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    QLabel* header = Theme::label(Localization::text(QStringLiteral("main.nasList"), QStringLiteral("NAS 列表")),
        Theme::TextStyle::caption, Theme::Color::secondary);
    header->setObjectName(QStringLiteral("listHeader"));
    header->setWordWrap(false);
    header->setContentsMargins(ShareRowDelegate::inset + 4, 8, ShareRowDelegate::inset, 4);
    columnLayout->addWidget(header);

    auto* list = new ShareListView;
    list->linkActivated = [this](const QUrl& mountPoint) { emit linkActivated(mountPoint); };
    m_list = list;
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
    hintLayout->addWidget(Theme::symbolLabel(QStringLiteral("externaldrive.badge.plus"), Theme::Color::secondary,
                              Theme::symbolSize(Theme::TextStyle::largeTitle)),
        0, Qt::AlignHCenter);
    QLabel* hintText = Theme::label(
        Localization::text(QStringLiteral("main.noConfigs"), QStringLiteral("暂无 NAS 配置")),
        Theme::TextStyle::caption, Theme::Color::secondary);
    hintText->setObjectName(QStringLiteral("hintText"));
    hintText->setAlignment(Qt::AlignHCenter);
    hintLayout->addWidget(hintText, 0, Qt::AlignHCenter);
    grid->addWidget(m_emptyHint, 0, 0, Qt::AlignCenter);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ShareListSidebar::reportPick);
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint& position) {
        const QModelIndex index = m_list->indexAt(position);
        if (!index.isValid())
            return;
        QMenu* menu = makeContextMenu(m_model->configID(index.row()), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(position));
    });
    connect(m_pulse, &StatusPulse::progressChanged, m_list->viewport(), qOverload<>(&QWidget::update));

    // The rows follow the store and the statuses by themselves; the hint and the pulse follow here.
    connect(&configStore, &NASConfigStore::configsChanged, this, &ShareListSidebar::updateEmptyHint);
    connect(&appState, &AppStateManager::nasStatusesChanged, this, &ShareListSidebar::updatePulse);
    // Every published address or Wi-Fi name re-evaluates the badges, an unchanged one included:
    // the badges have no other way to learn of a change of network.
    connect(&network, &NetworkMonitor::currentIPAddressChanged, m_model, &ShareListModel::refreshNetwork);
    connect(&network, &NetworkMonitor::currentSSIDChanged, m_model, &ShareListModel::refreshNetwork);
    connect(m_model, &ShareListModel::networkRefreshed, this, [this] {
        // Rebuilt rows start their pulse afresh.
        if (m_pulse->isRunning())
            m_pulse->start();
    });

    updateEmptyHint();
    updatePulse();
}

void ShareListSidebar::select(const std::optional<QUuid>& configID)
{
    m_selecting = true;
    const int row = configID ? m_model->row(*configID) : -1;
    if (row >= 0) {
        const QModelIndex index = m_model->index(row);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    } else {
        m_list->selectionModel()->clearSelection();
    }
    m_selecting = false;
}

void ShareListSidebar::reportPick()
{
    if (m_selecting)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    std::optional<QUuid> configID;
    if (!selected.isEmpty())
        configID = m_model->configID(selected.first().row());
    emit picked(configID);
}

QMenu* ShareListSidebar::makeContextMenu(const QUuid& configID, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("shareContextMenu"));
    QAction* remove = menu->addAction(Localization::text(QStringLiteral("common.delete"), QStringLiteral("删除")));
    remove->setObjectName(QStringLiteral("delete"));
    remove->setIcon(Symbols::icon(QStringLiteral("trash")));
    remove->setProperty("symbol", QStringLiteral("trash"));
    // Queued: the menu is still closing when the action fires.
    connect(
        remove, &QAction::triggered, this, [this, configID] { emit deleteRequested(configID); }, Qt::QueuedConnection);
    return menu;
}

void ShareListSidebar::updateEmptyHint()
{
    m_emptyHint->setVisible(m_configStore.configs().isEmpty());
}

void ShareListSidebar::updatePulse()
{
    if (m_model->hasMountingRow()) {
        if (!m_pulse->isRunning())
            m_pulse->start();
    } else {
        m_pulse->stop();
    }
}

} // namespace vantrel
