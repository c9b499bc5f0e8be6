#include "views/widgets/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextLayout>

#include <algorithm>

namespace vantrel {

namespace {

// About the width of a line of prose before it wraps, in average characters.
constexpr int preferredLineCharacters = 60;

} // namespace

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent)
    , m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    // List delegates set the same text on every paint; a new width or font re-elides by itself.
    if (text == m_fullText)
        return;
    m_fullText = text;
    updateElision();
    updateGeometry();
}

void ElidedLabel::setMaximumLines(int lines)
{
    m_maximumLines = std::max(1, lines);
    QSizePolicy policy(QSizePolicy::Preferred, m_maximumLines > 1 ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    policy.setHeightForWidth(m_maximumLines > 1);
    setSizePolicy(policy);
    updateElision();
    updateGeometry();
}

QStringList ElidedLabel::shownLines(int width, bool* elided) const
{
    return lines(m_fullText, font(), m_maximumLines, m_mode, width, elided);
}

QStringList ElidedLabel::lines(const QString& fullText, const QFont& font, int maximumLines, Qt::TextElideMode mode,
    int width, bool* elided)
{
    bool cut = false;
    if (!elided)
        elided = &cut;
    *elided = false;
    if (fullText.isEmpty())
        return {};
    width = std::max(0, width);
    maximumLines = std::max(1, maximumLines);
    const QFontMetrics metrics(font);
    if (maximumLines == 1) {
        // A newline would start a second line; one-line texts stay on one.
        QString oneLine = fullText;
        oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
        const QString shown = metrics.elidedText(oneLine, mode, width);
        *elided = shown != oneLine;
        return {shown};
    }

    QString text = fullText;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max(1, width));
        if (lines.size() + 1 == maximumLines) {
            // The last line allowed takes the rest, cut when it does not fit.
            QString rest = text.mid(line.textStart());
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            *elided = line.textStart() + line.textLength() < text.size();
            lines << (*elided ? metrics.elidedText(rest, mode, width) : rest.trimmed());
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
    if (m_maximumLines == 1)
        return sizeHint().height();
    const QMargins margins = contentsMargins();
    return heightOfLines(int(shownLines(width - margins.left() - margins.right()).size()));
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("…")), m_maximumLines == 1 ? metrics.height() : heightOfLines(1)};
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    if (m_maximumLines == 1)
        return {metrics.horizontalAdvance(m_fullText) + 1, metrics.height()};
    int natural = 0;
    for (const QString& paragraph : m_fullText.split(QLatin1Char('\n')))
        natural = std::max(natural, metrics.horizontalAdvance(paragraph));
    const QMargins margins = contentsMargins();
    const int width = std::min(natural, metrics.averageCharWidth() * preferredLineCharacters) + 1 + margins.left()
        + margins.right();
    return {width, heightForWidth(width)};
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
    bool elided = false;
    QLabel::setText(shownLines(contentsRect().width(), &elided).join(QLatin1Char('\n')));
    setToolTip(elided ? m_fullText : QString());
}

} // namespace vantrel
