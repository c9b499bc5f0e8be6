#include "views/widgets/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>

namespace vantrel {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    m_fullText = text;
    updateElision();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("…")), metrics.height()};
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_fullText) + 1, metrics.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    updateElision();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateElision();
}

void ElidedLabel::updateElision()
{
    // A newline would start a second line; shown names stay on one.
    QString oneLine = m_fullText;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = QFontMetrics(font()).elidedText(oneLine, m_mode, std::max(0, contentsRect().width()));
    QLabel::setText(shown);
    setToolTip(shown == oneLine ? QString() : m_fullText);
}

} // namespace vantrel
