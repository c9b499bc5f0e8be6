#pragma once

#include "model/AppState.h"
#include "model/NASConfig.h"

#include <QList>
#include <QPointer>
#include <QStackedWidget>
#include <QUrl>
#include <QUuid>

#include <functional>

class QVBoxLayout;

namespace vantrel {

class FlowLayout;

// The main window's detail column, one of three pages: the selected share's editor, else a card
// for each mounted share, else a placeholder that invites the user to pick or add a share. The
// window decides which; the column keeps the editor for as long as it shows the same share.
class MainDetailColumn final : public QStackedWidget {
    Q_OBJECT

public:
    // A mounted share: its status always has a mount point.
    struct MountedEntry {
        NASConfig config;
        NASStatus status;
        bool operator==(const MountedEntry&) const = default;
    };

    static constexpr int cardMinimumWidth = 220;

    explicit MainDetailColumn(QWidget* parent = nullptr);

    // Shows the editor of the share, built by `build` unless the shown one already edits it.
    void showEditor(const QUuid& configID, const std::function<QWidget*()>& build);
    // Lets the editor go and shows a card for each entry, or the placeholder when there is none.
    void showMountedFolders(const QList<MountedEntry>& entries);
    // The next showEditor() builds afresh, even for the same share.
    void forgetEditor() { m_editorConfigID = QUuid(); }

    // The page shown: the editor, the mounted folders or the placeholder.
    QWidget* currentDetail() const;
    QWidget* editor() const { return m_editor; }
    QWidget* mountedFoldersPage() const { return m_mountedPage; }
    QWidget* placeholder() const { return m_placeholder; }

signals:
    // A card's button asks to open its share's mount point.
    void openRequested(const QUrl& mountPoint);

private:
    QWidget* buildMountedFoldersPage();
    QWidget* buildPlaceholder();
    QWidget* buildCard(const MountedEntry& entry);
    void removeEditor();

    QWidget* m_editorPage;
    QVBoxLayout* m_editorLayout;
    QPointer<QWidget> m_editor;
    QUuid m_editorConfigID;
    QWidget* m_mountedPage = nullptr;
    FlowLayout* m_cards = nullptr;
    QList<MountedEntry> m_shownEntries;
    QWidget* m_placeholder = nullptr;
};

} // namespace vantrel
