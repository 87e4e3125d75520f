#pragma once
// The log of received bytes, written to a file as the bytes arrive.
//
// The receive path hands every block to LogWriter::append, which only copies it into a queue
// and returns: a thread of the writer's own takes the queue and writes it, so a slow disk never
// holds up reception. The queue has no bound and nothing is ever dropped: while the disk lags
// the queue grows (waitingBytes() says by how much). What is queued reaches the file within a
// fraction of a second, long before a second has passed, so a crash or a kill loses at most
// what arrived in that last moment; close() writes everything still queued.
//
// Two ways of writing: Raw, every byte exactly as received; Text, the lines of the receive
// pane as it shows them (control characters by name, hex), in the code page with CR LF after
// each line, a line written when it ends and the pending one at close. The text log also has
// the pane's echo lines of what was sent ("> " and the bytes), in the same place as the pane:
// never inside a received line. While the pane reads received text as UTF-8, so does the text
// log, and the lines are then written in UTF-8.
//
// A write that fails (a full disk, a vanished device) ends the writing: the writer reports it
// once through its `failed` hook and takes no more bytes.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/receive/PaneModel.h"

class QFile;

namespace trelmo {

enum class LogMode { Raw, Text };

// "raw" / "text", as the settings file holds the mode; anything else reads as Raw.
QString logModeName(LogMode mode);
LogMode logModeFromName(const QString& name);

// The name a new log file is offered under: "trelmo-2026-12-08_142501.log".
QString defaultLogFileName(const QDateTime& at);

// The status bar's text while logging: the file's name and size, and what waits for the disk
// once that is a noticeable amount (kLogBacklogShown or more).
QString logStatusText(const QString& fileName, qint64 written, qint64 waiting);
inline constexpr qint64 kLogBacklogShown = 1024 * 1024;

// Received bytes as the receive pane's text lines. Each block is shown by the pane kind it was
// received under (Text, HexEvery or HexNamed) and breaks lines where the pane breaks them:
// byte 10 ends the line (in HexEvery it also starts the next one, as "0x0A "). The bytes are
// the characters' code-page bytes; each line ends in CR LF. With utf8, text-mode bytes are
// read as UTF-8 as the pane reads them (a sequence split across blocks joins; a byte of no
// well-formed sequence is the code page's character) and every character is written in UTF-8.
class LogTextLines {
  public:
    // Appends to `out` every line that ends within `bytes`; the rest is kept as the pending
    // line. A line starting within this block begins with "[hh:mm:ss.zzz] " from `lineTime`
    // when one is given (the pane's time stamps).
    void add(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
             QByteArray& out, bool utf8 = false);
    // The echo of sent bytes, as the pane shows it (PaneModel::addSentLines): lines of "> "
    // and the bytes, written once the pending received line ends (at once without one).
    void addSent(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
                 QByteArray& out, bool utf8 = false);
    // Ends the pending line, if any byte started it, and appends it to `out`, then the echo
    // lines that waited for it.
    void endLine(QByteArray& out);
    bool hasPending() const { return open_; }

    // "[hh:mm:ss.zzz] "
    static QByteArray stampText(const QTime& time);

  private:
    struct Sent {
        QByteArray bytes;
        PaneModel::Kind kind;
        std::optional<QTime> lineTime;
        bool utf8;
    };
    void openLine(const std::optional<QTime>& lineTime);
    // Appends the characters of bytes (no byte 10 among them) to the pending line.
    void appendShown(const uint8_t* from, const uint8_t* to, int row, bool utf8);
    // A UTF-8 sequence begun and not ended: its bytes as the code page shows them.
    void dropSequence();
    void writeSent(const Sent& sent, QByteArray& out);
    QByteArray pending_;
    QByteArray sequence_;  // the bytes of a UTF-8 sequence waiting for its end
    std::vector<Sent> held_;
    bool open_ = false;
};

class LogWriter {
  public:
    struct Hooks {
        // Called once, on the writer's thread, when a write failed (error() says why).
        std::function<void()> failed;
        // Called on the writer's thread before each write of `bytes` bytes (a test holds it to
        // play a slow disk).
        std::function<void(qint64 bytes)> beforeWrite;
    };

    explicit LogWriter(Hooks hooks = {});
    // Closes the file as close() does.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Creates the file (or empties it) and starts the writing thread. False when the file
    // cannot be opened; error() says why.
    bool open(const QString& path, LogMode mode);
    // Queues a received block: in text mode shown as `kind` (read as UTF-8 with utf8), its
    // lines stamped with `lineTime` when one is given. Returns at once, whatever the disk
    // does. Ignored when not open or after a failed write.
    void append(QByteArrayView bytes, PaneModel::Kind kind = PaneModel::Kind::Text,
                std::optional<QTime> lineTime = std::nullopt, bool utf8 = false);
    // Text mode: queues the echo of sent bytes (LogTextLines::addSent); ignored in raw mode.
    void appendSent(QByteArrayView bytes, PaneModel::Kind kind,
                    std::optional<QTime> lineTime = std::nullopt, bool utf8 = false);
    // Text mode: the pending line ends here (the pane was emptied and starts a new line).
    void breakLine();
    // Writes everything queued (and the pending text line), closes the file and ends the
    // thread. False when a write failed.
    bool close();

    bool isOpen() const { return thread_.joinable(); }
    LogMode mode() const { return mode_; }
    QString path() const { return path_; }
    // Bytes in the file so far.
    qint64 writtenBytes() const { return written_.load(std::memory_order_relaxed); }
    // Received bytes queued and not yet written.
    qint64 waitingBytes() const { return waiting_.load(std::memory_order_relaxed); }
    bool hasFailed() const { return failed_.load(); }
    QString error() const;

    // How the queue is drained: once something is queued the writer waits up to kGather for
    // more (or for kBatch bytes), then writes all of it.
    static constexpr int kGatherMs = 100;
    static constexpr qint64 kBatch = 256 * 1024;

  private:
    struct Entry {
        QByteArray bytes;
        PaneModel::Kind kind = PaneModel::Kind::Text;
        int msecs = -1;          // the lines' time of day, -1: none
        bool lineBreak = false;  // breakLine() (no bytes)
        bool sent = false;       // an echo (appendSent)
        bool utf8 = false;
    };
    void queue(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime, bool utf8,
               bool sent);
    void run();
    // Writes one drained batch; false when a write failed.
    bool writeBatch(std::deque<Entry>& batch);
    bool writeOut(const QByteArray& bytes);
    void fail(const QString& why);

    Hooks hooks_;
    LogMode mode_ = LogMode::Raw;
    QString path_;
    std::unique_ptr<QFile> file_;
    std::thread thread_;
    LogTextLines lines_;  // the writer thread's

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> queue_;
    bool stopping_ = false;
    QString error_;
    std::atomic<bool> failed_{false};
    std::atomic<qint64> waiting_{0};
    std::atomic<qint64> written_{0};
};

}  // namespace trelmo
