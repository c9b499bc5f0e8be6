#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace vantrel {

class PreviewPanel;

// What the panel shows: it asks for the items itself whenever it is brought to the front.
class PreviewPanelDataSource {
public:
    virtual ~PreviewPanelDataSource() = default;
    virtual int numberOfPreviewItems(PreviewPanel& panel) = 0;
    virtual std::optional<QUrl> previewItem(PreviewPanel& panel, int index) = 0;
};

// The process's one preview window: an image, the beginning of a text file, or the file's name,
// kind, size and date for anything else. Files are read in their share's lane, never on the GUI
// thread, since they usually lie on a mounted share.
class PreviewPanel final : public QWidget {
    Q_OBJECT

public:
    // Text files longer than this show only their beginning.
    static constexpr qint64 maxTextBytes = 256 * 1024;

    // None when the process has no widget application to show it in.
    static PreviewPanel* sharedPreviewPanel();

    explicit PreviewPanel(QWidget* parent = nullptr);

    PreviewPanelDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(PreviewPanelDataSource* dataSource);

    // Asks the data source for its item, loads it and shows the window in front.
    void makeKeyAndOrderFront();

    // The file shown or being loaded; empty when none.
    QUrl currentItem() const { return m_currentItem; }

    enum class Presentation { nothing, loading, image, text, details };
    Presentation presentation() const { return m_presentation; }
    // What the text or details view holds (for the image view, its pixel size as "WxH").
    QString presentedText() const;

signals:
    // A load finished and its result is on screen.
    void presentationChanged();

private:
    struct Loaded {
        Presentation presentation = Presentation::details;
        QImage image;
        QString text;
    };
    static Loaded load(const QString& path);
    void reloadData();
    void present(const Loaded& loaded);
    void resizeEvent(QResizeEvent* event) override;
    // Escape and Space close it, as they do where the file was chosen.
    void keyPressEvent(QKeyEvent* event) override;
    // The text view would take Space to scroll.
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool closesOn(const QKeyEvent* event) const;
    void updateImage();

    PreviewPanelDataSource* m_dataSource = nullptr;
    QUrl m_currentItem;
    quint64 m_generation = 0;
    Presentation m_presentation = Presentation::nothing;
    QImage m_image;

    QStackedWidget* m_stack = nullptr;
    QLabel* m_message = nullptr;
    QLabel* m_imageView = nullptr;
    QPlainTextEdit* m_textView = nullptr;
    QLabel* m_details = nullptr;
};

} // namespace vantrel
