#include "views/widgets/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace vantrel {

namespace {

// About the width of a line of prose before it wraps, in average characters.
constexpr int preferredLineCharacters = 60;

} // namespace

ElidedLabel::ElidedLabel(const QString& text, int maximumLines, QWidget* parent)
    : QFrame(parent), m_text(text), m_maximumLines(std::max(1, maximumLines))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void ElidedLabel::setMaximumLines(int lines)
{
    m_maximumLines = std::max(1, lines);
    updateGeometry();
    update();
}

QStringList ElidedLabel::displayedLines(int width) const
{
    if (width < 0)
        width = contentsRect().width();
    if (m_text.isEmpty())
        return {};
    width = std::max(1, width);
    const QFontMetrics metrics(font());
    QString text = m_text;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);

    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() + 1 == m_maximumLines) {
            // The last line allowed takes the rest, cut with an ellipsis when it does not fit.
            QString rest = text.mid(line.textStart());
            const bool more = line.textStart() + line.textLength() < text.size();
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            lines << (more ? metrics.elidedText(rest, Qt::ElideRight, width) : rest.trimmed());
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator).trimmed();
    }
    layout.endLayout();
    return lines;
}

int ElidedLabel::heightOfLines(int lines) const
{
    const QMargins margins = contentsMargins();
    return QFontMetrics(font()).lineSpacing() * std::max(1, lines) + margins.top() + margins.bottom();
}

int ElidedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return heightOfLines(int(displayedLines(width - margins.left() - margins.right()).size()));
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    int natural = 0;
    for (const QString& paragraph : m_text.split(QLatin1Char('\n')))
        natural = std::max(natural, metrics.horizontalAdvance(paragraph));
    const QMargins margins = contentsMargins();
    const int width = std::min(natural, metrics.averageCharWidth() * preferredLineCharacters) + 1;
    return {width + margins.left() + margins.right(), heightForWidth(width + margins.left() + margins.right())};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return {metrics.horizontalAdvance(QStringLiteral("W…")) + margins.left() + margins.right(), heightOfLines(1)};
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    int y = area.top();
    for (const QString& line : displayedLines(area.width())) {
        painter.drawText(QRect(area.left(), y, area.width(), metrics.lineSpacing()),
            int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine), line);
        y += metrics.lineSpacing();
    }
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateGeometry();
}

} // namespace vantrel
