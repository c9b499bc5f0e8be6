#include "views/main/settings/LoggingTab.h"

#include "platform/FileMove.h"
#include "platform/FileWork.h"
#include "platform/Formatters.h"
#include "platform/Localization.h"
#include "platform/Threading.h"
#include "views/main/settings/SettingsRows.h"
#include "views/widgets/FormPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

namespace vantrel {

namespace {

QString levelSymbol(LogLevel level)
{
    switch (level) {
    case LogLevel::debug: return QStringLiteral("\U0001F50D");
    case LogLevel::info: return QStringLiteral("\u2139\uFE0F");
    case LogLevel::warning: return QStringLiteral("\u26A0\uFE0F");
    case LogLevel::error: return QStringLiteral("\u274C");
    case LogLevel::critical: return QStringLiteral("\U0001F525");
    }
    return {};
}

} // namespace

LoggingTab::LoggingTab(LogManager& log, FileDialogs& fileDialogs, QWidget* parent)
    : QWidget(parent)
    , m_log(log)
    , m_fileDialogs(fileDialogs)
{
    FormPage* page = settings::addFormPage(this, QStringLiteral("LoggingTab"));

    FormSection* mode = page->addSection(
        Localization::text(QStringLiteral("settings.logging.mode"), QStringLiteral("日志模式")));
    m_debugMode = settings::addToggle(mode, LogManager::debugModeKey,
        Localization::text(QStringLiteral("settings.logging.debug"), QStringLiteral("调试模式")));
    settings::addNote(mode,
        Localization::text(QStringLiteral("settings.logging.debug.hint"),
            QStringLiteral("启用后会记录详细的调试信息，可能影响性能。")));

    FormSection* level = page->addSection(
        Localization::text(QStringLiteral("settings.logging.level"), QStringLiteral("日志级别")));
    m_level = new QComboBox;
    m_level->setObjectName(LogManager::logLevelKey);
    for (LogLevel each : allCases<LogLevel>())
        m_level->addItem(levelText(each), static_cast<int>(each));
    // Colour emoji are drawn wider than the font metrics measure them; leave room for the label.
    m_level->setMinimumContentsLength(10);
    settings::addTrailingRow(level,
        Localization::text(QStringLiteral("settings.logging.minLevel"), QStringLiteral("最低级别")), m_level);

    FormSection* file = page->addSection(
        Localization::text(QStringLiteral("settings.logging.file"), QStringLiteral("文件输出")));
    m_fileLogging = settings::addToggle(file, LogManager::fileLoggingKey,
        Localization::text(QStringLiteral("settings.logging.fileToggle"), QStringLiteral("写入日志文件")));
    m_size = settings::makeValueLabel(QStringLiteral("logSize"));
    settings::addTrailingRow(file,
        Localization::text(QStringLiteral("settings.logging.fileSize"), QStringLiteral("日志文件大小")), m_size);

    FormSection* actions = page->addSection(
        Localization::text(QStringLiteral("settings.logging.actions"), QStringLiteral("操作")));
    m_export = settings::makeSymbolButton(QStringLiteral("export"), QStringLiteral("square.and.arrow.up"),
        Localization::text(QStringLiteral("settings.logging.export"), QStringLiteral("导出日志")),
        Theme::Color::primary);
    m_clear = settings::makeSymbolButton(QStringLiteral("clear"), QStringLiteral("trash"),
        Localization::text(QStringLiteral("settings.logging.clear"), QStringLiteral("清除日志")), Theme::Color::red);
    settings::addButtonRow(actions, {m_export, m_clear});

    {
        const QSignalBlocker blockDebug(m_debugMode);
        const QSignalBlocker blockLevel(m_level);
        const QSignalBlocker blockFile(m_fileLogging);
        m_debugMode->setChecked(m_log.debugMode());
        m_level->setCurrentIndex(m_level->findData(static_cast<int>(m_log.minimumLevel())));
        m_fileLogging->setChecked(m_log.fileLoggingEnabled());
    }

    connect(m_debugMode, &QCheckBox::toggled, this, [this](bool on) { m_log.setDebugMode(on); });
    connect(m_level, &QComboBox::currentIndexChanged, this, [this](int index) {
        const std::optional<LogLevel> chosen = fromRawValue<LogLevel>(m_level->itemData(index).toInt());
        m_log.setMinimumLevel(chosen.value_or(LogLevel::info));
    });
    connect(m_fileLogging, &QCheckBox::toggled, this, [this](bool on) { m_log.setFileLoggingEnabled(on); });
    connect(m_export, &QPushButton::clicked, this, [this] { detach(exportLogs()); });
    connect(m_clear, &QPushButton::clicked, this, [this] { detach(clearLogs()); });
}

QString LoggingTab::levelText(LogLevel level)
{
    // One text built from two values, with nothing to translate.
    return Localization::format(QStringLiteral("%@ %@"), {levelSymbol(level), logLevelLabel(level)});
}

void LoggingTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    detach(refreshSize());
}

QCoro::Task<> LoggingTab::refreshSize()
{
    QPointer<LoggingTab> self(this);
    // Only the newest reading is shown: an older one may finish later.
    const quint64 generation = ++m_sizeGeneration;
    LogManager* log = &m_log;
    QFuture<qint64> reading = QtConcurrent::run(&localIOPool(), [log] { return log->totalLogSize(); });
    const qint64 bytes = co_await reading;
    if (!self || generation != m_sizeGeneration)
        co_return;
    m_size->setText(Formatters::fileByteCount(bytes));
    emit sizeRefreshed();
}

QCoro::Task<> LoggingTab::clearLogs()
{
    QPointer<LoggingTab> self(this);
    QFuture<void> removal = m_log.clearLogs();
    co_await removal;
    if (!self)
        co_return;
    co_await refreshSize();
}

QCoro::Task<> LoggingTab::exportLogs()
{
    QPointer<LoggingTab> self(this);
    LogManager* log = &m_log;
    QFuture<std::optional<QUrl>> writing = QtConcurrent::run(&localIOPool(), [log] { return log->exportLogsToFile(); });
    const std::optional<QUrl> exported = co_await writing;
    if (!self)
        co_return;
    if (!exported) {
        // No log text, or the temporary file could not be written (the logger recorded why).
        emit exportFinished(false);
        co_return;
    }
    const QString temporaryPath = exported->toLocalFile();
    FileDialogs::SaveOptions options;
    options.suggestedName = QFileInfo(temporaryPath).fileName();
    options.nameFilters = {Localization::text(QStringLiteral("settings.logging.plainText"), QStringLiteral("纯文本"))
        + QStringLiteral(" (*.log *.txt)")};
    // A free-standing panel; it closes unanswered if the tab goes away.
    m_fileDialogs.chooseSaveLocation(options, nullptr, this, [this, temporaryPath](const std::optional<QUrl>& chosen) {
        if (!chosen) {
            // Cancelled: the exported file stays in the temporary folder.
            emit exportFinished(false);
            return;
        }
        detach(moveExport(temporaryPath, chosen->toLocalFile()));
    });
}

QCoro::Task<> LoggingTab::moveExport(QString temporaryPath, QString destinationPath)
{
    QPointer<LoggingTab> self(this);
    // The chosen place may be on a share.
    QFuture<std::optional<QString>> moving = runFileWork(destinationPath,
        [temporaryPath, destinationPath] { return moveFileReplacing(temporaryPath, destinationPath); });
    const std::optional<QString> failure = co_await moving;
    if (!self)
        co_return;
    if (failure) {
        VLOG_TO(m_log, error, defaultCategory, QStringLiteral("Failed to export logs: ") + *failure);
        reportFailedMove(temporaryPath, *failure);
    }
    emit exportFinished(!failure);
}

void LoggingTab::reportFailedMove(const QString& temporaryPath, const QString& failure)
{
    auto* alert = new QMessageBox(QMessageBox::Warning,
        Localization::text(QStringLiteral("settings.logging.exportFailed"), QStringLiteral("无法导出日志")),
        Localization::text(QStringLiteral("settings.logging.exportFailed"), QStringLiteral("无法导出日志")),
        QMessageBox::Ok, this);
    alert->setObjectName(QStringLiteral("exportFailedAlert"));
    alert->setInformativeText(Localization::textFormat(QStringLiteral("settings.logging.exportFailed.detail"),
        QStringLiteral("%1$@\n导出的日志仍保存在：%2$@"), {failure, temporaryPath}));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}

} // namespace vantrel
