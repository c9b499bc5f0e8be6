// Draws one window of the application, or all of them, with sample shares, and saves PNGs:
//   vantrel_screenshot WINDOW OUTPUT.png [--language ID] [--sample FILE]
//   vantrel_screenshot --all FOLDER [--language ID] [--sample FILE]   (FOLDER/<window>-<ID>.png)
//   vantrel_screenshot --list
// --catalogs FOLDER takes the interface catalogs from FOLDER/<language>/*.json (drafts) instead of
// the built-in ones.
// Run it on a real display server (scripts/screenshot.sh starts a virtual one).

#include "Screenshots.h"

#include "support/gui/ViewFixture.h"

#include "platform/Localization.h"
#include "platform/SystemLog.h"
#include "platform/gui/Symbols.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QVBoxLayout>

#include <memory>

using namespace vantrel;

namespace {

// Lets layouts, deferred updates and the first frames of animations run.
void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Draws the window and saves it; false, with the reason on `err`, when the file cannot be written.
bool draw(const test::ScreenshotWindow& chosen, test::ViewFixture& fixture, const QString& catalog, const QString& path,
    QTextStream& out, QTextStream& err)
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(chosen.title);
    window->setLocale(QLocale(catalog));
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* content = chosen.makeContent(fixture);
    layout->addWidget(content);
    if (chosen.size.isEmpty())
        window->adjustSize();
    else
        window->resize(chosen.size.expandedTo(window->minimumSizeHint()));
    window->show();
    settle(600);

    QPixmap picture = window->screen()->grabWindow(window->winId());
    if (picture.isNull())
        picture = window->grab();
    if (!picture.save(path, "PNG")) {
        err << "Could not write " << path << "\n";
        return false;
    }
    out << path << " (" << picture.width() << "x" << picture.height() << ")\n";
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication::setApplicationName(QStringLiteral("vantrel-screenshot"));
    QApplication app(argc, argv);
    Symbols::useSymbolicFallbackTheme();
    QTextStream err(stderr);
    QTextStream out(stdout);

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("window"), QStringLiteral("The window to draw (--list names them)."));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The PNG file to write."));
    const QCommandLineOption list(QStringLiteral("list"), QStringLiteral("Lists the windows it can draw."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Draws every window into the folder."),
        QStringLiteral("folder"));
    const QCommandLineOption language(QStringLiteral("language"),
        QStringLiteral("Interface catalog (en, zh-Hans, ...)."), QStringLiteral("id"), QStringLiteral("en"));
    const QCommandLineOption sample(QStringLiteral("sample"), QStringLiteral("The sample shares file."),
        QStringLiteral("file"), QStringLiteral(VANTREL_SAMPLE_SHARES));
    const QCommandLineOption catalogs(QStringLiteral("catalogs"),
        QStringLiteral("Takes the catalogs from this folder instead of the built-in ones."), QStringLiteral("folder"),
        Localization::resourceRoot);
    parser.addOptions({list, all, language, sample, catalogs});
    parser.addHelpOption();
    parser.process(app);

    test::ViewFixture fixture;
    // The fixture starts without a catalog; the picture is in the language asked for.
    const QString catalog = Localization::catalogFor(parser.value(language));
    if (catalog.isEmpty()) {
        err << "No catalog serves the language " << parser.value(language) << "\n";
        return 2;
    }
    Localization::useCatalog(catalog, parser.value(catalogs), SystemLog::shared());

    const QList<test::ScreenshotWindow> windows = test::screenshotWindows();
    if (parser.isSet(list)) {
        for (const test::ScreenshotWindow& window : windows)
            out << window.name << "\n";
        return 0;
    }
    QString error;
    if (parser.isSet(all)) {
        const QDir folder(parser.value(all));
        if (!folder.mkpath(QStringLiteral(".")) || !fixture.loadSample(parser.value(sample), &error)) {
            err << "Cannot draw into " << folder.path() << ": " << error << "\n";
            return 1;
        }
        for (const test::ScreenshotWindow& window : windows) {
            if (!draw(window, fixture, catalog,
                    folder.filePath(window.name + u'-' + parser.value(language) + QStringLiteral(".png")), out, err))
                return 1;
        }
        return 0;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        parser.showHelp(2);
    const test::ScreenshotWindow* chosen = nullptr;
    for (const test::ScreenshotWindow& window : windows) {
        if (window.name == arguments.at(0))
            chosen = &window;
    }
    if (!chosen) {
        err << "Unknown window " << arguments.at(0) << "; --list names the known ones\n";
        return 2;
    }
    if (!fixture.loadSample(parser.value(sample), &error)) {
        err << "Unusable sample: " << error << "\n";
        return 1;
    }
    if (!draw(*chosen, fixture, catalog, arguments.at(1), out, err))
        return 1;
    return 0;
}
