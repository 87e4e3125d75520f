#include "core/capture/LogWriter.h"

#include <QFile>
#include <QLocale>
#include <cstring>
#include <utility>

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

void LogTextLines::dropSequence() {
    for (char c : std::as_const(sequence_))
        pending_ += QString(codec::toChar(static_cast<uint8_t>(c))).toUtf8();
    sequence_.clear();
}

void LogTextLines::appendShown(const uint8_t* p, const uint8_t* const end, int row, bool utf8) {
    const LineTokens& t = lineTokens();
    if (!utf8) {
        if (!sequence_.isEmpty())
            dropSequence();
        for (; p != end; ++p)
            pending_.append(t.bytes[row][*p], t.length[row][*p]);
        return;
    }
    // UTF-8 (text mode only): a well-formed sequence is written as it is, any other byte of
    // 0x80 or more as its code-page character in UTF-8; the ASCII bytes show as ever.
    for (; p != end; ++p) {
        const uint8_t b = *p;
        if (!sequence_.isEmpty()) {
            const auto lead = static_cast<uint8_t>(sequence_[0]);
            if (PaneModel::utf8Follows(lead, static_cast<int>(sequence_.size()), b)) {
                sequence_.append(static_cast<char>(b));
                if (sequence_.size() == PaneModel::utf8Length(lead)) {
                    pending_ += sequence_;
                    sequence_.clear();
                }
                continue;
            }
            dropSequence();
        }
        if (b < 0x80)
            pending_.append(t.bytes[row][b], t.length[row][b]);
        else if (PaneModel::utf8Length(b) > 0)
            sequence_.append(static_cast<char>(b));
        else
            pending_ += QString(codec::toChar(b)).toUtf8();
    }
}

void LogTextLines::add(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
                       QByteArray& out, bool utf8) {
    const LineTokens& t = lineTokens();
    const int row = tokenRow(kind);
    const bool decode = utf8 && kind == Kind::Text;
    const bool lineFeedStartsLine = kind == Kind::HexEvery;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p != end) {
        const auto* lf = static_cast<const uint8_t*>(std::memchr(p, 10, end - p));
        const uint8_t* const stop = lf ? lf : end;
        if (stop != p && !open_)
            openLine(lineTime);
        appendShown(p, stop, row, decode);
        p = stop;
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

void LogTextLines::writeSent(const Sent& sent, QByteArray& out) {
    const int row = tokenRow(sent.kind);
    const bool decode = sent.utf8 && sent.kind == Kind::Text;
    auto line = [&](QByteArrayView part) {
        openLine(sent.lineTime);
        pending_ += "> ";
        const auto* p = reinterpret_cast<const uint8_t*>(part.data());
        appendShown(p, p + part.size(), row, decode);
        if (!sequence_.isEmpty())
            dropSequence();
        out += pending_;
        out += "\r\n";
        pending_.clear();
        open_ = false;
    };
    // As the pane: the kinds that do not show byte 10 end an echo line there.
    if (sent.kind == Kind::HexEvery) {
        line(sent.bytes);
        return;
    }
    qsizetype from = 0;
    while (from < sent.bytes.size()) {
        const qsizetype lf = sent.bytes.indexOf('\n', from);
        const qsizetype to = lf < 0 ? sent.bytes.size() : lf;
        line(QByteArrayView(sent.bytes).sliced(from, to - from));
        from = lf < 0 ? sent.bytes.size() : lf + 1;
    }
}

void LogTextLines::addSent(QByteArrayView bytes, PaneModel::Kind kind,
                           std::optional<QTime> lineTime, QByteArray& out, bool utf8) {
    if (bytes.isEmpty())
        return;
    if (kind != Kind::HexEvery && kind != Kind::HexNamed)
        kind = Kind::Text;
    Sent sent{bytes.toByteArray(), kind, lineTime, utf8};
    if (open_ || !held_.empty())
        held_.push_back(std::move(sent));
    else
        writeSent(sent, out);
}

void LogTextLines::endLine(QByteArray& out) {
    if (open_) {
        if (!sequence_.isEmpty())
            dropSequence();
        out += pending_;
        out += "\r\n";
        pending_.clear();
        open_ = false;
    }
    if (!held_.empty()) {
        std::vector<Sent> held;
        held.swap(held_);
        for (const Sent& sent : held)
            writeSent(sent, out);
    }
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

void LogWriter::append(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
                       bool utf8) {
    queue(bytes, kind, lineTime, utf8, false);
}

void LogWriter::appendSent(QByteArrayView bytes, PaneModel::Kind kind,
                           std::optional<QTime> lineTime, bool utf8) {
    if (mode_ == LogMode::Text)
        queue(bytes, kind, lineTime, utf8, true);
}

void LogWriter::queue(QByteArrayView bytes, PaneModel::Kind kind, std::optional<QTime> lineTime,
                      bool utf8, bool sent) {
    if (bytes.isEmpty())
        return;
    const int msecs = mode_ == LogMode::Text && lineTime ? lineTime->msecsSinceStartOfDay() : -1;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stopping_ || failed_)
            return;
        // Blocks that are written alike share an entry of the queue: raw bytes always, text
        // of one kind while no time stamps tell the blocks apart (an echo has one of its own).
        Entry* last = queue_.empty() ? nullptr : &queue_.back();
        const bool joins = last && !last->lineBreak && !sent && !last->sent &&
                           (mode_ == LogMode::Raw || (last->kind == kind && last->utf8 == utf8 &&
                                                      last->msecs < 0 && msecs < 0)) &&
                           last->bytes.capacity() - last->bytes.size() >= bytes.size();
        if (!joins) {
            queue_.emplace_back();
            last = &queue_.back();
            last->bytes.reserve(sent ? bytes.size() : std::max(kEntryBytes, bytes.size()));
            last->kind = kind;
            last->msecs = msecs;
            last->sent = sent;
            last->utf8 = utf8;
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
        const std::optional<QTime> time =
            e.msecs >= 0 ? std::optional<QTime>(QTime::fromMSecsSinceStartOfDay(e.msecs))
                         : std::nullopt;
        if (e.lineBreak)
            lines_.endLine(text);
        else if (e.sent)
            lines_.addSent(e.bytes, e.kind, time, text, e.utf8);
        else
            lines_.add(e.bytes, e.kind, time, text, e.utf8);
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
