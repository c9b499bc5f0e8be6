// How long the main thread stalls while a user works with a large folder in the file browser, and
// the share configurations the start-up measurement launches the application with.
//
//   vantrel_benchmark scenarios [--files N] [--queue-seconds S] [--folder DIR]
//   vantrel_benchmark write-shares N
//
// The scenarios drive the real browser window (any platform plugin; offscreen serves) on a local
// folder declared a share root, with their own cache, settings and destination below DIR, and
// print one line each:
//   benchmark NAME: longest stall N ms, main-thread CPU N ms, wall N ms
// write-shares stores N disabled share configurations in the settings file of the environment
// (XDG_CONFIG_HOME) with the launch auto-mount off, so a launch mounts nothing.
#include "StallMeter.h"

#include "files/CacheManager.h"
#include "files/RecentFilesTracker.h"
#include "files/TransferManager.h"
#include "files/TransferTask.h"
#include "model/NASConfig.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/NASConfigStore.h"
#include "mounting/NotificationPreferences.h"
#include "mounting/NotificationService.h"
#include "platform/Defaults.h"
#include "platform/FileWork.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemLog.h"
#include "platform/gui/FileDialogs.h"
#include "platform/gui/Workspace.h"
#include "services/LogManager.h"
#include "views/browser/FileBrowserView.h"
#include "views/browser/FileListView.h"
#include "views/browser/TransferQueueView.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

using namespace vantrel;
using namespace vantrel::benchmark;

namespace {

// Longer than any scenario took on the slowest code measured.
int scenarioTimeoutMs = 15 * 60 * 1000;

void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

void report(const QString& name, const StallFigures& figures)
{
    print(QStringLiteral("benchmark %1: longest stall %2 ms, main-thread CPU %3 ms, wall %4 ms")
              .arg(name)
              .arg(figures.longestStallMs)
              .arg(figures.cpuMs)
              .arg(figures.wallMs));
}

// Runs the event loop until the condition holds, looking every few milliseconds (never spinning:
// the loop's own cost would count as the main thread's).
bool waitUntil(const std::function<bool()>& done, int timeoutMs = scenarioTimeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(StallMeter::tickInterval);
    bool reached = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return reached;
}

// The save panel of a user who picks the same folder every time, answering from the event loop
// as the real panel does.
class ChosenFolder final : public FileDialogs {
public:
    explicit ChosenFolder(QUrl folder)
        : m_folder(std::move(folder))
    {
    }
    void chooseSaveLocation(const SaveOptions&, QWidget*, QObject* receiver, Completion done) override
    {
        QTimer::singleShot(0, receiver, [folder = m_folder, done] { done(folder); });
    }
    void chooseFolder(const FolderOptions&, QWidget*, QObject* receiver, Completion done) override
    {
        QTimer::singleShot(0, receiver, [folder = m_folder, done] { done(folder); });
    }

private:
    QUrl m_folder;
};

// Opens nothing: the scenarios never ask for it.
class NoWorkspace final : public Workspace {
public:
    void open(const QUrl&) override {}
    void selectFile(const QUrl&) override {}
};

bool makeFiles(const QString& folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    const QByteArray content(64, 'x');
    for (int i = 0; i < count; ++i) {
        QFile file(folder + QStringLiteral("/file %1.txt").arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return false;
    }
    return true;
}

QModelIndex rowNamed(QTableView* table, const QString& name)
{
    QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (index.data(Qt::DisplayRole).toString() == name)
            return index;
    }
    return {};
}

int countCompleted(const TransferManager& transfers)
{
    int completed = 0;
    for (const TransferTask& task : transfers.tasks())
        completed += task.status == TransferStatus::completed ? 1 : 0;
    return completed;
}

int runScenarios(int fileCount, int queueSeconds, const QString& base)
{
    QDir().mkpath(base);
    QTemporaryDir dir(base + QStringLiteral("/run-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder below %s\n", qPrintable(base));
        return 1;
    }
    const QString share = dir.filePath(QStringLiteral("share"));
    const QString bigFolder = share + QStringLiteral("/Big");
    const QString downloads = dir.filePath(QStringLiteral("Downloads"));
    if (!makeFiles(bigFolder, fileCount) || !QDir().mkpath(downloads)) {
        std::fprintf(stderr, "cannot write the files below %s\n", qPrintable(dir.path()));
        return 1;
    }
    declareShareRoot(share);

    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    LogManager log(defaults, SystemLog::shared(), dir.filePath(QStringLiteral("Logs")));
    NotificationPreferences preferences(defaults);
    NotificationCenter center(QDBusConnection::sessionBus());
    NotificationService notifications(center, preferences, log);
    RecentFilesTracker recentFiles(defaults, log);
    CacheManager cache(defaults, log, dir.filePath(QStringLiteral("cache")), &systemNow);
    ChosenFolder dialogs(QUrl::fromLocalFile(downloads));
    NoWorkspace workspace;

    FileBrowserServices services;
    services.cache = &cache;
    services.log = &log;
    services.recentFiles = &recentFiles;
    services.notifications = &notifications;
    services.workspace = &workspace;
    services.fileDialogs = &dialogs;
    NASConfig config;
    config.name = QStringLiteral("Benchmark");

    auto view = std::make_unique<FileBrowserView>(config, QUrl::fromLocalFile(share), std::move(services));
    // Only the refreshes a scenario asks for.
    view->autoRefreshInterval = 24 * 3600;
    view->resize(900, 600);
    view->show();
    FileSystemManager& files = view->fileSystemManager();
    TransferManager& transfers = view->transferManager();
    QTableView* table = view->fileList()->table();
    const auto listed = [&](int count) {
        return [&files, table, count] { return !files.isLoading() && table->model()->rowCount() == count; };
    };
    const auto button = [&](const char* name) { return view->findChild<QPushButton*>(QString::fromLatin1(name)); };
    if (!waitUntil(listed(1), 60'000)) {
        std::fprintf(stderr, "the share's root was not listed\n");
        return 1;
    }

    StallMeter meter;
    bool complete = true;
    const auto finish = [&](const QString& name, bool reached) {
        const StallFigures figures = meter.stop();
        report(name, figures);
        if (!reached) {
            std::fprintf(stderr,
                "benchmark %s: did not finish in time (%d rows listed, %lld files cached, %lld tasks queued)\n",
                qPrintable(name), table->model()->rowCount(), cache.statistics().entryCount,
                qlonglong(transfers.tasks().size()));
            complete = false;
        }
    };

    // The user opens a folder that was never listed: until its entries are shown and every file
    // is in the cache.
    {
        const QModelIndex big = rowNamed(table, QStringLiteral("Big"));
        const QPoint at = table->visualRect(big).center();
        meter.start();
        // A double-click as the desktop delivers it: press, release, double-click, release.
        QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        const bool reached = waitUntil(
            [&] { return listed(fileCount)() && cache.statistics().entryCount >= fileCount; });
        finish(QStringLiteral("first-listing"), reached);
    }

    // A refresh that finds the folder as it is shown, until the cache has been asked about it.
    {
        const qint64 hitsBefore = cache.statistics().hitCount;
        meter.start();
        QTest::mouseClick(button("refreshButton"), Qt::LeftButton);
        const bool reached = waitUntil(
            [&] { return !files.isLoading() && cache.statistics().hitCount >= hitsBefore + fileCount; });
        finish(QStringLiteral("unchanged-refresh"), reached);
    }

    // Back to the root, then the folder is selected and downloaded: until the queue holds a task
    // per file and the queue view shows them.
    QTest::mouseClick(button("backButton"), Qt::LeftButton);
    if (!waitUntil(listed(1), 60'000)) {
        std::fprintf(stderr, "the share's root was not listed again\n");
        return 1;
    }
    {
        const QModelIndex big = rowNamed(table, QStringLiteral("Big"));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, table->visualRect(big).center());
        QListView* queue = view->transferQueue()->list();
        meter.start();
        QTest::mouseClick(button("downloadButton"), Qt::LeftButton);
        const bool reached = waitUntil(
            [&] { return transfers.tasks().size() >= fileCount && queue->model()->rowCount() >= fileCount; });
        finish(QStringLiteral("folder-download"), reached);
    }

    // The queue runs for a while (or to its end).
    {
        const int doneBefore = countCompleted(transfers);
        meter.start();
        QElapsedTimer running;
        running.start();
        waitUntil([&] { return running.elapsed() >= queueSeconds * 1000 || !transfers.isProcessing(); });
        finish(QStringLiteral("running-queue"), true);
        const int doneAfter = countCompleted(transfers);
        print(QStringLiteral("benchmark running-queue files done: %1 in the run, %2 of %3 in all")
                  .arg(doneAfter - doneBefore)
                  .arg(doneAfter)
                  .arg(fileCount));
    }

    // Closing the window cancels what is left; the work under way ends before the folder goes.
    view.reset();
    waitForFileWork();
    cache.waitForIndexWrites();
    return complete ? 0 : 1;
}

int writeShares(int count)
{
    QList<NASConfig> configs;
    for (int i = 1; i <= count; ++i) {
        NASConfig config;
        config.name = QStringLiteral("Share %1").arg(i);
        // Disabled: nothing of the launch may mount or probe a server.
        config.isEnabled = false;
        config.protocol = i % 2 ? NASProtocol::smb : NASProtocol::nfs;
        config.address = QStringLiteral("192.0.2.%1").arg(i % 250 + 1);
        config.sharePath = QStringLiteral("share%1").arg(i);
        config.authMethod = AuthMethod::guest;
        config.networkBinding.ipRange = QStringLiteral("192.0.2.0/24");
        configs.append(config);
    }
    Defaults defaults(Defaults::standardFilePath());
    defaults.setValue(NASConfigStore::userDefaultsKey, encodeConfigList(configs));
    defaults.setValue(AutoMountStrategy::autoMountOnLaunchKey, false);
    if (!defaults.synchronize()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Defaults::standardFilePath()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype at = arguments.indexOf(name);
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
    };
    const QString command = arguments.value(0);
    scenarioTimeoutMs = option(QStringLiteral("--timeout-seconds"), QStringLiteral("900")).toInt() * 1000;
    if (command == QStringLiteral("scenarios")) {
        return runScenarios(option(QStringLiteral("--files"), QStringLiteral("20000")).toInt(),
            option(QStringLiteral("--queue-seconds"), QStringLiteral("5")).toInt(),
            option(QStringLiteral("--folder"), QDir::tempPath() + QStringLiteral("/vantrel-benchmark")));
    }
    if (command == QStringLiteral("write-shares") && arguments.size() == 2)
        return writeShares(arguments.at(1).toInt());
    std::fprintf(stderr,
        "usage: vantrel_benchmark scenarios [--files N] [--queue-seconds S] [--folder DIR]\n"
        "       vantrel_benchmark write-shares N\n");
    return 2;
}
