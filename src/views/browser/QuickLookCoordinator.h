#pragma once

#include "platform/gui/PreviewPanel.h"

#include <QObject>
#include <QUrl>

#include <optional>

namespace vantrel {

// Shows one file of a browser window in the shared preview panel and answers the panel's
// questions about it. Used on the main thread.
class QuickLookCoordinator final : public QObject, public PreviewPanelDataSource {
    Q_OBJECT
    Q_PROPERTY(QUrl previewURL READ previewURLValue NOTIFY previewURLChanged)
    Q_PROPERTY(bool isPresenting READ isPresenting NOTIFY isPresentingChanged)

public:
    explicit QuickLookCoordinator(QObject* parent = nullptr);
    ~QuickLookCoordinator() override;

    std::optional<QUrl> previewURL() const { return m_previewURL; }
    bool isPresenting() const { return m_isPresenting; }

    // Shows the file where it lies; no copy is made.
    void preview(const QUrl& url);
    // Whether the panel is on screen showing this coordinator's file, and closing it then.
    bool isShown() const;
    void closePreview();

    int numberOfPreviewItems(PreviewPanel& panel) override;
    std::optional<QUrl> previewItem(PreviewPanel& panel, int index) override;

signals:
    void previewURLChanged();
    void isPresentingChanged(bool isPresenting);

private:
    QUrl previewURLValue() const { return m_previewURL.value_or(QUrl()); }

    std::optional<QUrl> m_previewURL;
    bool m_isPresenting = false;
};

} // namespace vantrel
