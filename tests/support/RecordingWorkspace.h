#pragma once

#include "platform/gui/Workspace.h"

#include <QList>
#include <QUrl>

namespace vantrel::test {

// Remembers every request instead of handing it to the desktop.
class RecordingWorkspace final : public Workspace {
public:
    void open(const QUrl& url) override { opened.append(url); }
    void selectFile(const QUrl& file) override { selected.append(file); }

    QList<QUrl> opened;
    QList<QUrl> selected;
};

} // namespace vantrel::test
