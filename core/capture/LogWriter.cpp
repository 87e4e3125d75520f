#include "core/capture/LogWriter.h"

#include <QFile>
#include <QLocale>
#include <cstring>

#include "core/Codec.h"

namespace trelmo {
namespace {

using Kind = PaneModel::Kind;

// The code-page bytes every received byte shows as, in each received kind: up to five.
struct LineTokens {
    char bytes[3][256][5];
    uint8_t length[3][256];
};

int tokenRow(Kind kind) {
    switch (kind) {
        case Kind::HexEvery:
            return 1;
        case Kind::HexNamed:
            return 2;
        case Kind::Text:
        case Kind::Literal:
        case Kind::Wide:
            break;
    }
    return 0;
}

const LineTokens& lineTokens() {
    static const LineTokens t = [] {
        LineTokens t{};
        const Kind kinds[3] = {Kind::Text, Kind::HexEvery, Kind::HexNamed};
        for (int r = 0; r < 3; ++r) {
            for (int b = 0; b < 256; ++b) {
                const QByteArray text =
                    codec::fromUnicode(PaneModel::unitText(kinds[r], static_cast<uint8_t>(b)));
                const auto n = static_cast<uint8_t>(std::min<qsizetype>(text.size(), 5));
                std::memcpy(t.bytes[r][b], text.constData(), n);
                t.length[r][b] = n;
            }
        }
        return t;
    }();
    return t;
}

constexpr qsizetype kEntryBytes = 64 * 1024;

}  // namespace

QString logModeName(LogMode mode) {
    return mode == LogMode::Text ? QStringLiteral("text") : QStringLiteral("raw");
}

LogMode logModeFromName(const QString& name) {
    return name.trimmed().compare(QLatin1String("text"), Qt::CaseInsensitive) == 0 ? LogMode::Text
                                                                                   : LogMode::Raw;
}

QString defaultLogFileName(const QDateTime& at) {
    return QStringLiteral("trelmo-") + at.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) +
           QStringLiteral(".log");
}

QString logStatusText(const QString& fileName, qint64 written, qint64 waiting) {
    const QLocale locale = QLocale::system();
    QString text =
        QStringLiteral("Log: %1, %2").arg(fileName, locale.formattedDataSize(written, 1));
    if (waiting >= kLogBacklogShown)
        text +=
            QStringLiteral(", %1 waiting for the disk").arg(locale.formattedDataSize(waiting, 1));
    return text;
}

// ---- Text lines -----------------------------------------------------------------------------

QByteArray LogTextLines::stampText(const QTime& time) {
    return '[' + time.toString(QStringLiteral("hh:mm:ss.zzz")).toLatin1() + "] ";
}

void LogTextLines::openLine(const std::optional<QTime>& lineTime) {
    open_ = true;
    if (lineTime)
        pending_ += stampText(*lineTime);
}

void LogTextLines::add(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
                       QByteArray& out) {
    const LineTokens& t = lineTokens();
    const int row = tokenRow(kind);
    const bool lineFeedStartsLine = kind == Kind::HexEvery;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p != end) {
        const auto* lf = static_cast<const uint8_t*>(std::memchr(p, 10, end - p));
        const uint8_t* const stop = lf ? lf : end;
        if (stop != p && !open_)
            openLine(lineTime);
        for (; p != stop; ++p)
            pending_.append(t.bytes[row][*p], t.length[row][*p]);
        if (!lf)
            break;
        // The line ends here (an empty one if nothing came before the break).
        if (!open_)
            openLine(lineTime);
        endLine(out);
        if (lineFeedStartsLine) {
            openLine(lineTime);
            pending_.append(t.bytes[row][10], t.length[row][10]);
        }
        p = lf + 1;
    }
}

void LogTextLines::endLine(QByteArray& out) {
    if (!open_)
        return;
    out += pending_;
    out += "\r\n";
    pending_.clear();
    open_ = false;
}

// ---- The writer -----------------------------------------------------------------------------

LogWriter::LogWriter(Hooks hooks) : hooks_(std::move(hooks)) {}

LogWriter::~LogWriter() {
    close();
}

bool LogWriter::open(const QString& path, LogMode mode) {
    close();
    mode_ = mode;
    path_ = path;
    lines_ = LogTextLines();
    failed_ = false;
    written_ = 0;
    waiting_ = 0;
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
        error_.clear();
        queue_.clear();
    }
    file_ = std::make_unique<QFile>(path);
    // Unbuffered: every write goes to the system at once, nothing waits in this process.
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        std::lock_guard lock(mutex_);
        error_ = file_->errorString();
        file_.reset();
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void LogWriter::append(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime) {
    if (bytes.isEmpty())
        return;
    const int msecs = mode_ == LogMode::Text && lineTime ? lineTime->msecsSinceStartOfDay() : -1;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stopping_ || failed_)
            return;
        // Blocks that are written alike share an entry of the queue: raw bytes always, text
        // of one kind while no time stamps tell the blocks apart.
        Entry* last = queue_.empty() ? nullptr : &queue_.back();
        const bool joins =
            last && !last->lineBreak &&
            (mode_ == LogMode::Raw || (last->kind == kind && last->msecs < 0 && msecs < 0)) &&
            last->bytes.capacity() - last->bytes.size() >= bytes.size();
        if (!joins) {
            queue_.emplace_back();
            last = &queue_.back();
            last->bytes.reserve(std::max(kEntryBytes, bytes.size()));
            last->kind = kind;
            last->msecs = msecs;
        }
        last->bytes.append(bytes);
        const qint64 before = waiting_.load(std::memory_order_relaxed);
        const qint64 after = before + bytes.size();
        waiting_.store(after, std::memory_order_relaxed);
        wake = before == 0 || (before < kBatch && after >= kBatch);
    }
    if (wake)
        wake_.notify_one();
}

void LogWriter::breakLine() {
    if (mode_ != LogMode::Text)
        return;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stopping_ || failed_)
            return;
        Entry e;
        e.lineBreak = true;
        queue_.push_back(std::move(e));
    }
    wake_.notify_one();
}

bool LogWriter::close() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    if (file_) {
        file_->close();
        file_.reset();
    }
    return !failed_;
}

QString LogWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void LogWriter::fail(const QString& why) {
    {
        std::lock_guard lock(mutex_);
        error_ = why;
        queue_.clear();
        waiting_ = 0;
        failed_ = true;
    }
    if (hooks_.failed)
        hooks_.failed();
}

bool LogWriter::writeOut(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return true;
    if (hooks_.beforeWrite)
        hooks_.beforeWrite(bytes.size());
    const qint64 n = file_->write(bytes);
    if (n != bytes.size()) {
        if (n > 0)
            written_.fetch_add(n, std::memory_order_relaxed);
        fail(file_->errorString());
        return false;
    }
    written_.fetch_add(n, std::memory_order_relaxed);
    return true;
}

bool LogWriter::writeBatch(std::deque<Entry>& batch) {
    if (mode_ == LogMode::Raw) {
        for (const Entry& e : batch)
            if (!writeOut(e.bytes))
                return false;
        return true;
    }
    QByteArray text;
    for (const Entry& e : batch) {
        if (e.lineBreak)
            lines_.endLine(text);
        else
            lines_.add(e.bytes, e.kind,
                       e.msecs >= 0 ? std::optional<QTime>(QTime::fromMSecsSinceStartOfDay(e.msecs))
                                    : std::nullopt,
                       text);
        if (text.size() >= kEntryBytes) {
            if (!writeOut(text))
                return false;
            text.clear();
        }
    }
    return writeOut(text);
}

void LogWriter::run() {
    std::deque<Entry> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            break;  // stopping, and everything is written
        // Let a little more arrive: fewer, larger writes, and still on disk within moments.
        if (!stopping_ && waiting_.load(std::memory_order_relaxed) < kBatch)
            wake_.wait_for(lock, std::chrono::milliseconds(kGatherMs), [this] {
                return stopping_ || waiting_.load(std::memory_order_relaxed) >= kBatch;
            });
        batch.swap(queue_);
        lock.unlock();
        qint64 drained = 0;
        for (const Entry& e : batch)
            drained += e.bytes.size();
        const bool ok = writeBatch(batch);
        batch.clear();
        lock.lock();
        if (!ok)
            return;  // fail() emptied the queue; nothing more is taken
        waiting_.fetch_sub(drained, std::memory_order_relaxed);
    }
    lock.unlock();
    // At the end the pending text line too.
    if (mode_ == LogMode::Text) {
        QByteArray text;
        lines_.endLine(text);
        writeOut(text);
    }
}

}  // namespace trelmo
