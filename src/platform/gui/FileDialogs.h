#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QWidget;

namespace vantrel {

// The panels that ask the user for a place in the file system. A panel opens and the call returns
// at once; the answer comes later through the completion. Callers take a FileDialogs& (defaulting
// to shared()), so tests can answer in a script instead of showing anything.
class FileDialogs {
public:
    struct SaveOptions {
        QString title;           // empty: the toolkit's own
        QString suggestedName;   // the name field's initial text
        QString directory;       // the folder shown first; empty: the toolkit's choice
        QStringList nameFilters; // "Text (*.txt *.log)"; empty: any file
        bool canCreateDirectories = true;
    };
    struct FolderOptions {
        QString title;
        QString directory;
        bool canCreateDirectories = true;
    };

    // The chosen file or folder; none when the user cancelled.
    using Completion = std::function<void(const std::optional<QUrl>& chosen)>;

    virtual ~FileDialogs() = default;

    // The desktop's panels. Main thread only.
    static FileDialogs& shared();

    // A panel that asks for a file name and place. `parent` (may be null: a free-standing panel)
    // is the window it belongs to. `done` runs once on the main thread, unless `receiver` or
    // `parent` is destroyed first: then the panel closes and nothing runs.
    virtual void chooseSaveLocation(const SaveOptions& options, QWidget* parent, QObject* receiver,
        Completion done) = 0;
    // A panel that asks for an existing folder, on the same terms.
    virtual void chooseFolder(const FolderOptions& options, QWidget* parent, QObject* receiver, Completion done) = 0;
};

// The toolkit's file dialogs, opened with open() (never a nested event loop).
class DesktopFileDialogs final : public FileDialogs {
public:
    void chooseSaveLocation(const SaveOptions& options, QWidget* parent, QObject* receiver, Completion done) override;
    void chooseFolder(const FolderOptions& options, QWidget* parent, QObject* receiver, Completion done) override;
};

} // namespace vantrel
