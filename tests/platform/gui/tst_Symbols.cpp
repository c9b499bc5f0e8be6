#include "support/TestMain.h"

#include "platform/gui/Symbols.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

using namespace vantrel;

namespace {

// Every symbol name the windows ask for.
const QStringList usedNames{"arrow.backward", "arrow.clockwise", "arrow.clockwise.circle", "arrow.down.circle",
    "arrow.up.arrow.down", "arrow.up.arrow.down.circle", "arrow.up.circle", "arrow.up.forward.app", "bed.double.circle",
    "bell", "bubble.left.and.bubble.right", "character", "checkmark.circle", "checkmark.circle.fill", "chevron.down",
    "chevron.right", "chevron.up", "doc", "doc.plaintext", "doc.text", "doc.zipper", "eject",
    "exclamationmark.triangle", "exclamationmark.triangle.fill", "externaldrive.badge.plus",
    "externaldrive.badge.xmark", "externaldrive.connected.to.line.below", "externaldrive.fill", "film", "finder",
    "folder", "gear", "gearshape.2", "globe", "house", "info.circle", "internaldrive", "lock.open", "minus.circle.fill",
    "music.note", "network", "pause.fill", "photo", "play.fill", "plus", "power", "square.and.arrow.up", "terminal",
    "trash", "wifi", "wifi.circle", "xmark.bin", "xmark.circle", "xmark.circle.fill", "xmark.fill", "xmark.octagon"};

// How many pixels are drawn, and whether every drawn pixel has exactly the colour's hue.
struct Coverage {
    int drawn = 0;
    int offColour = 0;
};

Coverage coverage(const QPixmap& pixmap, const QColor& colour)
{
    Coverage result;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 128)
                continue;
            ++result.drawn;
            if (std::abs(pixel.red() - colour.red()) > 2 || std::abs(pixel.green() - colour.green()) > 2
                || std::abs(pixel.blue() - colour.blue()) > 2)
                ++result.offColour;
        }
    }
    return result;
}

// Pretends the desktop has no icon theme at all.
struct NoIconTheme {
    NoIconTheme()
        : paths(QIcon::themeSearchPaths())
        , theme(QIcon::themeName())
        , fallback(QIcon::fallbackThemeName())
    {
        QIcon::setThemeSearchPaths({});
        QIcon::setFallbackThemeName(QString());
        QIcon::setThemeName(QString());
    }
    ~NoIconTheme()
    {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setFallbackThemeName(fallback);
        QIcon::setThemeName(theme);
    }
    QStringList paths;
    QString theme;
    QString fallback;
};

} // namespace

class TestSymbols : public QObject {
    Q_OBJECT

private slots:
    void everyUsedNameIsKnownWithItsOwnStandIn()
    {
        QCOMPARE(Symbols::names().size(), usedNames.size());
        for (const QString& name : usedNames) {
            QVERIFY2(Symbols::isKnown(name), qPrintable(name));
            QVERIFY2(QFile::exists(QStringLiteral(":/symbols/") + name + QStringLiteral(".svg")), qPrintable(name));
        }
        // Theme names are one-colour icons only, or a tint would flatten a coloured picture.
        for (const QString& name : usedNames) {
            for (const QString& themeName : Symbols::themeNames(name))
                QVERIFY2(themeName.endsWith(QStringLiteral("-symbolic")), qPrintable(themeName));
        }
    }

    void everySymbolDrawsInItsTintWithoutAnyIconTheme()
    {
        NoIconTheme none;
        const QColor orange(0xFF, 0x95, 0x00);
        for (const QString& name : usedNames) {
            QVERIFY2(!Symbols::icon(name).isNull(), qPrintable(name));
            const QPixmap pixmap = Symbols::tinted(name, orange, 24);
            QCOMPARE(pixmap.size(), QSize(24, 24));
            const Coverage drawn = coverage(pixmap, orange);
            // Something recognisable: neither an empty square nor a filled one.
            QVERIFY2(drawn.drawn > 12 && drawn.drawn < 24 * 24 * 0.9, qPrintable(name));
            QVERIFY2(drawn.offColour == 0, qPrintable(name));
        }
        // Stand-ins are drawn from outlines, so a large size is as sharp as a small one.
        QVERIFY(
            coverage(Symbols::tinted(QStringLiteral("externaldrive.connected.to.line.below"), Qt::blue, 64), Qt::blue)
                .drawn
            > 200);
    }

    void anUnknownNameStillShowsAnIcon()
    {
        NoIconTheme none;
        QVERIFY(!Symbols::isKnown(QStringLiteral("sparkles")));
        QVERIFY(!Symbols::icon(QStringLiteral("sparkles")).isNull());
        QVERIFY(coverage(Symbols::tinted(QStringLiteral("sparkles"), Qt::red, 16), Qt::red).drawn > 0);
    }

    void theDesktopThemeWinsWhereItHasTheIcon()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Probe/scalable/places"));
        QFile index(dir.filePath(QStringLiteral("Probe/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Probe\nDirectories=scalable/places\n\n[scalable/places]\nSize=16\nMinSize=8\n"
                    "MaxSize=512\nType=Scalable\n");
        index.close();
        QFile icon(dir.filePath(QStringLiteral("Probe/scalable/places/folder-symbolic.svg")));
        QVERIFY(icon.open(QIODevice::WriteOnly));
        // A full square, unlike the stand-in's outline.
        icon.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\"><rect width=\"16\" "
                   "height=\"16\" fill=\"#333\"/></svg>");
        icon.close();

        NoIconTheme none;
        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName(QStringLiteral("Probe"));
        QCOMPARE(Symbols::icon(QStringLiteral("folder")).name(), QStringLiteral("folder-symbolic"));
        QCOMPARE(coverage(Symbols::tinted(QStringLiteral("folder"), Qt::green, 16), Qt::green).drawn, 16 * 16);
        // A symbol the theme lacks falls back to its stand-in.
        QVERIFY(Symbols::icon(QStringLiteral("externaldrive.badge.plus")).name().isEmpty());
        QVERIFY(!Symbols::icon(QStringLiteral("externaldrive.badge.plus")).isNull());
    }

    void eachNameColourAndSizeIsRenderedOnce()
    {
        NoIconTheme none;
        const QColor orange(0xFF, 0x95, 0x00);
        const QString name = QStringLiteral("externaldrive.fill");
        const quint64 before = Symbols::renderCount();
        const QPixmap first = Symbols::tinted(name, orange, 20);
        QCOMPARE(Symbols::renderCount(), before + 1);

        // Fifty rows painting the same symbol draw it once.
        for (int i = 0; i < 50; ++i)
            QCOMPARE(Symbols::tinted(name, orange, 20).toImage(), first.toImage());
        QCOMPARE(Symbols::renderCount(), before + 1);

        // Another colour, opacity, size or name is a drawing of its own.
        QColor faded = orange;
        faded.setAlphaF(0.5);
        QCOMPARE(coverage(Symbols::tinted(name, Qt::blue, 20), Qt::blue).offColour, 0);
        Symbols::tinted(name, faded, 20);
        QCOMPARE(Symbols::tinted(name, orange, 40).size(), QSize(40, 40));
        Symbols::tinted(QStringLiteral("folder"), orange, 20);
        QCOMPARE(Symbols::renderCount(), before + 5);
    }

    void aChangedIconThemeIsDrawnFromAgain()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Probe/scalable/places"));
        QFile index(dir.filePath(QStringLiteral("Probe/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Probe\nDirectories=scalable/places\n\n[scalable/places]\nSize=16\nMinSize=8\n"
                    "MaxSize=512\nType=Scalable\n");
        index.close();
        QFile icon(dir.filePath(QStringLiteral("Probe/scalable/places/folder-symbolic.svg")));
        QVERIFY(icon.open(QIODevice::WriteOnly));
        icon.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\"><rect width=\"16\" "
                   "height=\"16\" fill=\"#333\"/></svg>");
        icon.close();

        NoIconTheme none;
        // The stand-in's outline first, kept...
        QVERIFY(coverage(Symbols::tinted(QStringLiteral("folder"), Qt::green, 16), Qt::green).drawn < 16 * 16);
        QVERIFY(Symbols::icon(QStringLiteral("folder")).name().isEmpty());
        // ...until the desktop names a theme that has the icon.
        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName(QStringLiteral("Probe"));
        QCOMPARE(Symbols::icon(QStringLiteral("folder")).name(), QStringLiteral("folder-symbolic"));
        QCOMPARE(coverage(Symbols::tinted(QStringLiteral("folder"), Qt::green, 16), Qt::green).drawn, 16 * 16);
    }

    void theFallbackThemeIsOnlyBorrowedWhenTheDesktopNamesNone()
    {
        NoIconTheme none;
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Adwaita"));
        QFile index(dir.filePath(QStringLiteral("Adwaita/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Adwaita\nDirectories=\n");
        index.close();
        QIcon::setThemeSearchPaths({dir.path()});

        QIcon::setThemeName(QStringLiteral("Breeze"));
        QIcon::setFallbackThemeName(QStringLiteral("Breeze"));
        Symbols::useSymbolicFallbackTheme();
        QCOMPARE(QIcon::themeName(), QStringLiteral("Breeze"));
        QCOMPARE(QIcon::fallbackThemeName(), QStringLiteral("Breeze"));

        // A desktop without a theme of its own searches the borrowed one first, which inherits
        // the bare theme.
        QIcon::setThemeName(QStringLiteral("hicolor"));
        QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
        Symbols::useSymbolicFallbackTheme();
        QCOMPARE(QIcon::themeName(), QStringLiteral("Adwaita"));
        QCOMPARE(QIcon::fallbackThemeName(), QStringLiteral("Adwaita"));
    }
};

VANTREL_TEST_MAIN(TestSymbols)
#include "tst_Symbols.moc"
