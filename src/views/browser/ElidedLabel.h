#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

namespace vantrel {

// Plain text on at most a given number of lines, wrapped at words and cut with an ellipsis where
// it does not fit, at whatever width the layout gives it. Unlike QLabel it never asks for the
// width of its whole text, so a long file name cannot push its neighbours aside.
class ElidedLabel final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit ElidedLabel(int maximumLines = 1, Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    int maximumLines() const { return m_maximumLines; }
    // The lines drawn at a width.
    QStringList linesAt(int width) const;
    static QStringList lines(const QString& text, const QFont& font, int maximumLines, Qt::TextElideMode mode, int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maximumLines > 1; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text;
    int m_maximumLines;
    Qt::TextElideMode m_mode;
};

} // namespace vantrel
