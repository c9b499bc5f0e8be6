#pragma once

#include "views/browser/ConflictResolutionSheet.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace vantrel {

// The browser window's drops that still wait for the user: name conflicts not yet asked about,
// and what the drops' file work found to tell. It goes with the window's transfer queue to the
// content that replaces the window's content, so work under way for one folder is still asked
// about, uploaded there and reported, whichever share the window shows by then. Main thread only.
class PendingDrops final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    int count() const { return int(m_conflicts.size()); }
    // Queued behind the conflicts already waiting.
    void append(const QList<FileConflict>& conflicts);
    // A conflict whose sheet went away unanswered: asked again before the others.
    void putBack(const FileConflict& conflict);
    std::optional<FileConflict> takeNext();

    // A message for whichever window shows this work.
    void report(const QString& text);

signals:
    void conflictsAdded();
    void problemReported(const QString& text);

private:
    QList<FileConflict> m_conflicts;
};

} // namespace vantrel
