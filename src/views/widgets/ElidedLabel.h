#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

namespace vantrel {

// A label that shows its text on at most a number of lines (one by default), wrapped at word
// boundaries, and shortens what does not fit with an ellipsis; the whole text is then its tooltip.
// It can shrink to a single ellipsis, so a long name never forces its window wider.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }
    // The text as it is drawn now, its lines joined by line breaks.
    QString shownText() const { return QLabel::text(); }

    int maximumLines() const { return m_maximumLines; }
    void setMaximumLines(int lines);
    // The lines drawn at a width of the contents; elided tells whether text was cut.
    QStringList shownLines(int width, bool* elided = nullptr) const;
    // The lines a text takes in a font at a width, for painting outside a label (list delegates).
    static QStringList lines(const QString& text, const QFont& font, int maximumLines, Qt::TextElideMode mode,
        int width, bool* elided = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return m_maximumLines > 1; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateElision();
    int heightOfLines(int lines) const;

    QString m_fullText;
    Qt::TextElideMode m_mode;
    int m_maximumLines = 1;
};

} // namespace vantrel
