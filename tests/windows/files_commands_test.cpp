// Command files and batch sending through the real main window: opening and saving the
// command list, and runs over a pseudo-terminal and a loopback TCP link.
#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "terminal/TerminalInput.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

const QString kIdle = QStringLiteral("Send all commands with delay in ms");
const QString kStop = QStringLiteral("Stop sending commands");

class CommandFiles : public FilesWindow {
  protected:
    void openFile(const QString& path) {
        dialogs.openAnswers.push_back(path);
        ui(form).BitBtn6->click();
    }
    bool runEnded() const {
        return !form->commands()->batchSending() && ui(form).BitBtn1->text() == kIdle &&
               !ui(form).Timer_autoSend->isActive();
    }
};
// Runs over the serial port, named so that the ThreadSanitizer pass runs them.
using SerialCommandFiles = CommandFiles;

}  // namespace

TEST_F(CommandFiles, OpeningReplacesTheListAndKeepsTheCommandLine) {
    ui(form).Edit_send->addItems({"old1", "old2"});
    ui(form).Edit_send->setEditText("typed");
    dir.write("three.txt", "AT\r\n\r\n#01#02\r\n");
    openFile(dir.path("three.txt"));

    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(commandList(), (QStringList{"AT", "", "#01#02"}));
    EXPECT_EQ(ui(form).Edit_send->currentText(), "typed");
    EXPECT_EQ(ui(form).Memo2->toPlainText(), "AT\n\n#01#02");
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    const FileDialogRequest& r = dialogs.openRequests.front();
    EXPECT_EQ(r.title, "Open command file");
    EXPECT_EQ(r.fileName, "*.txt");
    EXPECT_EQ(r.defaultExtension, "txt");
    ASSERT_EQ(r.filters.size(), 2);
    EXPECT_EQ(r.filters[0], (QPair<QString, QString>{"txt", "*.txt"}));
    EXPECT_EQ(r.filters[1], (QPair<QString, QString>{"csv", "*.csv"}));

    // A last line without a break is the last entry; lone CR and LF end lines too.
    dir.write("nobreak.txt", "one\rtwo\nthree");
    dialogs.openAnswers.push_back(dir.path("nobreak.txt"));
    ui(form).Opencommandfile1->trigger();
    EXPECT_EQ(commandList(), (QStringList{"one", "two", "three"}));
    EXPECT_EQ(ui(form).Edit_send->currentText(), "typed");

    // ".csv" lines are taken whole, commas and quotes included.
    dir.write("list.csv", "01,02\r\n\"a\",b\r\n");
    openFile(dir.path("list.csv"));
    EXPECT_EQ(commandList(), (QStringList{"01,02", "\"a\",b"}));

    // Bytes above 127 are read as Windows-1252 characters.
    dir.write("ansi.txt", "\x80\xE9\r\n");
    openFile(dir.path("ansi.txt"));
    EXPECT_EQ(commandList(), (QStringList{QString::fromUtf8("\u20AC\u00E9")}));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommandFiles, OpeningNothingOrAMissingFileKeepsTheList) {
    ui(form).Edit_send->addItems({"keep"});
    dialogs.openAnswers = {std::nullopt, QString(), QStringLiteral("*.txt")};
    for (int i = 0; i < 3; ++i)
        ui(form).BitBtn6->click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(commandList(), QStringList{"keep"});

    openFile(dir.path("missing.txt"));
    EXPECT_EQ(dialogs.texts(), QStringList{"No such file"});
    dialogs.clear();
    openFile(dir.root());  // a folder is no command file
    EXPECT_EQ(dialogs.texts(), QStringList{"No such file"});
    EXPECT_EQ(commandList(), QStringList{"keep"});
}

TEST_F(CommandFiles, SaveThenOpenRestoresTheList) {
    const QStringList list = {"AT#0D#0A", "", "01,02", "#23#41", "AT"};
    ui(form).Edit_send->addItems(list);
    dialogs.saveAnswers.push_back(dir.path("cmds.txt"));
    ui(form).Savecommands1->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dir.read("cmds.txt"), "AT#0D#0A\r\n\r\n01,02\r\n#23#41\r\nAT\r\n");

    ui(form).Edit_send->clear();
    openFile(dir.path("cmds.txt"));
    EXPECT_EQ(commandList(), list);

    // An empty list writes an empty file over the old one.
    ui(form).Edit_send->clear();
    dialogs.saveAnswers.push_back(dir.path("cmds.txt"));
    ui(form).Savecommands1->trigger();
    EXPECT_TRUE(dir.exists("cmds.txt"));
    EXPECT_EQ(dir.read("cmds.txt"), "");
}

TEST_F(CommandFiles, DelayKeyFilterPassesDigitsAndLineKeys) {
    for (char16_t c : {u'0', u'5', u'9', char16_t(8), char16_t(10), char16_t(13)}) {
        QChar key(c);
        trelmo::Edit_delay_commandKeyPress(key);
        EXPECT_EQ(key.unicode(), c);
    }
    for (char16_t c : {u'a', u'-', u' ', u'.', char16_t(0x00E9), char16_t(9)}) {
        QChar key(c);
        trelmo::Edit_delay_commandKeyPress(key);
        EXPECT_EQ(key.unicode(), 27) << int(c);
    }
}

// The command delay is changed with its arrows, keys and wheel, in steps of 10; only the
// number itself cannot be typed over. A run takes the delay shown when it starts.
TEST_F(SerialCommandFiles, TheCommandDelayStepsByTen) {
    QSpinBox* box = ui(form).UpDown_delay_command;
    ASSERT_EQ(box->value(), 0);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(box->value(), 20);
    QTest::keyClick(box, Qt::Key_PageUp);  // ten steps
    EXPECT_EQ(box->value(), 120);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->value(), 110);
    EXPECT_TRUE(ui(form).Edit_delay_command->isReadOnly());
    QTest::keyClicks(ui(form).Edit_delay_command, "5");
    EXPECT_EQ(box->value(), 110);

    PtyPair pty;
    if (!pty.Ok())
        GTEST_SKIP() << "no pseudo-terminals here";
    ASSERT_TRUE(connectSerial(pty.SlavePath())) << dialogs.lastText().toStdString();
    ui(form).Edit_send->addItems({"AT", "AT"});
    ui(form).BitBtn1->click();
    EXPECT_EQ(ui(form).Timer_autoSend->interval(), 110);
    ui(form).BitBtn1->click();  // stop
    ui(form).BitBtn2->click();
}

TEST_F(CommandFiles, ARunNeedsALink) {
    ui(form).Edit_send->addItems({"AT"});
    ui(form).BitBtn1->click();
    EXPECT_EQ(dialogs.texts(),
              QStringList{"You are not connected to serial port or through TCP..."});
    EXPECT_TRUE(runEnded());
    pumpFor(100);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(SerialCommandFiles, ThreeEntryFileRunOverAPseudoTerminal) {
    PtyPair pty;
    if (!pty.Ok())
        GTEST_SKIP() << "no pseudo-terminals here";
    ASSERT_TRUE(connectSerial(pty.SlavePath())) << dialogs.lastText().toStdString();

    dir.write("three.txt", "AT\r\n\r\n#01#02\r\n");
    openFile(dir.path("three.txt"));
    ui(form).Edit_send->setEditText("typed");
    ui(form).UpDown_delay_command->setValue(100);

    QByteArray farEnd;
    QByteArray atMessage;
    dialogs.onMessage = [&](const MessageRequest&) {
        pumpUntil([&] { return (farEnd += pty.ReadAvailable()).size() >= 2; }, 5000);
        atMessage = farEnd;
    };
    ui(form).BitBtn1->click();
    EXPECT_EQ(ui(form).BitBtn1->text(), kStop);
    EXPECT_TRUE(form->commands()->batchSending());
    EXPECT_EQ(form->commands()->batchIndex(), 0);
    EXPECT_EQ(ui(form).Timer_autoSend->interval(), 100);
    EXPECT_TRUE(ui(form).Timer_autoSend->isActive());

    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    ASSERT_TRUE(pumpUntil([&] { return (farEnd += pty.ReadAvailable()).size() >= 4; }));
    pumpFor(200);
    farEnd += pty.ReadAvailable();
    EXPECT_EQ(farEnd, QByteArray("AT\x01\x02", 4));
    EXPECT_EQ(dialogs.texts(), QStringList{"Please enter command string"});
    EXPECT_EQ(atMessage, "AT");  // the box came between AT and 01 02
    EXPECT_EQ(form->commands()->batchIndex(), 0);
    // Commands of a run are not added to the list again.
    EXPECT_EQ(commandList(), (QStringList{"AT", "", "#01#02"}));
    ui(form).BitBtn2->click();
}

TEST_F(CommandFiles, StoppingARunInTheMiddle) {
    ASSERT_TRUE(connectTcp());
    ui(form).Edit_send->addItems({"first", "second", "third"});
    ui(form).UpDown_delay_command->setValue(100);
    // The user stops the run between its first and its second tick.
    int indexAtStop = -1;
    const auto stopper = QObject::connect(ui(form).Timer_autoSend, &QTimer::timeout, [&] {
        if (indexAtStop < 0) {
            indexAtStop = form->commands()->batchIndex();
            ui(form).BitBtn1->click();
        }
    });
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return indexAtStop >= 0; }));
    QObject::disconnect(stopper);
    EXPECT_EQ(indexAtStop, 1);
    EXPECT_TRUE(runEnded());
    ASSERT_TRUE(pumpUntil([&] { return peerReceived() == "first"; }));
    pumpFor(500);  // five of the run's delays: a run that went on would have sent by now
    EXPECT_EQ(peerReceived(), "first");
    EXPECT_TRUE(dialogs.messages.empty());

    // A new run starts from the first entry again.
    ui(form).UpDown_delay_command->setValue(10);
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_TRUE(pumpUntil([&] { return peerReceived() == "firstfirstsecondthird"; }));
}

TEST_F(CommandFiles, ZeroDelaySendsBackToBackUntilTheEnd) {
    ASSERT_TRUE(connectTcp());
    QStringList list;
    QByteArray expected;
    for (int i = 0; i < 40; ++i) {
        list << QStringLiteral("#%1").arg(i + 0x30, 2, 16, QLatin1Char('0'));
        expected += char(i + 0x30);
    }
    ui(form).Edit_send->addItems(list);
    ui(form).UpDown_delay_command->setValue(0);
    ui(form).BitBtn1->click();
    // The first command goes out on a later turn of the event loop, not in the click.
    EXPECT_EQ(form->commands()->batchIndex(), 0);
    EXPECT_EQ(ui(form).BitBtn1->text(), kStop);
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_TRUE(pumpUntil([&] { return peerReceived() == expected; }))
        << peerReceived().toHex().toStdString();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(commandList(), list);

    // An empty list: the single tick meets the empty command and ends the run.
    ui(form).Edit_send->clear();
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_EQ(dialogs.texts(), QStringList{"Please enter command string"});
}

TEST_F(CommandFiles, AMessageBoxOfTheRunHoldsIt) {
    ASSERT_TRUE(connectTcp());
    ui(form).Edit_send->addItems({"A", "", "#4", "B", "C"});
    ui(form).UpDown_delay_command->setValue(0);
    int ticks = 0;
    QObject::connect(ui(form).Timer_autoSend, &QTimer::timeout, [&] { ++ticks; });

    struct Seen {
        QString text;
        int ticksWhileOpen;
        int batchIndex;
        QByteArray sentWhileOpen;
    };
    std::vector<Seen> seen;
    dialogs.onMessage = [&](const MessageRequest& box) {
        // The box's own event loop: the timer must not tick and nothing must be sent.
        const int before = ticks;
        const QByteArray sentBefore = peerReceived();
        pumpFor(300);
        seen.push_back({box.text, ticks - before, form->commands()->batchIndex(),
                        peerReceived().mid(sentBefore.size())});
    };
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    ASSERT_TRUE(pumpUntil([&] { return peerReceived() == "ABC"; })) << peerReceived().toStdString();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Please enter command string");
    EXPECT_EQ(seen[0].batchIndex, 1);
    EXPECT_EQ(seen[1].text, "Wrong send string. Please correct it");
    EXPECT_EQ(seen[1].batchIndex, 2);
    for (const Seen& s : seen) {
        EXPECT_EQ(s.ticksWhileOpen, 0) << s.text.toStdString();
        EXPECT_EQ(s.sentWhileOpen, "") << s.text.toStdString();
    }
}

TEST_F(CommandFiles, ABoxOpenedElsewhereHoldsTheRunToo) {
    ASSERT_TRUE(connectTcp());
    ui(form).Edit_send->addItems({"A", "B", "C"});
    ui(form).UpDown_delay_command->setValue(300);
    int ticks = 0;
    QObject::connect(ui(form).Timer_autoSend, &QTimer::timeout, [&] { ++ticks; });
    QByteArray sentWhileOpen;
    bool boxDone = false;
    dialogs.onMessage = [&](const MessageRequest&) {
        // The box's own event loop, for two turns of the run's timer (or two of its delays):
        // nothing may be sent meanwhile.
        const QByteArray before = peerReceived();
        const int from = ticks;
        pumpUntil([&] { return ticks - from >= 2; }, 700);
        sentWhileOpen = peerReceived().mid(before.size());
        boxDone = true;
    };
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return peerReceived() == "A"; }));
    showMessage(QStringLiteral("another box"), form);
    EXPECT_TRUE(boxDone);
    EXPECT_EQ(sentWhileOpen, "");
    EXPECT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_TRUE(pumpUntil([&] { return peerReceived() == "ABC"; })) << peerReceived().toStdString();
}

TEST_F(CommandFiles, ARunGoesOnAfterTheLinkIsLost) {
    ASSERT_TRUE(connectTcp());
    ui(form).Edit_send->addItems({"first", "second", "third"});
    ui(form).UpDown_delay_command->setValue(300);
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return peerReceived() == "first"; }));
    ui(form).Butt_connect->click();  // "Disconnect TCP"
    ASSERT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_TRUE(form->commands()->batchSending());
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_EQ(dialogs.texts(), QStringList(2, "You are not connected to serial port or TCP/IP"));
    EXPECT_EQ(peerReceived(), "first");
    EXPECT_EQ(commandList(), (QStringList{"first", "second", "third"}));
}
