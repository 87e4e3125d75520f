// The log to file through the main window: File > "Log to file…" asks for the file and the way
// to write it, every received byte of any link goes to the file as it arrives, the status bar
// names the file and its size, unchecking the item stops it, a disk that refuses writes stops
// it with one message, the dialog's folder and mode are remembered, and --log starts it from
// the start. The program itself, killed mid-feed, leaves a log that misses only the last
// moment.
#include <gtest/gtest.h>
#include <signal.h>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/CommandLine.h"
#include "core/IniFile.h"
#include "core/capture/LogWriter.h"
#include "tests/common/Captions.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

const QDateTime kMoment(QDate(2026, 12, 8), QTime(14, 25, 1));
const QString kDefaultName = QStringLiteral("trelmo-2026-12-08_142501.log");

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = static_cast<char>(gen.bounded(256));
    return out;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Holds the log writer's thread before its writes until opened: a disk that does not keep up.
class Gate {
  public:
    void pass() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return open_; });
    }
    void open() {
        {
            std::lock_guard lock(m_);
            open_ = true;
        }
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// What the window tests of the log share: the menu item, the log panel, and the dialog's answer.
class LogSteps {
  protected:
    LogSteps(DialogRecorder& dialogs, TForm1*& form) : dialogs_(dialogs), form_(form) {}
    QAction* logItem() const { return form_->findChild<QAction*>(QStringLiteral("Action_log")); }
    QLabel* logPanel() const {
        return form_->findChild<QLabel*>(QStringLiteral("StatusBar1Panel4"));
    }
    bool logging() const { return form_->captures()->logging(); }
    // Chooses File > "Log to file…", the dialog answering with this file and way.
    void startLog(const QString& path, LogMode mode) {
        dialogs_.saveChoiceAnswers.push_back(SaveChoice{path, mode == LogMode::Text ? 1 : 0});
        logItem()->trigger();
    }
    // Unchecks the item.
    void stopLog() {
        ASSERT_TRUE(logItem()->isChecked());
        logItem()->trigger();
    }

  private:
    DialogRecorder& dialogs_;
    TForm1*& form_;
};

// The windows on a pseudo-terminal (as PtyWindow), the clock fixed.
class SerialLogWindow : public WindowTest, protected LogSteps {
  protected:
    SerialLogWindow() : WindowTest(kMoment), LogSteps(dialogs, form) {}
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        typeInto(ui(form).Combo_parity, "None");
        ASSERT_TRUE(connectSerial(pty.SlavePath()));
    }
    PtyPair pty;
};

// The windows for the TCP links (the clock fixed at fixedMoment()), the client connected.
class LogTcpWindow : public TcpWindow, protected LogSteps {
  protected:
    LogTcpWindow() : LogSteps(dialogs, form) {}
    void SetUp() override { ASSERT_TRUE(connectTcp()); }
};

// Whether the process holds the file open (one of its descriptors points at it).
bool processHolds(qint64 pid, const QString& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == path)
            return true;
    }
    return false;
}

}  // namespace

// ---- The menu item and the dialog --------------------------------------------------------------

TEST_F(SerialLogWindow, RawLogOfAPtyFeedIsByteIdenticalAndTheStatusBarNamesIt) {
    QAction* item = logItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(trelmo::test::shownCaption(item->text()), QString::fromUtf8("Log to file\u2026"));
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());
    ASSERT_NE(logPanel(), nullptr);
    EXPECT_TRUE(logPanel()->isHidden());

    startLog(dir.path("feed.log"), LogMode::Raw);
    // The dialog offered a name from the date and time, in the home folder (no folder used
    // yet), and the raw bytes.
    ASSERT_EQ(dialogs.saveChoiceRequests.size(), 1u);
    const SaveChoiceRequest& asked = dialogs.saveChoiceRequests.front();
    EXPECT_EQ(asked.file.title, "Log to file");
    EXPECT_EQ(asked.file.fileName, QDir(QDir::homePath()).filePath(kDefaultName));
    EXPECT_EQ(asked.choices.size(), 2);
    EXPECT_EQ(asked.choice, 0);
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(logging());
    EXPECT_FALSE(logPanel()->isHidden());
    EXPECT_TRUE(logPanel()->text().startsWith("Log: feed.log, "))
        << logPanel()->text().toStdString();

    // Every value, in lines and without.
    const QByteArray data = randomBytes(1024 * 1024, 3) + numberedLines(256 * 1024);
    ASSERT_TRUE(feedHeldBack(pty, data));
    // The panel follows the file as it grows.
    EXPECT_TRUE(pumpUntil(
        [&] { return logPanel()->text() == logStatusText("feed.log", data.size(), 0); }, 30000))
        << logPanel()->text().toStdString();
    EXPECT_EQ(fileBytes(dir.path("feed.log")).size(), data.size());  // on disk while logging

    stopLog();
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(logging());
    EXPECT_TRUE(logPanel()->isHidden());
    EXPECT_TRUE(fileBytes(dir.path("feed.log")) == data);
    EXPECT_EQ(received(), data.size());  // the pane got every byte too
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(LogTcpWindow, RawLogOfATcpFeedIsByteIdentical) {
    startLog(dir.path("tcp.log"), LogMode::Raw);
    ASSERT_TRUE(logging());
    const QByteArray data = randomBytes(512 * 1024, 5);
    ASSERT_TRUE(receiveTcp(data.left(100000)));
    ASSERT_TRUE(receiveTcp(data.mid(100000)));
    stopLog();
    EXPECT_TRUE(fileBytes(dir.path("tcp.log")) == data);
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(LogTcpWindow, StopAndStartAgainLogOnlyWhatCameWhileOn) {
    ASSERT_TRUE(receiveTcp("before "));
    startLog(dir.path("a.log"), LogMode::Raw);
    ASSERT_TRUE(receiveTcp("first "));
    stopLog();
    ASSERT_TRUE(receiveTcp("between "));
    startLog(dir.path("b.log"), LogMode::Raw);
    ASSERT_TRUE(receiveTcp("second"));
    stopLog();
    EXPECT_EQ(fileBytes(dir.path("a.log")), "first ");
    EXPECT_EQ(fileBytes(dir.path("b.log")), "second");
    // The second dialog offered the folder of the first and the way chosen then.
    ASSERT_EQ(dialogs.saveChoiceRequests.size(), 2u);
    EXPECT_EQ(dialogs.saveChoiceRequests[1].file.fileName,
              dir.path(defaultLogFileName(fixedMoment())));
    EXPECT_EQ(dialogs.saveChoiceRequests[1].choice, 0);
    EXPECT_TRUE(hasLine("before first between second"));
}

// The log panel comes after the four panels and leaves the clock its whole text.
TEST_F(LogTcpWindow, TheLogPanelFollowsTheFourPanelsAndLeavesTheClockWhole) {
    form->show();
    QLabel* clock = ui(form).StatusBar1Panel3;
    const int clockMinimum = clock->minimumWidth();
    startLog(dir.path("a-rather-long-name-for-a-log-file-of-the-tcp-link.log"), LogMode::Raw);
    ASSERT_TRUE(pumpUntil([&] { return logPanel()->isVisible(); }));
    ASSERT_TRUE(pumpUntil([&] { return logPanel()->x() > clock->x(); }));
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(ui(form).panel(i)->x(), clock->x()) << i;
    EXPECT_GE(clock->width(), clock->fontMetrics().horizontalAdvance(clock->text()));
    EXPECT_EQ(logPanel()->toolTip(),
              dir.path("a-rather-long-name-for-a-log-file-of-the-tcp-link.log"));
    stopLog();
    EXPECT_TRUE(logPanel()->isHidden());
    EXPECT_EQ(clock->minimumWidth(), clockMinimum);
}

TEST_F(LogTcpWindow, ACancelledDialogLeavesTheItemUnchecked) {
    logItem()->trigger();  // no answer: cancelled
    EXPECT_EQ(dialogs.saveChoiceRequests.size(), 1u);
    EXPECT_FALSE(logItem()->isChecked());
    EXPECT_FALSE(logging());
    EXPECT_TRUE(logPanel()->isHidden());
    // A dialog that cannot be shown says so once and logs nothing.
    dialogs.failNextSave = true;
    logItem()->trigger();
    EXPECT_FALSE(logItem()->isChecked());
    EXPECT_FALSE(logging());
    EXPECT_EQ(dialogs.texts().size(), 1);
}

// ---- Text lines ---------------------------------------------------------------------------------

TEST_F(LogTcpWindow, TextLogHoldsThePanesLinesAsTheyEnd) {
    startLog(dir.path("text.log"), LogMode::Text);
    ASSERT_TRUE(logging());
    EXPECT_EQ(form->captures()->logWriter()->mode(), LogMode::Text);
    ASSERT_TRUE(receiveTcp("one\r\ntwo\n\x01th"));
    // Ended lines reach the file while logging; the line still open does not.
    EXPECT_TRUE(pumpUntil([&] { return fileBytes(dir.path("text.log")) == "one<CR>\r\ntwo\r\n"; }));
    ASSERT_TRUE(receiveTcp("ree\n"));
    // Hex as the pane shows it for this link: names for 1 to 6 and 13, byte 10 only breaks.
    ui(form).Check_hex->setChecked(true);
    ASSERT_TRUE(receiveTcp("A\x02\nB"));
    // Clear starts a new line in the pane and in the log.
    ui(form).Butt_Clear->click();
    ASSERT_TRUE(receiveTcp("C"));
    ui(form).Check_hex->setChecked(false);
    ASSERT_TRUE(receiveTcp("d"));  // pending: written when logging stops
    stopLog();
    EXPECT_EQ(fileBytes(dir.path("text.log")),
              "one<CR>\r\ntwo\r\n<SOH>three\r\n0x41 <STX>\r\n0x42 \r\n0x43 d\r\n");
    EXPECT_EQ(shownLines(), QStringList({"0x43 d"}));
}

// The time stamps of the pane's lines go into the text log when they are on.
TEST_F(LogTcpWindow, TextLogLinesCarryThePanesTimeStampsWhileShown) {
    form->findChild<QAction*>("Action_timestamps")->setChecked(true);
    startLog(dir.path("times.log"), LogMode::Text);
    ASSERT_TRUE(receiveTcp("a\nb"));
    stopLog();
    // The same stamps as the pane's lines (the arrival of their first byte).
    const int a = int(lines().indexOf("a"));
    ASSERT_GE(a, 0);
    const QString first = form->receivePath()->stampedLine(a);
    const QString second = form->receivePath()->stampedLine(a + 1);
    EXPECT_TRUE(first.startsWith("[15:09:2")) << first.toStdString();
    EXPECT_EQ(fileBytes(dir.path("times.log")), (first + "\r\n" + second + "\r\n").toLatin1());
    // Without the pane's stamps, none in the log either.
    form->findChild<QAction*>("Action_timestamps")->setChecked(false);
    startLog(dir.path("plain.log"), LogMode::Text);
    ASSERT_TRUE(receiveTcp("\nc\n"));
    stopLog();
    EXPECT_EQ(fileBytes(dir.path("plain.log")), "\r\nc\r\n");
}

// ---- A disk that refuses ------------------------------------------------------------------------

TEST_F(LogTcpWindow, AFullDiskStopsLoggingWithOneMessageAndReceptionGoesOn) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    startLog("/dev/full", LogMode::Raw);
    ASSERT_TRUE(logging());
    const QByteArray data = numberedLines(300 * 1024);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(receiveTcp(data.mid(i * 100 * 1024, 100 * 1024)));
    ASSERT_TRUE(pumpUntil([&] { return !logging(); }));
    EXPECT_FALSE(logItem()->isChecked());
    EXPECT_TRUE(logPanel()->isHidden());
    ASSERT_EQ(dialogs.texts().size(), 1) << dialogs.texts().join('|').toStdString();
    const MessageRequest& box = dialogs.messages.front();
    EXPECT_TRUE(box.text.startsWith("Logging to /dev/full has stopped: "))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("space", Qt::CaseInsensitive)) << box.text.toStdString();
    EXPECT_EQ(box.icon, MsgIcon::Error);
    // Reception goes on and the pane keeps every byte; no further box.
    ASSERT_TRUE(receiveTcp("after the disk filled\r\n"));
    pumpFor(300);
    EXPECT_EQ(dialogs.texts().size(), 1);
    EXPECT_EQ(received(), data.size() + 23);
    EXPECT_EQ(tableRows(), received());
    EXPECT_TRUE(hasLine("after the disk filled<CR>"));
}

TEST_F(LogTcpWindow, AFileThatCannotBeCreatedIsReportedOnce) {
    const QString path = dir.path("no-such-folder/x.log");
    startLog(path, LogMode::Raw);
    EXPECT_FALSE(logging());
    EXPECT_FALSE(logItem()->isChecked());
    EXPECT_TRUE(logPanel()->isHidden());
    ASSERT_EQ(dialogs.texts().size(), 1);
    EXPECT_TRUE(dialogs.lastText().startsWith("Cannot log to " + path + ":\n"))
        << dialogs.lastText().toStdString();
    ASSERT_TRUE(receiveTcp("still received"));
    EXPECT_TRUE(hasLine("still received"));
    EXPECT_EQ(dialogs.texts().size(), 1);
}

// The disk lags: the queue grows, the status bar says so, and nothing is lost.
TEST_F(LogTcpWindow, ASlowDiskIsShownInTheStatusBarAndLosesNothing) {
    // The writer keeps the gate for as long as it runs; the gate opens however the test ends.
    const auto gate = std::make_shared<Gate>();
    const std::unique_ptr<Gate, void (*)(Gate*)> opener(gate.get(), [](Gate* g) { g->open(); });
    form->captures()->logWriteHook = [gate](qint64) { gate->pass(); };
    startLog(dir.path("slow.log"), LogMode::Raw);
    const QByteArray data = randomBytes(2 * 1024 * 1024, 9);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(receiveTcp(data.mid(i * 512 * 1024, 512 * 1024)));
    EXPECT_TRUE(pumpUntil([&] { return logPanel()->text().endsWith(" waiting for the disk"); }))
        << logPanel()->text().toStdString();
    gate->open();
    EXPECT_TRUE(pumpUntil(
        [&] { return logPanel()->text() == logStatusText("slow.log", data.size(), 0); }, 30000))
        << logPanel()->text().toStdString();
    stopLog();
    EXPECT_TRUE(fileBytes(dir.path("slow.log")) == data);
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('|').toStdString();
}

// ---- Settings and the command line --------------------------------------------------------------

TEST_F(WindowTest, TheLogsFolderAndModeAreRememberedButLoggingDoesNotRestart) {
    QDir(dir.root()).mkdir("logs");
    dialogs.saveChoiceAnswers.push_back(SaveChoice{dir.path("logs/mine.log"), 1});
    QAction* item = form->findChild<QAction*>(QStringLiteral("Action_log"));
    item->trigger();
    ASSERT_TRUE(form->captures()->logging());
    quit();
    // Written at exit, closed with the window.
    EXPECT_TRUE(QFileInfo::exists(dir.path("logs/mine.log")));
    const IniFile ini(settingsPath());
    EXPECT_EQ(ini.readString("Session", "LogFolder", ""), dir.path("logs"));
    EXPECT_EQ(ini.readString("Session", "LogMode", ""), "text");
    EXPECT_EQ(ini.readString("TCPConn", "Port", ""), "502");  // the other keys as ever

    start();
    EXPECT_FALSE(form->captures()->logging());
    item = form->findChild<QAction*>(QStringLiteral("Action_log"));
    EXPECT_FALSE(item->isChecked());
    item->trigger();  // cancelled
    ASSERT_EQ(dialogs.saveChoiceRequests.size(), 2u);
    EXPECT_TRUE(dialogs.saveChoiceRequests[1].file.fileName.startsWith(dir.path("logs/trelmo-")));
    EXPECT_TRUE(dialogs.saveChoiceRequests[1].file.fileName.endsWith(".log"));
    EXPECT_EQ(dialogs.saveChoiceRequests[1].choice, 1);
}

TEST_F(WindowTest, AWindowThatNeverLoggedWritesNoLogKeys) {
    quit();
    const QByteArray file = dir.read("trelmo.ini");
    EXPECT_FALSE(file.contains("[Session]"));
    EXPECT_FALSE(file.contains("LogFolder"));
    EXPECT_FALSE(file.contains("LogMode"));
}

TEST(CommandLine, LogOption) {
    const ParsedCommandLine help = parseCommandLine({"trelmo", "--help"});
    EXPECT_TRUE(help.output.contains("--log <file>")) << help.output.toStdString();
    const ParsedCommandLine given = parseCommandLine({"trelmo", "--log", "/tmp/a.log"});
    EXPECT_FALSE(given.exit);
    EXPECT_EQ(given.options.logFile, "/tmp/a.log");
    // A relative name is taken from where the program starts.
    EXPECT_EQ(parseCommandLine({"trelmo", "--log", "b.log"}).options.logFile,
              QDir::current().absoluteFilePath("b.log"));
    EXPECT_FALSE(parseCommandLine({"trelmo"}).options.logFile.has_value());
    const ParsedCommandLine missing = parseCommandLine({"trelmo", "--log"});
    EXPECT_TRUE(missing.exit);
    EXPECT_EQ(missing.exitCode, 2);
    const ParsedCommandLine empty = parseCommandLine({"trelmo", "--log", ""});
    EXPECT_TRUE(empty.exit);
    EXPECT_EQ(empty.exitCode, 2);
}

TEST_F(TcpWindow, LogStartOptionLogsRawBytesFromTheStart) {
    Peer host;
    StartOptions options;
    options.logFile = dir.path("start.log");
    options.tcpHost = QStringLiteral("127.0.0.1");
    options.tcpPort = host.port();
    form->applyStartOptions(options);
    EXPECT_TRUE(form->captures()->logging());
    EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("Action_log"))->isChecked());
    EXPECT_EQ(form->captures()->logWriter()->mode(), LogMode::Raw);
    ASSERT_TRUE(host.waitForClient());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    const QByteArray data = randomBytes(64 * 1024, 13);
    ASSERT_TRUE(writeAll(host.client(), data));
    ASSERT_TRUE(pumpUntil([&] { return received() == data.size(); }));
    quit();  // the log is complete when the window has closed
    EXPECT_TRUE(fileBytes(dir.path("start.log")) == data);
    // Not remembered: the dialog was never used.
    EXPECT_FALSE(dir.read("trelmo.ini").contains("LogFolder"));
}

// ---- The program itself, killed
// ------------------------------------------------------------------

// The program logs a steady feed from a pty until it is killed with SIGKILL: the log is what
// was fed, up to a point, and misses only what came in about the last second. (Not a Serial...
// suite: the port runs in the child.)
TEST(StartProgram, LogOfAProgramKilledMidFeedIsAPrefixMissingOnlyTheLastMoment) {
    using Clock = std::chrono::steady_clock;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TempDir dir;
    const QString logPath = dir.path("killed.log");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(TRELMO_PROGRAM,
                  {"--settings", dir.path("t.ini"), "--port", pty.SlavePath(), "--speed", "115200",
                   "--parity", "None", "--connect", "--log", logPath});
    ASSERT_TRUE(program.waitForStarted(30000));
    ASSERT_TRUE(
        pumpUntil([&] { return processHolds(program.processId(), pty.SlavePath()); }, 30000));
    ASSERT_TRUE(QFileInfo::exists(logPath));

    // About 2 MiB a second in 20 KiB pieces, each piece's time noted once it is in the pty.
    const QByteArray data = randomBytes(16 * 1024 * 1024, 21);
    constexpr qsizetype kPiece = 20 * 1024;
    std::mutex m;
    std::vector<std::pair<Clock::time_point, qsizetype>> fedAt;  // (time, bytes fed by then)
    std::atomic<qsizetype> fed{0};
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        auto next = Clock::now();
        for (qsizetype at = 0; at < data.size() && !stop; at += kPiece) {
            if (!pty.Write(data.mid(at, kPiece)))
                return;
            fed = at + kPiece;
            {
                std::lock_guard lock(m);
                fedAt.emplace_back(Clock::now(), at + kPiece);
            }
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });
    // Mid-feed: the log has been growing while the program runs, and the feed has gone on for
    // seconds.
    const bool grew = pumpUntil([&] { return QFileInfo(logPath).size() >= 1024 * 1024; }, 60000);
    const bool fedEnough = pumpUntil([&] { return fed >= 6 * 1024 * 1024; }, 60000);
    const Clock::time_point killedAt = Clock::now();
    ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
    program.waitForFinished(30000);
    stop = true;
    feeder.join();
    ASSERT_TRUE(grew);
    ASSERT_TRUE(fedEnough);
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);

    const QByteArray log = fileBytes(logPath);
    ASSERT_GT(log.size(), 0);
    ASSERT_LE(log.size(), data.size());
    EXPECT_TRUE(log == data.left(log.size())) << "the log is not a prefix of the feed";
    // The first byte missing was fed at most about a second before the kill (with room for a
    // busy machine's scheduling).
    double missingFor = 0;
    {
        std::lock_guard lock(m);
        for (const auto& [at, bytes] : fedAt) {
            if (bytes > log.size() && at <= killedAt) {
                missingFor = std::chrono::duration<double>(killedAt - at).count();
                break;
            }
        }
    }
    RecordProperty("missing_seconds", QString::number(missingFor, 'f', 3).toStdString());
    EXPECT_LE(missingFor, 3.0) << "the log missed the last " << missingFor << " s (" << log.size()
                               << " of " << fed.load() << " bytes fed)";
}
