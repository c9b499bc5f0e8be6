#include "views/browser/TransferQueueView.h"

#include "files/TransferManager.h"
#include "platform/Localization.h"
#include "views/browser/TransferListView.h"
#include "views/browser/TransferQueueModel.h"
#include "views/browser/TransferRowDelegate.h"
#include "views/widgets/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <optional>

#include <algorithm>

namespace vantrel {

namespace {

constexpr int headerButtonSize = 20;

QToolButton* headerButton(const QString& objectName)
{
    auto* button = new QToolButton;
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFixedSize(headerButtonSize, headerButtonSize);
    return button;
}

// Keeps the rows exactly as wide as the list shows them.
class ViewportWidthWatcher final : public QObject {
public:
    ViewportWidthWatcher(QListView* list, TransferRowDelegate* delegate)
        : QObject(list)
        , m_list(list)
        , m_delegate(delegate)
    {
        list->viewport()->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            m_delegate->setRowWidth(m_list->viewport()->width());
            // Rows span the width: they are measured again for it.
            m_list->doItemsLayout();
        }
        return false;
    }

private:
    QListView* m_list;
    TransferRowDelegate* m_delegate;
};

} // namespace

TransferQueueView::TransferQueueView(TransferManager& manager, Clock clock, QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_model(new TransferQueueModel(this))
    , m_header(new QWidget)
    , m_count(new QLabel)
    , m_clear(headerButton(QStringLiteral("clearButton")))
    , m_expand(headerButton(QStringLiteral("expandButton")))
    , m_body(new QStackedWidget)
    , m_noTransfers(
          new QLabel(Localization::text(QStringLiteral("transfer.noTransfers"), QStringLiteral("No transfers"))))
    , m_list(new TransferListView)
{
    setObjectName(QStringLiteral("TransferQueueView"));
    QPointer<TransferManager> target(&manager);
    const auto call = [target](void (TransferManager::*method)(const QUuid&)) {
        return [target, method](const QUuid& id) {
            if (target)
                (target->*method)(id);
        };
    };
    m_delegate = new TransferRowDelegate({call(&TransferManager::cancel), call(&TransferManager::pause),
                                             call(&TransferManager::resume), call(&TransferManager::retry)},
        std::move(clock), this);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_header->setObjectName(QStringLiteral("header"));
    m_header->setBackgroundRole(QPalette::Window);
    m_header->setAutoFillBackground(true);
    m_header->setFixedHeight(collapsedHeight);
    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(12, 8, 12, 8);
    auto* title = new QLabel(Localization::text(QStringLiteral("transfer.title"), QStringLiteral("Transfers")));
    title->setObjectName(QStringLiteral("title"));
    title->setTextFormat(Qt::PlainText);
    title->setFont(Theme::systemFont(12, QFont::DemiBold));
    auto* symbol = Theme::symbolLabel(QStringLiteral("arrow.up.arrow.down"), Theme::Color::secondary,
        QFontMetrics(title->font()).height());
    header->addWidget(symbol);
    header->addWidget(title);
    header->addStretch(1);
    m_count->setObjectName(QStringLiteral("activeCount"));
    m_count->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(m_count, Theme::TextStyle::caption);
    Theme::setTint(m_count, Theme::Color::secondary);
    header->addWidget(m_count);
    const int symbolPixels = headerButtonSize - 6;
    Theme::setSymbol(m_clear, QStringLiteral("xmark.circle"), Theme::Color::secondary, symbolPixels);
    m_clear->setToolTip(
        Localization::text(QStringLiteral("transfer.clearCompleted"), QStringLiteral("Clear completed transfers")));
    connect(m_clear, &QToolButton::clicked, this, [this] { m_manager.clearCompleted(); });
    header->addWidget(m_clear);
    connect(m_expand, &QToolButton::clicked, this, [this] { setExpanded(!m_expanded); });
    header->addWidget(m_expand);
    root->addWidget(m_header);

    m_noTransfers->setObjectName(QStringLiteral("noTransfers"));
    m_noTransfers->setTextFormat(Qt::PlainText);
    m_noTransfers->setAlignment(Qt::AlignCenter);
    m_noTransfers->setMinimumHeight(80);
    m_noTransfers->setBackgroundRole(QPalette::Base);
    m_noTransfers->setAutoFillBackground(true);
    Theme::setTextStyle(m_noTransfers, Theme::TextStyle::caption);
    Theme::setTint(m_noTransfers, Theme::Color::secondary);

    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(m_delegate);
    // A row that grows or shrinks moves the rows below it; the others are not measured again.
    disconnect(m_delegate, &QAbstractItemDelegate::sizeHintChanged, m_list, nullptr);
    connect(m_delegate, &QAbstractItemDelegate::sizeHintChanged, m_list, &TransferListView::rowHeightChanged);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setUniformItemSizes(false);
    m_list->setMouseTracking(true);
    m_delegate->attach(m_list);
    new ViewportWidthWatcher(m_list, m_delegate);

    m_body->addWidget(m_noTransfers);
    m_body->addWidget(m_list);
    root->addWidget(m_body, 1);

    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& first, const QModelIndex& last) {
        for (int row = first.row(); row <= last.row(); ++row)
            m_delegate->noteTaskChanged(m_model->index(row));
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        for (int row = first; row <= last; ++row)
            m_delegate->noteTaskChanged(m_model->index(row));
    });
    connect(&m_manager, &TransferManager::tasksUpdated, this, &TransferQueueView::applyChanges);

    setExpanded(true);
    showTasks(m_manager.tasks());
}

TransferQueueView::~TransferQueueView() = default;

void TransferQueueView::setExpanded(bool expanded)
{
    m_expanded = expanded;
    m_body->setVisible(expanded);
    if (expanded) {
        setMinimumHeight(expandedMinimumHeight);
        setMaximumHeight(expandedMaximumHeight);
    } else {
        setFixedHeight(collapsedHeight);
    }
    Theme::setSymbol(m_expand, expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.up"),
        Theme::Color::secondary, headerButtonSize - 6);
    updateGeometry();
}

int TransferQueueView::activeCount() const
{
    return m_model->count(TransferStatus::running) + m_model->count(TransferStatus::pending);
}

bool TransferQueueView::hasCompletedTasks() const
{
    return m_model->count(TransferStatus::completed) + m_model->count(TransferStatus::failed)
        + m_model->count(TransferStatus::cancelled)
        > 0;
}

void TransferQueueView::showTasks(const QList<TransferTask>& tasks)
{
    const int before = m_model->rowCount();
    m_model->setTasks(tasks);
    updateBody(before);
}

void TransferQueueView::applyChanges(const TransferChanges& changes)
{
    const int before = m_model->rowCount();
    m_model->removeTasks(changes.removed);
    std::optional<QUuid> started;
    for (const QUuid& id : changes.changed) {
        if (const std::optional<TransferTask> task = m_manager.task(id)) {
            const int row = m_model->rowOf(id);
            if (!started && task->status == TransferStatus::running && row >= 0
                && m_model->task(row).status != TransferStatus::running)
                started = id;
            m_model->updateTask(*task);
        }
    }
    QList<TransferTask> added;
    added.reserve(changes.added.size());
    for (const QUuid& id : changes.added) {
        if (std::optional<TransferTask> task = m_manager.task(id)) {
            if (!started && task->status == TransferStatus::running)
                started = id;
            added.append(std::move(*task));
        }
    }
    m_model->appendTasks(added);
    updateBody(before);
    if (started)
        revealStarted(*started);
}

bool TransferQueueView::showsRunningRow() const
{
    // Only the rows in view are looked at: a handful, however long the queue.
    const QRect viewport = m_list->viewport()->rect();
    const QModelIndex first = m_list->indexAt(viewport.topLeft());
    if (!first.isValid())
        return false;
    for (int row = first.row(); row < m_model->rowCount(); ++row) {
        const QRect rect = m_list->visualRect(m_model->index(row));
        if (!rect.intersects(viewport))
            break;
        if (m_model->task(row).status == TransferStatus::running)
            return true;
    }
    return false;
}

void TransferQueueView::revealStarted(const QUuid& id)
{
    if (!m_expanded || showsRunningRow())
        return;
    const int row = m_model->rowOf(id);
    if (row >= 0)
        m_list->scrollTo(m_model->index(row), QAbstractItemView::EnsureVisible);
}

void TransferQueueView::updateBody(int rowsBefore)
{
    m_body->setCurrentWidget(m_model->rowCount() == 0 ? static_cast<QWidget*>(m_noTransfers) : m_list);
    updateHeader();
    if (m_model->rowCount() != rowsBefore)
        updateGeometry();
}

void TransferQueueView::updateHeader()
{
    const int active = activeCount();
    m_count->setVisible(active >= 1);
    m_count->setText(
        Localization::plural(QStringLiteral("transfer.activeCount"), QStringLiteral("%lld active"), active));
    m_clear->setEnabled(hasCompletedTasks());
}

QSize TransferQueueView::sizeHint() const
{
    const int width = QWidget::sizeHint().width();
    if (!m_expanded)
        return {width, collapsedHeight};
    int body = m_noTransfers->minimumHeight();
    if (m_model->rowCount() > 0) {
        body = 0;
        QStyleOptionViewItem option;
        for (int row = 0; row < m_model->rowCount() && collapsedHeight + body < expandedMaximumHeight; ++row)
            body += m_delegate->sizeHint(option, m_model->index(row)).height();
    }
    return {width, std::clamp(collapsedHeight + body, expandedMinimumHeight, expandedMaximumHeight)};
}

} // namespace vantrel
