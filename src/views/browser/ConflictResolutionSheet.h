#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

class QPushButton;

namespace vantrel {

// A dropped file whose name is already taken in the folder it was dropped on.
struct FileConflict {
    QUuid id = QUuid::createUuid();
    QUrl source;      // the dropped local file
    QUrl destination; // the existing entry: the drop's folder followed by the source's name

    bool operator==(const FileConflict&) const = default;
};

enum class ConflictResolution { overwrite, rename, skip };

// Asks what to do with one name conflict. Window-modal over the browser; the only way out is one
// of its three answers (Escape and the window's close button do nothing); Return overwrites.
class ConflictResolutionSheet final : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 360;

    ConflictResolutionSheet(const QString& filename, QWidget* parent);

    QString filename() const { return m_filename; }
    QPushButton* button(ConflictResolution resolution) const;

    void reject() override;

signals:
    // Emitted once, just before the sheet closes.
    void resolved(vantrel::ConflictResolution resolution);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void choose(ConflictResolution resolution);

    QString m_filename;
    QPushButton* m_skip;
    QPushButton* m_rename;
    QPushButton* m_overwrite;
    bool m_answered = false;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::ConflictResolution)
