#include "views/browser/FileListView.h"

#include "platform/Localization.h"
#include "platform/gui/Workspace.h"
#include "views/widgets/Spinner.h"
#include "views/widgets/Theme.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

QList<QUrl> localFileUrls(const QMimeData* data)
{
    QList<QUrl> urls;
    if (!data || !data->hasUrls())
        return urls;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            urls.append(url);
    }
    return urls;
}

QLabel* styledLabel(const QString& text, Theme::TextStyle style, qreal opacity, const QString& objectName)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    Theme::setTextStyle(label, style);
    Theme::setTint(label, Theme::Color::secondary, opacity);
    return label;
}

} // namespace

FileListView::FileListView(Workspace& workspace, QWidget* parent)
    : QWidget(parent)
    , m_workspace(workspace)
    , m_model(new FileListModel(this))
    , m_table(new QTableView)
    , m_pages(new QStackedWidget)
    , m_loadingPage(new QWidget)
    , m_emptyPage(new QWidget)
    , m_failedPage(new QWidget)
    , m_failureLabel(nullptr)
{
    setObjectName(QStringLiteral("FileListView"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(m_pages);

    // Loading: a spinner with its label, centred. Not a drop target.
    m_loadingPage->setObjectName(QStringLiteral("loadingPage"));
    auto* loading = new QVBoxLayout(m_loadingPage);
    loading->addStretch();
    auto* spinner = new Spinner(m_loadingPage, 20);
    loading->addWidget(spinner, 0, Qt::AlignHCenter);
    auto* loadingLabel = new QLabel(Localization::text(QStringLiteral("Loading..."), QStringLiteral("Loading...")));
    loadingLabel->setObjectName(QStringLiteral("loadingLabel"));
    loadingLabel->setTextFormat(Qt::PlainText);
    Theme::setTint(loadingLabel, Theme::Color::secondary);
    loading->addWidget(loadingLabel, 0, Qt::AlignHCenter);
    loading->addStretch();

    // Empty: a dimmed folder, a title and a hint; files may be dropped here.
    m_emptyPage->setObjectName(QStringLiteral("emptyPage"));
    auto* empty = new QVBoxLayout(m_emptyPage);
    empty->setSpacing(12);
    empty->addStretch();
    auto* folder = new QLabel;
    folder->setObjectName(QStringLiteral("emptySymbol"));
    Theme::setSymbol(folder, QStringLiteral("folder"), Theme::Color::secondary,
        QFontMetrics(Theme::systemFont(48)).height(), 0.5);
    empty->addWidget(folder, 0, Qt::AlignHCenter);
    empty->addWidget(styledLabel(Localization::text(QStringLiteral("Empty Folder"), QStringLiteral("Empty Folder")),
        Theme::TextStyle::headline, 1.0, QStringLiteral("emptyTitle")));
    empty->addWidget(styledLabel(
        Localization::text(QStringLiteral("Drag files here to upload"), QStringLiteral("Drag files here to upload")),
        Theme::TextStyle::caption, 0.7, QStringLiteral("emptyHint")));
    empty->addStretch();
    m_emptyPage->setAcceptDrops(true);
    m_emptyPage->installEventFilter(this);

    // Failed: what went wrong and a way to try again. Not a drop target: where the folder cannot
    // be listed an upload cannot be checked against what is there.
    m_failedPage->setObjectName(QStringLiteral("failedPage"));
    auto* failed = new QVBoxLayout(m_failedPage);
    failed->setSpacing(12);
    failed->addStretch();
    auto* warning = new QLabel;
    warning->setObjectName(QStringLiteral("failedSymbol"));
    Theme::setSymbol(warning, QStringLiteral("exclamationmark.triangle"), Theme::Color::orange,
        QFontMetrics(Theme::systemFont(48)).height());
    failed->addWidget(warning, 0, Qt::AlignHCenter);
    failed->addWidget(styledLabel(Localization::text(QStringLiteral("browser.listingFailed.title"),
                                      QStringLiteral("This folder could not be listed")),
        Theme::TextStyle::headline, 1.0, QStringLiteral("failedTitle")));
    m_failureLabel = styledLabel(QString(), Theme::TextStyle::caption, 0.7, QStringLiteral("failedMessage"));
    m_failureLabel->setWordWrap(true);
    failed->addWidget(m_failureLabel);
    auto* retry = new QPushButton(Localization::text(QStringLiteral("browser.refresh"), QStringLiteral("Refresh")));
    retry->setObjectName(QStringLiteral("retryButton"));
    retry->setAutoDefault(false);
    Theme::setSymbol(retry, QStringLiteral("arrow.clockwise"), Theme::Color::primary, 16);
    failed->addWidget(retry, 0, Qt::AlignHCenter);
    failed->addStretch();
    connect(retry, &QPushButton::clicked, this, &FileListView::retryRequested);

    m_table->setObjectName(QStringLiteral("fileTable"));
    m_table->setModel(m_model);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->setIconSize(QSize(16, 16));
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* rows = m_table->verticalHeader();
    rows->hide();
    // Fixed heights: a folder of tens of thousands of entries needs no per-row measuring.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(std::max(22, fontMetrics().height() + 8));
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    columns->setMinimumSectionSize(60);
    columns->setSectionResizeMode(FileListModel::nameColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(FileListModel::sizeColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(FileListModel::modifiedColumn, QHeaderView::Interactive);
    columns->resizeSection(FileListModel::sizeColumn, 80);
    columns->resizeSection(FileListModel::modifiedColumn, 140);
    columns->setStretchLastSection(false);
    m_table->setMinimumWidth(150 + 60 + 100);
    m_table->viewport()->setAcceptDrops(true);
    m_table->viewport()->installEventFilter(this);
    // Space previews instead of starting a keyboard search for a blank.
    m_table->installEventFilter(this);

    m_pages->addWidget(m_loadingPage);
    m_pages->addWidget(m_emptyPage);
    m_pages->addWidget(m_failedPage);
    m_pages->addWidget(m_table);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { publishSelection(); });
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        // The row under the pointer, one entry however many are selected.
        if (index.isValid())
            emit openRequested(m_model->item(index.row()));
    });
    connect(m_table, &QWidget::customContextMenuRequested, this, &FileListView::showContextMenu);

    updateState();
}

void FileListView::setItems(const QList<FileItem>& items)
{
    // The selection model reports each removed row; the host hears the outcome once.
    m_applyingListing = true;
    m_model->setItems(items);
    m_applyingListing = false;
    publishSelection();
    updateState();
    // The relative dates move on with every listing.
    m_table->viewport()->update();
}

void FileListView::setLoading(bool isLoading)
{
    m_isLoading = isLoading;
    updateState();
}

void FileListView::setFailure(const std::optional<QString>& message)
{
    m_failure = message;
    m_failureLabel->setText(message.value_or(QString()));
    updateState();
}

void FileListView::updateState()
{
    const bool empty = m_model->rowCount() == 0;
    if (!empty)
        m_state = State::table;
    else if (m_isLoading)
        m_state = State::loading;
    else
        m_state = m_failure ? State::failed : State::empty;
    switch (m_state) {
    case State::loading: m_pages->setCurrentWidget(m_loadingPage); break;
    case State::empty: m_pages->setCurrentWidget(m_emptyPage); break;
    case State::failed: m_pages->setCurrentWidget(m_failedPage); break;
    case State::table: m_pages->setCurrentWidget(m_table); break;
    }
}

void FileListView::publishSelection()
{
    if (m_applyingListing)
        return;
    QSet<QUuid> ids;
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    ids.reserve(selected.size());
    for (const QModelIndex& index : selected)
        ids.insert(m_model->item(index.row()).id);
    if (ids == m_selection)
        return;
    m_selection = ids;
    emit selectionChanged(m_selection);
}

QMenu* FileListView::makeContextMenu(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return nullptr;
    const FileItem item = m_model->item(row);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("fileContextMenu"));
    QAction* open = menu->addAction(Localization::text(QStringLiteral("Open"), QStringLiteral("Open")));
    open->setObjectName(QStringLiteral("open"));
    connect(open, &QAction::triggered, this, [this, item] { emit openRequested(item); });
    menu->addSeparator();
    QAction* reveal = menu->addAction(
        Localization::text(QStringLiteral("Show in Finder"), QStringLiteral("Show in Finder")));
    reveal->setObjectName(QStringLiteral("showInFinder"));
    connect(reveal, &QAction::triggered, this, [this, url = item.url] { m_workspace.selectFile(url); });
    return menu;
}

void FileListView::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_table->indexAt(position);
    if (!index.isValid())
        return;
    QMenu* menu = makeContextMenu(index.row());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_table->viewport()->mapToGlobal(position));
}

bool FileListView::canAccept(const QMimeData* data) const
{
    return m_state != State::loading && m_state != State::failed && !localFileUrls(data).isEmpty();
}

bool FileListView::acceptDrop(const QMimeData* data)
{
    if (!canAccept(data))
        return false;
    emit filesDropped(localFileUrls(data));
    return true;
}

bool FileListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
                emit previewKeyPressed();
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    if (watched != m_emptyPage && watched != m_table->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (canAccept(drag->mimeData()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (acceptDrop(drop->mimeData()))
            drop->acceptProposedAction();
        else
            drop->ignore();
        return true;
    }
    default: return QWidget::eventFilter(watched, event);
    }
}

} // namespace vantrel
