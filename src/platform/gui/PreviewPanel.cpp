#include "platform/gui/PreviewPanel.h"

#include "platform/FileWork.h"
#include "platform/Formatters.h"
#include "platform/Localization.h"
#include "platform/gui/WindowPlacement.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace vantrel {

PreviewPanel* PreviewPanel::sharedPreviewPanel()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    static PreviewPanel* panel = new PreviewPanel;
    return panel;
}

PreviewPanel::PreviewPanel(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(Localization::text(QStringLiteral("preview.title"), QStringLiteral("Preview")));
    resize(640, 480);

    m_stack = new QStackedWidget(this);
    m_message = new QLabel(m_stack);
    m_message->setAlignment(Qt::AlignCenter);
    m_imageView = new QLabel(m_stack);
    m_imageView->setAlignment(Qt::AlignCenter);
    m_imageView->setMinimumSize(1, 1);
    m_textView = new QPlainTextEdit(m_stack);
    m_textView->setReadOnly(true);
    m_textView->installEventFilter(this);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_details = new QLabel(m_stack);
    // File names are shown as written, never read as markup.
    m_details->setTextFormat(Qt::PlainText);
    m_message->setTextFormat(Qt::PlainText);
    m_details->setAlignment(Qt::AlignCenter);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QWidget* page : {static_cast<QWidget*>(m_message), static_cast<QWidget*>(m_imageView),
             static_cast<QWidget*>(m_textView), static_cast<QWidget*>(m_details)})
        m_stack->addWidget(page);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
}

void PreviewPanel::setDataSource(PreviewPanelDataSource* dataSource)
{
    m_dataSource = dataSource;
}

void PreviewPanel::makeKeyAndOrderFront()
{
    reloadData();
    // Wholly on the screen, wherever it was left or the window manager would put it.
    if (!isVisible())
        WindowPlacement::keepOnScreen(this);
    QWidget::show();
    raise();
    activateWindow();
}

void PreviewPanel::reloadData()
{
    const quint64 generation = ++m_generation;
    std::optional<QUrl> item;
    if (m_dataSource && m_dataSource->numberOfPreviewItems(*this) > 0)
        item = m_dataSource->previewItem(*this, 0);
    if (!item || !item->isLocalFile()) {
        m_currentItem.clear();
        m_presentation = Presentation::nothing;
        m_message->setText(Localization::text(QStringLiteral("preview.nothing"), QStringLiteral("No file to preview")));
        m_stack->setCurrentWidget(m_message);
        emit presentationChanged();
        return;
    }
    m_currentItem = *item;
    m_presentation = Presentation::loading;
    setWindowTitle(QFileInfo(item->toLocalFile()).fileName());
    m_message->setText(Localization::text(QStringLiteral("preview.loading"), QStringLiteral("Loading…")));
    m_stack->setCurrentWidget(m_message);

    auto* watcher = new QFutureWatcher<Loaded>(this);
    connect(watcher, &QFutureWatcher<Loaded>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        // A newer item replaced this one while it loaded.
        if (generation == m_generation)
            present(watcher->result());
    });
    const QString path = item->toLocalFile();
    watcher->setFuture(runFileWork(path, [path] { return load(path); }));
}

PreviewPanel::Loaded PreviewPanel::load(const QString& path)
{
    Loaded loaded;
    const QFileInfo info(path);
    if (info.isFile()) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        if (reader.canRead()) {
            QImage image = reader.read();
            if (!image.isNull()) {
                loaded.presentation = Presentation::image;
                loaded.image = std::move(image);
                return loaded;
            }
        }
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
        if (type.inherits(QStringLiteral("text/plain"))) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray head = file.read(maxTextBytes);
                QStringDecoder decoder(QStringDecoder::Utf8);
                loaded.presentation = Presentation::text;
                loaded.text = decoder.decode(head);
                return loaded;
            }
        }
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    QStringList lines;
    lines << info.fileName();
    lines << Localization::textFormat(QStringLiteral("preview.kind"), QStringLiteral("Kind: %@"), {type.comment()});
    if (info.isFile())
        lines << Localization::textFormat(QStringLiteral("preview.size"), QStringLiteral("Size: %@"),
            {Formatters::fileByteCount(info.size())});
    if (info.exists())
        lines << Localization::textFormat(QStringLiteral("preview.modified"), QStringLiteral("Modified: %@"),
            {Localization::locale().toString(info.lastModified(), QLocale::LongFormat)});
    else
        lines << Localization::text(QStringLiteral("preview.missing"), QStringLiteral("The file cannot be found."));
    loaded.text = lines.join(u'\n');
    return loaded;
}

void PreviewPanel::present(const Loaded& loaded)
{
    m_presentation = loaded.presentation;
    switch (loaded.presentation) {
    case Presentation::image:
        m_image = loaded.image;
        m_stack->setCurrentWidget(m_imageView);
        updateImage();
        break;
    case Presentation::text:
        m_image = QImage();
        m_textView->setPlainText(loaded.text);
        m_stack->setCurrentWidget(m_textView);
        break;
    default:
        m_image = QImage();
        m_details->setText(loaded.text);
        m_stack->setCurrentWidget(m_details);
        break;
    }
    emit presentationChanged();
}

QString PreviewPanel::presentedText() const
{
    switch (m_presentation) {
    case Presentation::image: return QStringLiteral("%1x%2").arg(m_image.width()).arg(m_image.height());
    case Presentation::text: return m_textView->toPlainText();
    case Presentation::details: return m_details->text();
    default: return m_message->text();
    }
}

void PreviewPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateImage();
}

void PreviewPanel::updateImage()
{
    if (m_image.isNull())
        return;
    const QSize area = m_imageView->size();
    const QImage shown = (m_image.width() > area.width() || m_image.height() > area.height())
        ? m_image.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        : m_image;
    m_imageView->setPixmap(QPixmap::fromImage(shown));
}

bool PreviewPanel::closesOn(const QKeyEvent* event) const
{
    return (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) && event->modifiers() == Qt::NoModifier;
}

void PreviewPanel::keyPressEvent(QKeyEvent* event)
{
    if (closesOn(event)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PreviewPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && closesOn(static_cast<QKeyEvent*>(event))) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantrel
