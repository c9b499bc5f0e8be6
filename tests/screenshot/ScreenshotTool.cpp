// Draws one window of the application, with sample shares, and saves it as a PNG:
//   vantrel_screenshot WINDOW OUTPUT.png [--language ID] [--sample FILE]
//   vantrel_screenshot --list
// Run it on a real display server (scripts/screenshot.sh starts a virtual one).

#include "Screenshots.h"

#include "support/gui/ViewFixture.h"

#include "platform/Localization.h"
#include "platform/gui/Symbols.h"

#include <QApplication>
#include <QCommandLineParser>
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
    const QCommandLineOption language(QStringLiteral("language"),
        QStringLiteral("Interface catalog (en, zh-Hans, ...)."), QStringLiteral("id"), QStringLiteral("en"));
    const QCommandLineOption sample(QStringLiteral("sample"), QStringLiteral("The sample shares file."),
        QStringLiteral("file"), QStringLiteral(VANTREL_SAMPLE_SHARES));
    parser.addOptions({list, language, sample});
    parser.addHelpOption();
    parser.process(app);

    test::ViewFixture fixture;
    // The fixture starts without a catalog; the picture is in the language asked for.
    const QString catalog = Localization::catalogFor(parser.value(language));
    if (catalog.isEmpty()) {
        err << "No catalog serves the language " << parser.value(language) << "\n";
        return 2;
    }
    Localization::useCatalog(catalog);

    const QList<test::ScreenshotWindow> windows = test::screenshotWindows();
    if (parser.isSet(list)) {
        for (const test::ScreenshotWindow& window : windows)
            out << window.name << "\n";
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

    QString error;
    if (!fixture.loadSample(parser.value(sample), &error)) {
        err << "Unusable sample: " << error << "\n";
        return 1;
    }

    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(chosen->title);
    window->setLocale(QLocale(catalog));
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* content = chosen->makeContent(fixture);
    layout->addWidget(content);
    if (chosen->size.isEmpty())
        window->adjustSize();
    else
        window->resize(chosen->size.expandedTo(window->minimumSizeHint()));
    window->show();
    settle(600);

    QPixmap picture = window->screen()->grabWindow(window->winId());
    if (picture.isNull())
        picture = window->grab();
    if (!picture.save(arguments.at(1), "PNG")) {
        err << "Could not write " << arguments.at(1) << "\n";
        return 1;
    }
    out << arguments.at(1) << " (" << picture.width() << "x" << picture.height() << ")\n";
    return 0;
}
