#pragma once

#include "platform/gui/FileDialogs.h"
#include "services/LogManager.h"

#include <QUrl>
#include <QWidget>

#include <qcoro/qcorotask.h>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace vantrel {

// Debug mode, the minimum level, the log file, its size, and exporting or clearing it. The
// switches and the level are seeded once, when the tab is made; the size is read again whenever
// the tab is shown and after a clear. Every file access runs off the main thread.
class LoggingTab final : public QWidget {
    Q_OBJECT

public:
    explicit LoggingTab(LogManager& log = LogManager::shared(), FileDialogs& fileDialogs = FileDialogs::shared(),
        QWidget* parent = nullptr);

    // The text of a level's menu row: its symbol and its label.
    static QString levelText(LogLevel level);

    // The button actions; each runs on by itself.
    QCoro::Task<> exportLogs();
    QCoro::Task<> clearLogs();
    QCoro::Task<> refreshSize();

signals:
    // The size row shows a freshly read size.
    void sizeRefreshed();
    // An export ended: moved to the chosen place, or not (nothing to export, cancelled, failed).
    void exportFinished(bool moved);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCoro::Task<> moveExport(QString temporaryPath, QString destinationPath);
    void reportFailedMove(const QString& temporaryPath, const QString& failure);

    LogManager& m_log;
    FileDialogs& m_fileDialogs;
    quint64 m_sizeGeneration = 0;

    QCheckBox* m_debugMode;
    QComboBox* m_level;
    QCheckBox* m_fileLogging;
    QLabel* m_size;
    QPushButton* m_export;
    QPushButton* m_clear;
};

} // namespace vantrel
