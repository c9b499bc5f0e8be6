#include "views/browser/FileListModel.h"

#include "platform/Formatters.h"
#include "platform/Localization.h"
#include "platform/gui/Symbols.h"
#include "views/widgets/Theme.h"

#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <numeric>
#include <utility>

namespace vantrel {

FileListModel::FileListModel(QObject* parent)
    : RowMergingModel(parent)
    , m_now(systemNow)
{
}

void FileListModel::setClock(Clock now)
{
    m_now = now ? std::move(now) : Clock(systemNow);
}

void FileListModel::setItems(const QList<FileItem>& next)
{
    const bool sameRows = m_items.size() == next.size()
        && std::equal(m_items.cbegin(), m_items.cend(), next.cbegin(),
            [](const FileItem& a, const FileItem& b) { return a.url == b.url; });
    if (!sameRows) {
        QSet<QUrl> nextUrls;
        nextUrls.reserve(next.size());
        for (const FileItem& item : next)
            nextUrls.insert(item.url);
        removeRowsUnless(m_items, [&nextUrls](const FileItem& item) { return nextUrls.contains(item.url); });
        reorderLike(next);
        QSet<QUrl> existing;
        existing.reserve(m_items.size());
        for (const FileItem& item : std::as_const(m_items))
            existing.insert(item.url);
        insertRowsNotIn(m_items, next, [&existing](const FileItem& item) { return existing.contains(item.url); });
    }
    refreshRows(next);
}

void FileListModel::reorderLike(const QList<FileItem>& next)
{
    QHash<QUrl, qsizetype> position;
    position.reserve(next.size());
    for (qsizetype i = 0; i < next.size(); ++i)
        position.insert(next.at(i).url, i);
    const auto before = [&](const FileItem& a, const FileItem& b) {
        return position.value(a.url) < position.value(b.url);
    };
    if (std::is_sorted(m_items.cbegin(), m_items.cend(), before))
        return;

    // Rare (a name that changed its sort place, a language change): move the rows and their
    // persistent indexes, so that the selection follows its entries.
    emit layoutAboutToBeChanged();
    std::vector<qsizetype> order(static_cast<size_t>(m_items.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [&](qsizetype a, qsizetype b) { return before(m_items.at(a), m_items.at(b)); });
    std::vector<int> newRowOf(order.size());
    QList<FileItem> reordered;
    reordered.reserve(m_items.size());
    for (size_t newRow = 0; newRow < order.size(); ++newRow) {
        newRowOf[static_cast<size_t>(order[newRow])] = int(newRow);
        reordered.append(m_items.at(order[newRow]));
    }
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(this->index(newRowOf[static_cast<size_t>(index.row())], index.column()));
    m_items = std::move(reordered);
    changePersistentIndexList(from, to);
    emit layoutChanged();
}

void FileListModel::refreshRows(const QList<FileItem>& next)
{
    // Same URLs, row for row; the ids are new in any case.
    QList<std::pair<int, int>> changed;
    for (qsizetype row = 0; row < next.size(); ++row) {
        if (m_items.at(row).describesTheSame(next.at(row)))
            continue;
        if (!changed.isEmpty() && changed.last().second == row - 1)
            changed.last().second = int(row);
        else
            changed.append({int(row), int(row)});
    }
    QList<FileItem> previous = std::exchange(m_items, next);
    // Freeing tens of thousands of entries takes milliseconds the interface can use; it needs no
    // particular thread (only the last owner frees, and that is this list).
    if (previous.size() > 1000 && !previous.isSharedWith(m_items))
        QThreadPool::globalInstance()->start([previous = std::move(previous)]() mutable { previous.clear(); });
    for (const auto& [first, last] : std::as_const(changed))
        emit dataChanged(index(first, 0), index(last, numberOfColumns - 1));
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : numberOfColumns;
}

QString FileListModel::sizeText(const FileItem& item)
{
    if (item.isDirectory || item.size < 0)
        return QStringLiteral("--");
    return Formatters::fileByteCount(item.size);
}

QIcon FileListModel::symbolIcon(const QString& symbol, bool isDirectory) const
{
    const QString key = symbol + (isDirectory ? QStringLiteral("|accent") : QStringLiteral("|secondary"));
    auto found = m_icons.constFind(key);
    if (found != m_icons.cend())
        return *found;
    const QColor tint = Theme::color(isDirectory ? Theme::Color::accent : Theme::Color::secondary);
    QIcon icon;
    for (const int size : {16, 32, 48})
        icon.addPixmap(Symbols::tinted(symbol, tint, size));
    m_icons.insert(key, icon);
    return icon;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const FileItem& item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case nameColumn: return item.name;
        case sizeColumn: return sizeText(item);
        case modifiedColumn: return Formatters::relativeDateNumericShort(item.modificationDate, m_now());
        default: return {};
        }
    case Qt::DecorationRole:
        if (index.column() == nameColumn)
            return symbolIcon(item.iconName(), item.isDirectory);
        return {};
    case Qt::ForegroundRole:
        if (index.column() != nameColumn)
            return Theme::color(Theme::Color::secondary);
        return {};
    case IdRole: return item.id;
    case SymbolRole: return index.column() == nameColumn ? QVariant(item.iconName()) : QVariant();
    case TintRole:
        if (index.column() == nameColumn)
            return Theme::name(item.isDirectory ? Theme::Color::accent : Theme::Color::secondary);
        return Theme::name(Theme::Color::secondary);
    default: return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case nameColumn: return Localization::text(QStringLiteral("Name"), QStringLiteral("Name"));
    case sizeColumn: return Localization::text(QStringLiteral("Size"), QStringLiteral("Size"));
    case modifiedColumn: return Localization::text(QStringLiteral("Modified"), QStringLiteral("Modified"));
    default: return {};
    }
}

} // namespace vantrel
