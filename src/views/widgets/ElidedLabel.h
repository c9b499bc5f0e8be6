#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>

namespace vantrel {

// Plain text wrapped at word boundaries over at most a number of lines; text that does not fit
// ends its last line in an ellipsis. text() keeps the whole text. Drawn in the foreground colour
// of the palette, so Theme::setTint applies.
class ElidedLabel final : public QFrame {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, int maximumLines = 1, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    int maximumLines() const { return m_maximumLines; }
    void setMaximumLines(int lines);

    // The lines as drawn at a width (the current width by default).
    QStringList displayedLines(int width = -1) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int heightOfLines(int lines) const;

    QString m_text;
    int m_maximumLines;
};

} // namespace vantrel
