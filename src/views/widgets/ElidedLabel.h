#pragma once

#include <QLabel>
#include <QString>

namespace vantrel {

// A one-line label that shortens a text too long for its width with an ellipsis and shows the
// whole text as its tooltip. It can shrink to a single ellipsis, so a long name never forces its
// window wider.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr,
        Qt::TextElideMode mode = Qt::ElideRight);

    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }
    // The text as it is drawn now.
    QString shownText() const { return QLabel::text(); }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateElision();

    QString m_fullText;
    Qt::TextElideMode m_mode;
};

} // namespace vantrel
