#include "views/browser/BreadcrumbView.h"

#include "files/FileSystemManager.h"
#include "views/widgets/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>

namespace vantrel {

namespace {

QString withoutLastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

QList<BreadcrumbView::Segment> BreadcrumbView::pathSegments(const QUrl& currentPath, const QUrl& mountPoint,
    const QString& nasName)
{
    QList<Segment> segments;
    const QString root = FileSystemManager::pathText(mountPoint);
    QString walk = FileSystemManager::pathText(currentPath);
    while (walk != root && walk.startsWith(root)) {
        const QString name = walk.mid(walk.lastIndexOf(u'/') + 1);
        segments.append({name, QUrl::fromLocalFile(walk)});
        const QString parent = withoutLastComponent(walk);
        // "/" has no last component to remove: stop rather than walk forever.
        if (parent.size() >= walk.size())
            break;
        walk = parent;
    }
    segments.append({nasName, mountPoint});
    std::reverse(segments.begin(), segments.end());
    return segments;
}

BreadcrumbView::BreadcrumbView(QWidget* parent)
    : QWidget(parent)
    , m_scrollArea(new QScrollArea)
    , m_content(new QWidget)
    , m_row(new QHBoxLayout(m_content))
{
    setObjectName(QStringLiteral("BreadcrumbView"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_row->setContentsMargins(8, 6, 8, 6);
    m_row->setSpacing(2);
    m_row->setSizeConstraint(QLayout::SetMinimumSize);

    m_scrollArea->setObjectName(QStringLiteral("breadcrumbScroll"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(false);
    m_scrollArea->setWidget(m_content);
    // The bar paints its own rounded background; the scroll area stays see-through.
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_content->setAutoFillBackground(false);
    m_scrollArea->viewport()->installEventFilter(this);
    // The scroll area's own minimum would make room for scroll bars it never shows.
    m_scrollArea->setMinimumSize(1, 1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(m_scrollArea);
}

void BreadcrumbView::setPath(const QUrl& currentPath, const QUrl& mountPoint, const QString& nasName)
{
    const QList<Segment> segments = pathSegments(currentPath, mountPoint, nasName);
    if (segments == m_segments && !m_buttons.isEmpty())
        return;
    m_segments = segments;
    rebuild();
}

void BreadcrumbView::rebuild()
{
    while (QLayoutItem* item = m_row->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_buttons.clear();

    const int chevronPixels = Theme::symbolSize(Theme::TextStyle::caption);
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
        const bool last = i == m_segments.size() - 1;
        if (i > 0) {
            auto* chevron = new QLabel;
            chevron->setObjectName(QStringLiteral("chevron"));
            chevron->setContentsMargins(2, 0, 2, 0);
            Theme::setSymbol(chevron, QStringLiteral("chevron.right"), Theme::Color::secondary, chevronPixels);
            m_row->addWidget(chevron);
        }
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("segment.%1").arg(i));
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        // A name is shown as it is: a "&" is no mnemonic.
        button->setText(QString(m_segments.at(i).name).replace(u'&', QStringLiteral("&&")));
        button->setFont(Theme::systemFont(12, last ? QFont::DemiBold : QFont::Normal));
        Theme::setTint(button, last ? Theme::Color::primary : Theme::Color::accent);
        if (last) {
            // The current folder is not a link, but it reads as the current place, not as disabled.
            QPalette palette = button->palette();
            palette.setColor(QPalette::Disabled, QPalette::ButtonText, Theme::color(Theme::Color::primary, palette));
            button->setPalette(palette);
            button->setEnabled(false);
        }
        connect(button, &QToolButton::clicked, this,
            [this, url = m_segments.at(i).url] { emit navigateRequested(url); });
        m_row->addWidget(button);
        m_buttons.append(button);
    }
    m_content->adjustSize();
    updateGeometry();
    // The current folder, at the end, is what matters: keep it in view.
    QTimer::singleShot(0, this,
        [this] { m_scrollArea->horizontalScrollBar()->setValue(m_scrollArea->horizontalScrollBar()->maximum()); });
}

QSize BreadcrumbView::sizeHint() const
{
    const QSize content = m_content->sizeHint();
    return {content.width() + 2, content.height() + 2};
}

QSize BreadcrumbView::minimumSizeHint() const
{
    // Any width will do: the path scrolls.
    return {40, m_content->sizeHint().height() + 2};
}

void BreadcrumbView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    QPainterPath shape;
    shape.addRoundedRect(frame, 6, 6);
    painter.fillPath(shape, Theme::color(Theme::Color::controlBackground, palette()));
    QPen stroke(Theme::color(Theme::Color::separator, palette()), 0.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    stroke.setMiterLimit(10);
    painter.setPen(stroke);
    painter.drawPath(shape);
}

bool BreadcrumbView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scrollArea->viewport() && event->type() == QEvent::Wheel) {
        // A plain wheel has only a vertical delta; the bar only scrolls sideways.
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta = wheel->angleDelta();
        const int steps = delta.x() != 0 ? delta.x() : delta.y();
        QScrollBar* bar = m_scrollArea->horizontalScrollBar();
        bar->setValue(bar->value() - steps / 2);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantrel
