#include "views/browser/QuickLookCoordinator.h"

namespace vantrel {

QuickLookCoordinator::QuickLookCoordinator(QObject* parent)
    : QObject(parent)
{
}

QuickLookCoordinator::~QuickLookCoordinator()
{
    // The panel outlives every window; it must not ask a coordinator that is gone.
    if (PreviewPanel* panel = PreviewPanel::sharedPreviewPanel(); panel && panel->dataSource() == this)
        panel->setDataSource(nullptr);
}

void QuickLookCoordinator::preview(const QUrl& url)
{
    m_previewURL = url;
    emit previewURLChanged();
    PreviewPanel* panel = PreviewPanel::sharedPreviewPanel();
    if (!panel)
        return;
    panel->setDataSource(this);
    panel->makeKeyAndOrderFront();
    m_isPresenting = true;
    emit isPresentingChanged(true);
}

bool QuickLookCoordinator::isShown() const
{
    const PreviewPanel* panel = PreviewPanel::sharedPreviewPanel();
    return panel && panel->dataSource() == this && panel->isVisible();
}

void QuickLookCoordinator::closePreview()
{
    if (!isShown())
        return;
    PreviewPanel::sharedPreviewPanel()->close();
    m_isPresenting = false;
    emit isPresentingChanged(false);
}

int QuickLookCoordinator::numberOfPreviewItems(PreviewPanel& /*panel*/)
{
    return m_previewURL ? 1 : 0;
}

std::optional<QUrl> QuickLookCoordinator::previewItem(PreviewPanel& /*panel*/, int /*index*/)
{
    return m_previewURL;
}

} // namespace vantrel
