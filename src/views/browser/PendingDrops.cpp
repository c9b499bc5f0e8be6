#include "views/browser/PendingDrops.h"

namespace vantrel {

void PendingDrops::append(const QList<FileConflict>& conflicts)
{
    if (conflicts.isEmpty())
        return;
    m_conflicts.append(conflicts);
    emit conflictsAdded();
}

void PendingDrops::putBack(const FileConflict& conflict)
{
    m_conflicts.prepend(conflict);
    emit conflictsAdded();
}

std::optional<FileConflict> PendingDrops::takeNext()
{
    if (m_conflicts.isEmpty())
        return std::nullopt;
    return m_conflicts.takeFirst();
}

void PendingDrops::report(const QString& text)
{
    emit problemReported(text);
}

} // namespace vantrel
