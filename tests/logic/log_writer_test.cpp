// The log written as bytes arrive: raw bytes exactly as queued, the pane's text lines, bytes on
// disk while the file stays open, a slow disk that only grows the queue, a disk that refuses
// writes, and the texts the window shows for it.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/Codec.h"
#include "core/capture/LogWriter.h"
#include "core/receive/ReceiveFormatter.h"
#include "tests/common/Pump.h"
#include "tests/common/TempDir.h"

using namespace trelmo;
using namespace trelmo::test;
using Kind = PaneModel::Kind;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// size bytes of every value, from a seeded generator.
QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = static_cast<char>(gen.bounded(256));
    return out;
}

// Blocks of 1 to maxBlock bytes covering data.
QList<QByteArrayView> blocksOf(const QByteArray& data, int maxBlock, quint32 seed) {
    QRandomGenerator gen(seed);
    QList<QByteArrayView> out;
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype n = std::min<qsizetype>(1 + gen.bounded(maxBlock), data.size() - at);
        out << QByteArrayView(data.constData() + at, n);
        at += n;
    }
    return out;
}

// Holds the writer's thread before its writes until opened: a disk that does not keep up.
class Gate {
  public:
    void pass() {
        std::unique_lock lock(m_);
        ++arrived_;
        cv_.wait(lock, [this] { return open_; });
    }
    void open() {
        {
            std::lock_guard lock(m_);
            open_ = true;
        }
        cv_.notify_all();
    }
    int arrived() {
        std::lock_guard lock(m_);
        return arrived_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
    int arrived_ = 0;
};

}  // namespace

TEST(LogNames, DefaultFileNameModeNamesAndStatusText) {
    EXPECT_EQ(defaultLogFileName(QDateTime(QDate(2026, 12, 8), QTime(14, 25, 1))),
              "trelmo-2026-12-08_142501.log");
    EXPECT_EQ(defaultLogFileName(QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5, 999))),
              "trelmo-2027-01-02_030405.log");
    EXPECT_EQ(logModeName(LogMode::Raw), "raw");
    EXPECT_EQ(logModeName(LogMode::Text), "text");
    EXPECT_EQ(logModeFromName("text"), LogMode::Text);
    EXPECT_EQ(logModeFromName("Text"), LogMode::Text);
    EXPECT_EQ(logModeFromName("raw"), LogMode::Raw);
    EXPECT_EQ(logModeFromName(""), LogMode::Raw);
    EXPECT_EQ(logModeFromName("hex"), LogMode::Raw);

    const QLocale locale = QLocale::system();
    EXPECT_EQ(logStatusText("a.log", 0, 0), "Log: a.log, " + locale.formattedDataSize(0, 1));
    EXPECT_EQ(logStatusText("a.log", 5 << 20, 1000),
              "Log: a.log, " + locale.formattedDataSize(5 << 20, 1));
    // A backlog the disk has not caught up with is named.
    EXPECT_EQ(logStatusText("a.log", 5 << 20, 3 << 20),
              "Log: a.log, " + locale.formattedDataSize(5 << 20, 1) + ", " +
                  locale.formattedDataSize(3 << 20, 1) + " waiting for the disk");
}

TEST(LogWriter, RawFileHoldsExactlyTheBytesQueued) {
    TempDir dir;
    const QByteArray data = randomBytes(3 * 1024 * 1024 + 17, 7);
    LogWriter log;
    ASSERT_TRUE(log.open(dir.path("raw.log"), LogMode::Raw)) << log.error().toStdString();
    EXPECT_TRUE(log.isOpen());
    for (QByteArrayView block : blocksOf(data, 20000, 8))
        log.append(block, Kind::HexEvery);  // the kind plays no part in raw mode
    EXPECT_TRUE(log.close());
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.writtenBytes(), data.size());
    EXPECT_EQ(log.waitingBytes(), 0);
    EXPECT_FALSE(log.hasFailed());
    const QByteArray file = fileBytes(dir.path("raw.log"));
    ASSERT_EQ(file.size(), data.size());
    EXPECT_TRUE(file == data);
}

TEST(LogWriter, BytesReachTheFileWhileItStaysOpen) {
    TempDir dir;
    LogWriter log;
    ASSERT_TRUE(log.open(dir.path("live.log"), LogMode::Raw));
    log.append("first\n");
    EXPECT_TRUE(pumpUntil([&] { return fileBytes(dir.path("live.log")) == "first\n"; }));
    log.append("second");
    EXPECT_TRUE(pumpUntil([&] { return fileBytes(dir.path("live.log")) == "first\nsecond"; }));
    EXPECT_TRUE(log.isOpen());
    EXPECT_EQ(log.writtenBytes(), 12);
    EXPECT_TRUE(log.close());
}

TEST(LogWriter, ASlowDiskGrowsTheQueueAndLosesNothing) {
    TempDir dir;
    Gate gate;
    LogWriter::Hooks hooks;
    hooks.beforeWrite = [&](qint64) { gate.pass(); };
    LogWriter log(hooks);
    ASSERT_TRUE(log.open(dir.path("slow.log"), LogMode::Raw));
    const QByteArray data = randomBytes(4 * 1024 * 1024, 11);
    const QList<QByteArrayView> blocks = blocksOf(data, 10000, 12);
    log.append(blocks.first());
    // The writer is held in its first write; the rest queues behind it.
    ASSERT_TRUE(pumpUntil([&] { return gate.arrived() == 1; }));
    for (qsizetype i = 1; i < blocks.size(); ++i)
        log.append(blocks[i]);
    EXPECT_EQ(log.waitingBytes(), data.size());
    EXPECT_EQ(log.writtenBytes(), 0);
    EXPECT_TRUE(logStatusText("slow.log", log.writtenBytes(), log.waitingBytes())
                    .endsWith(" waiting for the disk"));
    gate.open();
    // Everything written, and then nothing left waiting (the two counts are not updated in
    // one step).
    EXPECT_TRUE(pumpUntil([&] { return log.writtenBytes() == data.size(); }, 60000));
    EXPECT_TRUE(pumpUntil([&] { return log.waitingBytes() == 0; }));
    EXPECT_TRUE(log.close());
    EXPECT_TRUE(fileBytes(dir.path("slow.log")) == data);
}

TEST(LogWriter, CloseWritesWhatIsStillQueued) {
    TempDir dir;
    Gate gate;
    LogWriter::Hooks hooks;
    hooks.beforeWrite = [&](qint64) { gate.pass(); };
    LogWriter log(hooks);
    ASSERT_TRUE(log.open(dir.path("queued.log"), LogMode::Raw));
    log.append("head ");
    ASSERT_TRUE(pumpUntil([&] { return gate.arrived() == 1; }));
    log.append("tail");
    gate.open();
    EXPECT_TRUE(log.close());
    EXPECT_EQ(fileBytes(dir.path("queued.log")), "head tail");
}

TEST(LogWriter, AFullDiskEndsTheWritingOnceAndTakesNoMore) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::atomic<int> failures{0};
    LogWriter::Hooks hooks;
    hooks.failed = [&] { ++failures; };
    LogWriter log(hooks);
    ASSERT_TRUE(log.open("/dev/full", LogMode::Raw)) << log.error().toStdString();
    for (int i = 0; i < 50; ++i)
        log.append(QByteArray(4000, 'x'));
    ASSERT_TRUE(pumpUntil([&] { return log.hasFailed(); }));
    EXPECT_EQ(failures.load(), 1);
    EXPECT_TRUE(log.error().contains("space", Qt::CaseInsensitive)) << log.error().toStdString();
    EXPECT_EQ(log.waitingBytes(), 0);  // the queue was let go
    for (int i = 0; i < 50; ++i)
        log.append(QByteArray(4000, 'y'));
    EXPECT_EQ(log.waitingBytes(), 0);  // and nothing more is taken
    EXPECT_FALSE(log.close());
    EXPECT_EQ(failures.load(), 1);
    EXPECT_TRUE(log.hasFailed());
}

TEST(LogWriter, AFileThatCannotBeCreatedIsRefused) {
    TempDir dir;
    LogWriter log;
    EXPECT_FALSE(log.open(dir.path("no/such/folder/x.log"), LogMode::Raw));
    EXPECT_FALSE(log.error().isEmpty());
    EXPECT_FALSE(log.isOpen());
    log.append("ignored");
    EXPECT_EQ(log.waitingBytes(), 0);
    // A folder is no file either.
    EXPECT_FALSE(log.open(dir.root(), LogMode::Text));
    EXPECT_FALSE(log.error().isEmpty());
    EXPECT_FALSE(log.isOpen());
}

TEST(LogWriter, EachOpenStartsAnEmptyFile) {
    TempDir dir;
    dir.write("old.log", "stale contents");
    LogWriter log;
    ASSERT_TRUE(log.open(dir.path("old.log"), LogMode::Raw));
    log.append("new");
    ASSERT_TRUE(log.open(dir.path("second.log"), LogMode::Raw));  // closes the first
    log.append("more");
    EXPECT_TRUE(log.close());
    EXPECT_EQ(dir.read("old.log"), "new");
    EXPECT_EQ(dir.read("second.log"), "more");
    EXPECT_EQ(log.path(), dir.path("second.log"));
}

// ---- Text lines ---------------------------------------------------------------------------

TEST(LogTextLines, LinesEndAtByteTenAndShowBytesAsThePaneDoes) {
    LogTextLines lines;
    QByteArray out;
    lines.add("ab\x01", Kind::Text, std::nullopt, out);
    EXPECT_EQ(out, "");  // the line has not ended
    EXPECT_TRUE(lines.hasPending());
    lines.add("c\r\nd\n\n", Kind::Text, std::nullopt, out);
    EXPECT_EQ(out, "ab<SOH>c<CR>\r\nd\r\n\r\n");
    out.clear();
    EXPECT_FALSE(lines.hasPending());
    // Hex, every byte (serial): byte 10 starts the next line with its own text.
    lines.add("A\nB", Kind::HexEvery, std::nullopt, out);
    EXPECT_EQ(out, "0x41 \r\n");
    out.clear();
    // Hex with names (TCP): byte 10 only breaks the line.
    lines.add("\x02\xff\n", Kind::HexNamed, std::nullopt, out);
    EXPECT_EQ(out, "0x0A 0x42 <STX>0xFF \r\n");
    out.clear();
    // Characters of the code page are its bytes.
    lines.add("\xe9\x80", Kind::Text, std::nullopt, out);
    lines.endLine(out);
    EXPECT_EQ(out, "\xe9\x80\r\n");
    out.clear();
    lines.endLine(out);  // nothing pending: nothing written
    EXPECT_EQ(out, "");
}

TEST(LogTextLines, LineTimesBeginTheLinesThatStartInABlock) {
    const QTime first(10, 0, 0, 123), second(10, 0, 1, 5);
    EXPECT_EQ(LogTextLines::stampText(first), "[10:00:00.123] ");
    LogTextLines lines;
    QByteArray out;
    lines.add("ab", Kind::Text, first, out);
    lines.add("c\nd", Kind::Text, second, out);
    EXPECT_EQ(out, "[10:00:00.123] abc\r\n");
    lines.add("\n", Kind::Text, first, out);
    EXPECT_EQ(out, "[10:00:00.123] abc\r\n[10:00:01.005] d\r\n");
    out.clear();
    // An empty line has its time too; in hex every byte the break starts the next line.
    lines.add("\nx", Kind::HexEvery, second, out);
    EXPECT_EQ(out, "[10:00:01.005] \r\n");
    out.clear();
    lines.endLine(out);
    EXPECT_EQ(out, "[10:00:01.005] 0x0A 0x78 \r\n");
}

// Whatever arrives, in whatever blocks and modes, the text log's lines are the pane's lines.
TEST(LogTextLines, TheLinesAreThePanesLines) {
    for (quint32 seed = 1; seed <= 12; ++seed) {
        QRandomGenerator gen(seed);
        // Mostly text, with many breaks and control bytes.
        QByteArray data(20000, Qt::Uninitialized);
        for (char& c : data) {
            const int pick = gen.bounded(100);
            c = pick < 8    ? '\n'
                : pick < 12 ? '\r'
                : pick < 18 ? static_cast<char>(gen.bounded(7))
                : pick < 25 ? static_cast<char>(128 + gen.bounded(128))
                            : static_cast<char>(32 + gen.bounded(95));
        }
        PaneModel pane;
        ByteTableModel table;
        ReceiveFormatter formatter(pane, table);
        ReceiveState state;
        LogTextLines lines;
        QByteArray log;
        const LinkPolicy* policies[] = {&LinkPolicy::serial(), &LinkPolicy::tcpClient(),
                                        &LinkPolicy::tcpListener()};
        for (QByteArrayView block : blocksOf(data, 300, seed + 100)) {
            const LinkPolicy& policy = *policies[gen.bounded(3)];
            const bool hex = gen.bounded(3) == 0;
            formatter.receiveBlock(state, block, policy, hex);
            lines.add(block, ReceiveFormatter::paneKind(policy, hex), std::nullopt, log);
        }
        lines.endLine(log);

        QStringList expected = pane.lines();
        if (!expected.isEmpty() && expected.last().isEmpty())
            expected.removeLast();  // the empty line after a break holds nothing yet
        ASSERT_TRUE(log.endsWith("\r\n"));
        QStringList logged = codec::toUnicode(log.chopped(2)).split(QStringLiteral("\r\n"));
        ASSERT_EQ(logged.size(), expected.size()) << "seed " << seed;
        for (qsizetype i = 0; i < expected.size(); ++i)
            ASSERT_EQ(logged[i], expected[i]) << "seed " << seed << " line " << i;
    }
}

TEST(LogWriter, TextModeWritesALineWhenItEndsAndThePendingOneAtClose) {
    TempDir dir;
    LogWriter log;
    ASSERT_TRUE(log.open(dir.path("text.log"), LogMode::Text));
    log.append("one\r\ntw", Kind::Text);
    EXPECT_TRUE(pumpUntil([&] { return fileBytes(dir.path("text.log")) == "one<CR>\r\n"; }));
    log.append("o", Kind::Text, QTime(1, 2, 3, 4));  // the line began without a time
    log.breakLine();                                 // the pane was emptied
    log.append("A\nB", Kind::HexEvery, QTime(1, 2, 3, 4));
    log.append("\x05", Kind::HexNamed);
    EXPECT_TRUE(log.close());
    EXPECT_EQ(fileBytes(dir.path("text.log")),
              "one<CR>\r\ntwo\r\n[01:02:03.004] 0x41 \r\n[01:02:03.004] 0x0A 0x42 <ENQ>\r\n");
    EXPECT_EQ(log.writtenBytes(), fileBytes(dir.path("text.log")).size());
}
