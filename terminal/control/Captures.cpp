#include "terminal/control/Captures.h"

#include <QDir>
#include <QFileInfo>

#include "core/LocaleText.h"
#include "terminal/control/ReceivePath.h"

namespace trelmo {
namespace {

class PaneSource : public CapturePaneSource {
  public:
    explicit PaneSource(const ReceivePath& receive) : receive_(receive) {}
    qsizetype paneLineCount() const override { return receive_.pane().lineCount(); }
    // Behind its time stamp while the stamps are on.
    QString paneLine(qsizetype i) const override {
        return receive_.stampedLine(static_cast<int>(i));
    }

  private:
    const ReceivePath& receive_;
};

class TableSource : public CaptureTableSource {
  public:
    explicit TableSource(const ByteTableModel& table) : table_(table) {}
    qsizetype gridRowCount() const override { return table_.gridRowCount(); }
    QString cellText(int column, qsizetype gridRow) const override {
        return table_.gridCell(column, gridRow);
    }

  private:
    const ByteTableModel& table_;
};

}  // namespace

CaptureController::CaptureController(ReceivePath& receive, QObject* parent)
    : QObject(parent),
      receive_(receive),
      paneSource_(std::make_unique<PaneSource>(receive)),
      tableSource_(std::make_unique<TableSource>(receive.table())) {
    logStatusTimer_.setInterval(kLogStatusMs);
    connect(&logStatusTimer_, &QTimer::timeout, this, &CaptureController::showLogStatus);
    // The pane emptied starts a new line: so does the text log.
    connect(&receive.pane(), &PaneModel::cleared, this, [this] {
        if (log_)
            log_->breakLine();
    });
}

CaptureController::~CaptureController() {
    // Everything queued is written before the receive path goes.
    receive_.setReceiveTap({});
    receive_.setSentTap({});
    if (log_)
        log_->close();
}

void CaptureController::saveTextLog(const QString& path, const CaptureHeader& header) {
    try {
        trelmo::saveTextLog(path, header, *paneSource_, *tableSource_, receive_.hexMode(),
                            receive_.utf8());
    } catch (const ECaptureError&) {
        emit notice(Notice{QStringLiteral("Exception - unsuccesfull save!"), QString(),
                           Notice::Icon::None, true});
    }
}

void CaptureController::saveBin(const QString& path, const CaptureHeader& header) {
    try {
        saveBinFile(path, header, *tableSource_);
    } catch (const ECaptureError& e) {
        emit notice(Notice{
            QStringLiteral("Error saving in bin, exception - ") + QString::fromUtf8(e.what()),
            QString(), Notice::Icon::None, true});
    }
}

PrintLayout CaptureController::printout(const CaptureHeader& header,
                                        const PageMetrics& page) const {
    return makePrintLayout(header, *tableSource_, page);
}

}  // namespace trelmo

namespace trelmo {

// ---- The log to file ----------------------------------------------------------------------

QString CaptureController::suggestedLogPath() const {
    const QString folder = logFolder_.isEmpty() ? QDir::homePath() : logFolder_;
    return QDir(folder).filePath(defaultLogFileName(now()));
}

bool CaptureController::startLog(const QString& path, LogMode mode) {
    finishLog();
    const quint64 generation = ++logGeneration_;
    LogWriter::Hooks hooks;
    // A failed write is reported on the writer's thread; the log is ended on this one.
    hooks.failed = [this, generation] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == logGeneration_)
                    finishLog();
            },
            Qt::QueuedConnection);
    };
    hooks.beforeWrite = logWriteHook;
    auto writer = std::make_unique<LogWriter>(std::move(hooks));
    if (!writer->open(path, mode)) {
        emit notice(Notice{QStringLiteral("Cannot log to %1:\n%2").arg(path, writer->error()),
                           QStringLiteral("Log to file"), Notice::Icon::Error, true});
        emit loggingChanged(false);
        return false;
    }
    log_ = std::move(writer);
    LogWriter* log = log_.get();
    if (mode == LogMode::Raw) {
        // Received bytes only: the echo of what was sent stays out.
        receive_.setReceiveTap(
            [log](QByteArrayView block, PaneModel::Kind, int64_t) { log->append(block); });
    } else {
        // Lines carry the pane's stamps: the arrival of the block's first byte (of an echo,
        // when it was sent); text read as the pane reads it.
        auto timeOf = [this](int64_t ns) {
            std::optional<QTime> time;
            if (logLineTimes_)
                time = QTime::fromMSecsSinceStartOfDay(
                    static_cast<int>(receive_.stampClock().msOfDay(ns)));
            return time;
        };
        receive_.setReceiveTap(
            [this, log, timeOf](QByteArrayView block, PaneModel::Kind kind, int64_t arrivalNs) {
                log->append(block, kind, timeOf(arrivalNs), receive_.utf8());
            });
        receive_.setSentTap(
            [this, log, timeOf](QByteArrayView bytes, PaneModel::Kind kind, int64_t sentNs) {
                log->appendSent(bytes, kind, timeOf(sentNs), receive_.utf8());
            });
    }
    logStatusTimer_.start();
    emit loggingChanged(true);
    showLogStatus();
    return true;
}

void CaptureController::stopLog() {
    finishLog();
}

void CaptureController::finishLog() {
    if (!log_)
        return;
    receive_.setReceiveTap({});
    receive_.setSentTap({});
    logStatusTimer_.stop();
    const std::unique_ptr<LogWriter> log = std::move(log_);
    const bool written = log->close();
    emit loggingChanged(false);
    emit logStatusChanged(QString());
    if (!written)
        emit notice(Notice{QStringLiteral("Logging to %1 has stopped: %2\nReception goes on; the "
                                          "pane keeps everything received.")
                               .arg(log->path(), log->error()),
                           QStringLiteral("Log to file"), Notice::Icon::Error, true});
}

void CaptureController::showLogStatus() {
    if (!log_)
        return;
    emit logStatusChanged(logStatusText(QFileInfo(log_->path()).fileName(), log_->writtenBytes(),
                                        log_->waitingBytes()));
}

}  // namespace trelmo
