#pragma once

#include "files/FileItem.h"
#include "views/browser/FileListModel.h"

#include <QList>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <optional>

class QLabel;
class QMenu;
class QMimeData;
class QStackedWidget;
class QTableView;

namespace vantrel {

class Workspace;

// The body of the file browser: the entries of the listed folder as a table of name, size and
// date, or a loading, empty or failed state while there are none. The host feeds it listings and
// decides what opening, selecting, dropping and trying again mean.
class FileListView final : public QWidget {
    Q_OBJECT

public:
    enum class State { loading, empty, failed, table };

    explicit FileListView(Workspace& workspace, QWidget* parent = nullptr);

    void setItems(const QList<FileItem>& items);
    void setLoading(bool isLoading);
    // Why the folder could not be listed; with no entries this replaces the empty state, which
    // would tell the user the folder is empty.
    void setFailure(const std::optional<QString>& message);
    std::optional<QString> failure() const { return m_failure; }
    const QList<FileItem>& items() const { return m_model->items(); }
    bool isLoading() const { return m_isLoading; }
    State state() const { return m_state; }

    // The ids of the selected entries of the current listing.
    QSet<QUuid> selection() const { return m_selection; }

    FileListModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }

    // The menu for the entry in `row`, whatever is selected; the caller shows it.
    QMenu* makeContextMenu(int row);

    // Whether a drag carrying this data may drop here (file URLs, not on the loading state), and
    // the drop itself: false when it was refused.
    bool canAccept(const QMimeData* data) const;
    bool acceptDrop(const QMimeData* data);

signals:
    // A double-click or the menu's "Open".
    void openRequested(const vantrel::FileItem& item);
    // The whole new selection; also after a listing when its entries came back with new ids.
    void selectionChanged(const QSet<QUuid>& ids);
    // Local files dropped onto the list; never empty.
    void filesDropped(const QList<QUrl>& urls);
    // The failed state's Refresh.
    void retryRequested();
    // Space in the table: the host previews the selected file or closes its preview.
    void previewKeyPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateState();
    void publishSelection();
    void showContextMenu(const QPoint& position);

    Workspace& m_workspace;
    FileListModel* m_model;
    QTableView* m_table;
    QStackedWidget* m_pages;
    QWidget* m_loadingPage;
    QWidget* m_emptyPage;
    QWidget* m_failedPage;
    QLabel* m_failureLabel;
    bool m_isLoading = false;
    std::optional<QString> m_failure;
    bool m_applyingListing = false;
    State m_state = State::empty;
    QSet<QUuid> m_selection;
};

} // namespace vantrel
