#pragma once
// The capture of the main window kept on disk: the text log and the BIN file of what was
// received, the lines of its printout, and the log to file written as bytes arrive.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/capture/CaptureFiles.h"
#include "core/capture/LogWriter.h"
#include "core/capture/PrintLayout.h"
#include "terminal/control/LinkTypes.h"

namespace trelmo {

class ReceivePath;

class CaptureController : public QObject {
    Q_OBJECT
  public:
    explicit CaptureController(ReceivePath& receive, QObject* parent = nullptr);
    ~CaptureController() override;

    // The pane and the byte table as the capture files read them.
    const CapturePaneSource& paneSource() const { return *paneSource_; }
    const CaptureTableSource& tableSource() const { return *tableSource_; }

    // Writes the text log (the pane's lines and, in text mode, the byte table); a file that
    // cannot be written is reported and the old one kept.
    void saveTextLog(const QString& path, const CaptureHeader& header);
    // Writes the BIN file; a failure is reported with its reason.
    void saveBin(const QString& path, const CaptureHeader& header);
    // The lines of the printout on pages of this size and font.
    PrintLayout printout(const CaptureHeader& header, const PageMetrics& page) const;

    // ---- The log to file: every received byte written as it arrives ----------------------
    // Starts logging every block the receive path gets (any link) to `path`, an open log
    // being closed first. False, after a notice, when the file cannot be opened.
    bool startLog(const QString& path, LogMode mode);
    // Stops logging: what is queued is written and the file closed. A write that failed is
    // reported (once) here or as it happens; logging then stops and reception goes on.
    void stopLog();
    bool logging() const { return log_ != nullptr; }
    // The open log's writer (its path, mode and counts), or nullptr.
    const LogWriter* logWriter() const { return log_.get(); }
    // The folder and the mode the log dialog offers: the last ones chosen (kept in the
    // settings file). An empty folder: none chosen yet.
    const QString& logFolder() const { return logFolder_; }
    void setLogFolder(const QString& folder) { logFolder_ = folder; }
    LogMode logMode() const { return logMode_; }
    void setLogMode(LogMode mode) { logMode_ = mode; }
    // The file the log dialog offers: defaultLogFileName(now()) in the last folder used (the
    // home folder at first).
    QString suggestedLogPath() const;
    // The text log's lines begin with "[hh:mm:ss.zzz] " and the time their first byte came
    // (for when the pane stamps its lines). Off by default.
    void setLogLineTimes(bool on) { logLineTimes_ = on; }
    bool logLineTimes() const { return logLineTimes_; }
    // Runs on the log writer's thread before each write (tests play a slow disk with it).
    std::function<void(qint64 bytes)> logWriteHook;
    // How often the log panel is refreshed while logging.
    static constexpr int kLogStatusMs = 500;

  signals:
    void notice(const Notice& notice);
    // Logging started or stopped (the menu item's check mark follows it).
    void loggingChanged(bool on);
    // The log panel's text: logStatusText() while logging, empty when not.
    void logStatusChanged(const QString& text);

  private:
    void finishLog();
    void showLogStatus();

    ReceivePath& receive_;
    std::unique_ptr<CapturePaneSource> paneSource_;
    std::unique_ptr<CaptureTableSource> tableSource_;

    std::unique_ptr<LogWriter> log_;
    quint64 logGeneration_ = 0;  // which writer a failure report belongs to
    QTimer logStatusTimer_;
    QString logFolder_;
    LogMode logMode_ = LogMode::Raw;
    bool logLineTimes_ = false;
};

}  // namespace trelmo
