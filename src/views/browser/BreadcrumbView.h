#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class QHBoxLayout;
class QScrollArea;
class QToolButton;

namespace vantrel {

// The path bar: the share's name and the folders down to the listed one, each a button that
// navigates there. Long paths scroll sideways inside the bar; the bar never asks for more width
// than its host gives it.
class BreadcrumbView final : public QWidget {
    Q_OBJECT

public:
    struct Segment {
        QString name;
        QUrl url;
        bool operator==(const Segment&) const = default;
    };

    // From the share's root to the current folder. The walk stops at the first path that no
    // longer starts with the mount point's path as plain text, so a folder outside the share
    // yields only the root.
    static QList<Segment> pathSegments(const QUrl& currentPath, const QUrl& mountPoint, const QString& nasName);

    explicit BreadcrumbView(QWidget* parent = nullptr);

    void setPath(const QUrl& currentPath, const QUrl& mountPoint, const QString& nasName);
    QList<Segment> segments() const { return m_segments; }
    // The segment buttons, root first (object names "segment.<position>").
    QList<QToolButton*> buttons() const { return m_buttons; }
    QScrollArea* scrollArea() const { return m_scrollArea; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void navigateRequested(const QUrl& url);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();

    QList<Segment> m_segments;
    QList<QToolButton*> m_buttons;
    QScrollArea* m_scrollArea;
    QWidget* m_content;
    QHBoxLayout* m_row;
};

} // namespace vantrel
