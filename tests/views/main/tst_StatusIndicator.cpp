#include "support/TestMain.h"

#include "platform/Localization.h"
#include "views/main/StatusIndicator.h"
#include "views/widgets/Theme.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>

using namespace vantrel;

namespace {

const VantrelError someError = VantrelError::mountFailed(QStringLiteral("Permission denied"));

// A dot of `size` painted on a transparent square three times as large.
QImage painted(const MountState& state, qreal size)
{
    const int side = int(size * 3);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    StatusIndicator::paint(painter, QRectF(0, 0, side, side), state, size, QPalette());
    return image;
}

QColor centre(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

bool sameColour(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2
        && std::abs(a.blue() - b.blue()) <= 2 && std::abs(a.alpha() - b.alpha()) <= 2;
}

} // namespace

class TestStatusIndicator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Localization::useCatalog(QString()); }

    void eachStateHasItsColourAndShape()
    {
        const QPalette palette;
        const QColor gray = Theme::color(Theme::Color::gray, palette);
        const QList<std::pair<MountState, QColor>> filled{
            {MountState::idle(), gray},
            {MountState::mounting(), Theme::color(Theme::Color::green, palette)},
            {MountState::mounted(), Theme::color(Theme::Color::green, palette)},
            {MountState::unmounting(), Theme::color(Theme::Color::yellow, palette)},
            {MountState::failed(someError), Theme::color(Theme::Color::red, palette)},
            {MountState::failed(VantrelError::timeout(QStringLiteral("x"))), Theme::color(Theme::Color::red, palette)},
        };
        for (const auto& [state, colour] : filled) {
            const QImage image = painted(state, 20);
            QVERIFY(sameColour(centre(image), colour));
            // Exactly `size` wide: nothing beyond the dot's square.
            QCOMPARE(image.pixelColor(image.width() / 2 + 11, image.height() / 2).alpha(), 0);
            QVERIFY(image.pixelColor(image.width() / 2 + 9, image.height() / 2).alpha() > 200);
        }

        // Offline: a gray ring 1.5 wide inside the square, the centre left transparent.
        const QImage ring = painted(MountState::offline(), 20);
        QCOMPARE(centre(ring).alpha(), 0);
        QCOMPARE(ring.pixelColor(ring.width() / 2 + 7, ring.height() / 2).alpha(), 0);
        const QColor edge = ring.pixelColor(ring.width() / 2 + 9, ring.height() / 2);
        QVERIFY(edge.alpha() > 200);
        QVERIFY(sameColour(QColor(edge.red(), edge.green(), edge.blue()), gray));
        QCOMPARE(ring.pixelColor(ring.width() / 2 + 10, ring.height() / 2).alpha(), 0);
    }

    void theWidgetPaintsItsStateAndChangesWithIt()
    {
        StatusIndicator dot(MountState::failed(someError), 8);
        QCOMPARE(dot.sizeHint(), QSize(StatusIndicator::extent(8), StatusIndicator::extent(8)));
        QVERIFY(dot.sizeHint().width() >= 8 * 1.3);
        const auto centreOf = [&dot] { return centre(dot.grab().toImage()); };
        QVERIFY(sameColour(centreOf(), Theme::color(Theme::Color::red, dot.palette())));
        dot.setState(MountState::mounted());
        QVERIFY(sameColour(centreOf(), Theme::color(Theme::Color::green, dot.palette())));
    }

    void thePulseRunsOnlyWhileMounting()
    {
        StatusIndicator dot(MountState::mounting(), 8);
        dot.pulse().pulseDuration = 60;
        dot.pulse().settleDuration = 30;
        // Nothing moves before the dot is seen.
        QVERIFY(!dot.isPulsing());
        dot.show();
        QVERIFY(dot.isPulsing());

        // Up to 1.3 times the size at 0.7 opacity, back, and again: it repeats for ever.
        QList<qreal> scales;
        QList<qreal> opacities;
        connect(&dot.pulse(), &StatusPulse::progressChanged, this, [&] {
            scales.append(dot.pulse().scale());
            opacities.append(dot.pulse().opacity());
        });
        QTRY_VERIFY(scales.size() > 10 && *std::max_element(scales.cbegin(), scales.cend()) > 1.28);
        QVERIFY(*std::max_element(scales.cbegin(), scales.cend()) <= 1.3 + 1e-9);
        QVERIFY(*std::min_element(opacities.cbegin(), opacities.cend()) < 0.72);
        QTest::qWait(300);
        QVERIFY(dot.pulse().isRunning());

        // Mounted has the same colour but no pulse: back to full size and opacity.
        dot.setState(MountState::mounted());
        QVERIFY(!dot.isPulsing());
        QTRY_COMPARE(dot.pulse().progress(), 0.0);
        QCOMPARE(dot.pulse().scale(), 1.0);
        QCOMPARE(dot.pulse().opacity(), 1.0);
        QTest::qWait(100);
        QCOMPARE(dot.pulse().progress(), 0.0);

        dot.setState(MountState::mounting());
        QVERIFY(dot.isPulsing());
        QTRY_VERIFY(dot.pulse().progress() > 0.0);
    }

    void aDotFirstShownInAnotherStateDoesNotPulse()
    {
        StatusIndicator dot(MountState::mounted(), 8);
        dot.show();
        QVERIFY(!dot.isPulsing());
        QVERIFY(!dot.pulse().isRunning());
    }

    void eachStateHasItsSpokenName()
    {
        QCOMPARE(StatusIndicator::accessibilityText(MountState::idle()), QStringLiteral("空闲"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::mounting()), QStringLiteral("挂载中"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::mounted()), QStringLiteral("已挂载"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::unmounting()), QStringLiteral("卸载中"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::offline()), QStringLiteral("离线"));
        // Whatever the error, it is not spoken.
        QCOMPARE(StatusIndicator::accessibilityText(MountState::failed(someError)), QStringLiteral("挂载失败"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::failed(VantrelError())), QStringLiteral("挂载失败"));

        StatusIndicator dot(MountState::offline(), 8);
        QCOMPARE(dot.accessibleName(), QStringLiteral("离线"));
        dot.setState(MountState::failed(someError));
        QCOMPARE(dot.accessibleName(), QStringLiteral("挂载失败"));

        Localization::useCatalog(QStringLiteral("en"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::failed(someError)), QStringLiteral("Mount failed"));
        QCOMPARE(StatusIndicator::accessibilityText(MountState::unmounting()), QStringLiteral("Unmounting"));
        Localization::useCatalog(QString());
    }
};

VANTREL_TEST_MAIN(TestStatusIndicator)
#include "tst_StatusIndicator.moc"
