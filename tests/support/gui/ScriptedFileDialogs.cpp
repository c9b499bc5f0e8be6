#include "support/gui/ScriptedFileDialogs.h"

#include <QTimer>
#include <QWidget>

namespace vantrel::test {

void ScriptedFileDialogs::chooseSaveLocation(const SaveOptions& options, QWidget* parent, QObject* receiver,
    Completion done)
{
    Request request = makeRequest(Kind::save, parent, receiver, std::move(done));
    request.save = options;
    add(std::move(request));
}

void ScriptedFileDialogs::chooseFolder(const FolderOptions& options, QWidget* parent, QObject* receiver,
    Completion done)
{
    Request request = makeRequest(Kind::folder, parent, receiver, std::move(done));
    request.folder = options;
    add(std::move(request));
}

ScriptedFileDialogs::Request ScriptedFileDialogs::makeRequest(Kind kind, QWidget* parent, QObject* receiver,
    Completion done)
{
    Request request;
    request.kind = kind;
    request.parent = parent;
    request.hadParent = parent != nullptr;
    request.receiver = receiver;
    request.hadReceiver = receiver != nullptr;
    request.done = std::move(done);
    return request;
}

void ScriptedFileDialogs::add(Request request)
{
    m_requests.append(std::move(request));
    if (script.isEmpty())
        return;
    const qsizetype index = m_requests.size() - 1;
    const std::optional<QUrl> chosen = script.takeFirst();
    // The caller has returned before a real panel could close.
    QTimer::singleShot(0, this, [this, index, chosen] { deliver(index, chosen); });
}

int ScriptedFileDialogs::pendingCount() const
{
    int count = 0;
    for (const Request& request : m_requests)
        count += request.answered ? 0 : 1;
    return count;
}

bool ScriptedFileDialogs::answer(const std::optional<QUrl>& chosen)
{
    for (qsizetype i = 0; i < m_requests.size(); ++i) {
        if (!m_requests.at(i).answered) {
            deliver(i, chosen);
            return true;
        }
    }
    return false;
}

void ScriptedFileDialogs::deliver(qsizetype index, const std::optional<QUrl>& chosen)
{
    Request& request = m_requests[index];
    if (request.answered)
        return;
    request.answered = true;
    if ((request.hadReceiver && !request.receiver) || (request.hadParent && !request.parent))
        return;
    // The completion may ask for another panel, which appends to the list.
    const Completion done = request.done;
    if (done)
        done(chosen);
}

} // namespace vantrel::test
