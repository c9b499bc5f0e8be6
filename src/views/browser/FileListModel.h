#pragma once

#include "files/FileItem.h"
#include "platform/Clock.h"
#include "views/widgets/RowMergingModel.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>

namespace vantrel {

// The rows of the file table, one per entry of the listed folder, keyed by the entry's URL.
// Every listing gives its entries new ids, so a new listing is merged into the rows instead of
// replacing them: rows of entries that stayed keep their place (and with it the selection and
// the scroll position), only changed cells are announced, and a listing that changed nothing
// announces nothing.
class FileListModel final : public RowMergingModel<QAbstractTableModel> {
    Q_OBJECT

public:
    enum Column { nameColumn, sizeColumn, modifiedColumn, numberOfColumns };
    enum Role {
        IdRole = Qt::UserRole + 1, // QUuid
        SymbolRole,                // the name column's symbol name
        TintRole,                  // the name of the symbol's or the text's colour
    };

    explicit FileListModel(QObject* parent = nullptr);

    // The "Modified" column is relative to this moment, read whenever a cell is drawn.
    void setClock(Clock now);

    void setItems(const QList<FileItem>& items);
    const QList<FileItem>& items() const { return m_items; }
    const FileItem& item(int row) const { return m_items.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString sizeText(const FileItem& item);

private:
    void reorderLike(const QList<FileItem>& next);
    void refreshRows(const QList<FileItem>& next);
    QIcon symbolIcon(const QString& symbol, bool isDirectory) const;

    QList<FileItem> m_items;
    Clock m_now;
    mutable QHash<QString, QIcon> m_icons;
};

} // namespace vantrel
