#pragma once

#include "platform/gui/FileDialogs.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

namespace vantrel::test {

// Shows nothing: each request waits until the test answers it (answer()), or is answered from the
// script of queued answers (later, from the event loop, as a real panel would be).
class ScriptedFileDialogs final : public QObject, public FileDialogs {
    Q_OBJECT

public:
    enum class Kind { save, folder };
    struct Request {
        Kind kind = Kind::save;
        SaveOptions save;
        FolderOptions folder;
        QPointer<QWidget> parent;
        bool hadParent = false;
        QPointer<QObject> receiver;
        bool hadReceiver = false;
        Completion done;
        bool answered = false;
    };

    void chooseSaveLocation(const SaveOptions& options, QWidget* parent, QObject* receiver, Completion done) override;
    void chooseFolder(const FolderOptions& options, QWidget* parent, QObject* receiver, Completion done) override;

    // Answers given, in order, to the next requests; std::nullopt stands for a cancelled panel.
    QList<std::optional<QUrl>> script;

    const QList<Request>& requests() const { return m_requests; }
    int pendingCount() const;
    // Answers the oldest unanswered request now; false when none waits. Like a real panel, a
    // request whose receiver or parent is gone gets no call.
    bool answer(const std::optional<QUrl>& chosen);

private:
    static Request makeRequest(Kind kind, QWidget* parent, QObject* receiver, Completion done);
    void add(Request request);
    void deliver(qsizetype index, const std::optional<QUrl>& chosen);

    QList<Request> m_requests;
};

} // namespace vantrel::test
