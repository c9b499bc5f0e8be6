#include "views/browser/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace vantrel {

ElidedLabel::ElidedLabel(int maximumLines, Qt::TextElideMode mode, QWidget* parent)
    : QWidget(parent)
    , m_maximumLines(std::max(1, maximumLines))
    , m_mode(mode)
{
    // Its whole text when there is room, down to an ellipsis when there is not.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    if (m_maximumLines > 1) {
        QSizePolicy policy = sizePolicy();
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
}

void ElidedLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

QStringList ElidedLabel::linesAt(int width) const
{
    return lines(m_text, font(), m_maximumLines, m_mode, width);
}

QStringList ElidedLabel::lines(const QString& text, const QFont& font, int maximumLines, Qt::TextElideMode mode, int width)
{
    const QFontMetrics metrics(font);
    if (text.isEmpty() || width <= 0)
        return {};
    if (maximumLines <= 1)
        return {metrics.elidedText(QString(text).replace(u'\n', u' '), mode, width)};

    QStringList lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == maximumLines - 1) {
            // The last line allowed takes the rest of the text, cut to fit.
            const QString rest = text.mid(line.textStart()).replace(u'\n', u' ');
            lines.append(metrics.elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: the ellipsis test measures in fractions of a pixel.
    const QFontMetricsF metrics(font());
    return {int(std::ceil(metrics.horizontalAdvance(m_text))) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(QStringLiteral("…")), metrics.height()};
}

int ElidedLabel::heightForWidth(int width) const
{
    const qsizetype lines = std::max<qsizetype>(1, linesAt(width).size());
    return int(lines) * fontMetrics().lineSpacing() - fontMetrics().leading();
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    const QStringList lines = linesAt(width());
    // A single line sits in the middle of the height the layout gave it.
    int y = lines.size() == 1 ? (height() - metrics.height()) / 2 : 0;
    for (const QString& line : lines) {
        painter.drawText(QRect(0, y, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
}

void ElidedLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

} // namespace vantrel
