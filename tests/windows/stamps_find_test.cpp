// The receive pane's time stamps and find bar through the real window: Tools → "Time stamps"
// (off at first, and nothing changes while off), stamps taken where the bytes were read (a
// busy window does not shift them), hex packets framed by idle gaps, stamps in copies, the
// text log and plainText, the settings key and --timestamps; the find bar (Ctrl+F, "Find…"),
// next and previous with wrapping, hex and "#hh" input, the count, the highlights of the
// matches in view and a capture cleared while the bar is open.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QRegularExpression>
#include <QScrollBar>
#include <QThread>

#include "app/CommandLine.h"
#include "core/receive/TimeStamps.h"
#include "terminal/FindBar.h"
#include "terminal/StartOptions.h"
#include "tests/common/Captions.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

const QRegularExpression kStamp(QStringLiteral("^\\[(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d\\d\\d)\\] "));

// Milliseconds of the day a stamp shows; -1 for a text that is no stamp.
qint64 stampMs(const QString& text) {
    const QRegularExpressionMatch m = kStamp.match(text);
    if (!m.hasMatch())
        return -1;
    return ((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 60 +
            m.captured(3).toLongLong()) *
               1000 +
           m.captured(4).toLongLong();
}

QString unstamped(QString text) {
    return text.remove(kStamp);
}

class PaneToolsTest : public WindowTest {
  protected:
    QAction* stampsAction() const { return form->findChild<QAction*>("Action_timestamps"); }
    ReceivePaneView* view() const { return ui(form).Memo_receive; }
    FindBar* bar() const { return form->findChild<FindBar*>("Panel_find"); }
    QLineEdit* findEdit() const { return form->findChild<QLineEdit*>("Edit_find"); }
    QComboBox* findMode() const { return form->findChild<QComboBox*>("Combo_findMode"); }
    QLabel* findLabel() const { return form->findChild<QLabel*>("Label_find"); }
    // Connects the port to a simulated device the test plays.
    void connectSim(const QString& name) {
        peer_ = SimPeer::Create(name);
        ASSERT_TRUE(connectSerial(peer_->DeviceName()));
    }
    // Injects from this thread (put), and waits until the window has counted every byte put
    // so far (inject).
    void put(const QByteArray& bytes) {
        ASSERT_EQ(peer_->TryInject(bytes), size_t(bytes.size()));
        injected_ += bytes.size();
    }
    void inject(const QByteArray& bytes) {
        put(bytes);
        ASSERT_TRUE(pumpUntil([&] { return received() == injected_; }));
    }
    // The window active, for keys that are shortcuts.
    void activate() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }
    // Bytes shown as a link shows them, without a link.
    void show(const QByteArray& bytes) {
        form->receivePath()->showReceived(bytes, LinkPolicy::serial());
        view()->flush();
    }
    void TearDown() override {
        if (form && form->serialLink()->portOpen())
            ui(form).BitBtn2->click();
        peer_.reset();
        WindowTest::TearDown();
    }
    std::shared_ptr<SimPeer> peer_;
    int injected_ = 0;
};

using SerialStamps = PaneToolsTest;
using FindBarTest = PaneToolsTest;
using Stamps = PaneToolsTest;

}  // namespace

TEST_F(SerialStamps, OffAtFirstAndNothingChangesWhileOff) {
    QAction* stamps = stampsAction();
    ASSERT_NE(stamps, nullptr);
    EXPECT_EQ(stamps->parent(), form);
    EXPECT_EQ(trelmo::test::shownCaption(stamps->text()), "Time stamps");
    EXPECT_TRUE(stamps->isCheckable());
    EXPECT_FALSE(stamps->isChecked());
    EXPECT_FALSE(form->receivePath()->timeStamps());
    EXPECT_TRUE(ui(form).Tools1->actions().contains(stamps));

    connectSim("stamps-off");
    inject("AB\r\nCD");
    EXPECT_EQ(pane(), "AB<CR>\nCD");
    EXPECT_EQ(form->receivePath()->lineStamp(0), "");

    // On: every line behind its stamp, drawn at once with a column for the stamps.
    view()->flush();
    const int widthBefore = view()->contentWidth();
    stamps->trigger();
    EXPECT_TRUE(form->receivePath()->timeStamps());
    EXPECT_TRUE(view()->hasLinePrefix());
    EXPECT_FALSE(view()->hasPending());
    EXPECT_GT(view()->contentWidth(), widthBefore);
    const QStringList on = pane().split('\n');
    ASSERT_EQ(on.size(), 2);
    for (const QString& line : on)
        EXPECT_GE(stampMs(line), 0) << line.toStdString();
    EXPECT_EQ(unstamped(on[0]), "AB<CR>");
    EXPECT_EQ(unstamped(on[1]), "CD");
    // A message line has the time it was added.
    ui(form).Butt_connect->click();  // refused while the port is open: a message line
    EXPECT_GE(stampMs(pane().split('\n').last()), 0);

    // Off again: exactly as before.
    stamps->trigger();
    EXPECT_FALSE(view()->hasLinePrefix());
    EXPECT_EQ(pane(), "AB<CR>\nCD\nAlready active connection (serial or Listen TCP)");
}

TEST_F(SerialStamps, TheStampIsWhenTheBytesWereReadNotWhenTheWindowShowedThem) {
    stampsAction()->trigger();
    connectSim("stamps-stall");
    StampClock& clock = form->receivePath()->stampClock();
    clock.setAnchor(QDateTime(QDate(2026, 1, 2), QTime(10, 0, 0)), steadyNowNs());

    const int64_t before = steadyNowNs();
    put("PING\r\n");
    const int64_t after = steadyNowNs();
    // The window is busy for 300 ms before it gets to the bytes.
    QThread::msleep(300);
    const int64_t busyUntil = steadyNowNs();
    ASSERT_TRUE(pumpUntil([&] { return received() == 6; }));

    const QString line = pane().split('\n').first();
    EXPECT_EQ(unstamped(line), "PING<CR>");
    const qint64 shown = stampMs(line);
    EXPECT_GE(shown, clock.msOfDay(before)) << line.toStdString();
    EXPECT_LE(shown, clock.msOfDay(after)) << line.toStdString();
    EXPECT_LT(shown, clock.msOfDay(busyUntil)) << line.toStdString();
}

TEST_F(SerialStamps, HexPacketsApartBecomeLinesAndOneReadIsNeverSplit) {
    ui(form).Check_hex->setChecked(true);
    connectSim("stamps-gap");
    // Off: the packets run on in one line, as ever.
    put("\x01\x02");
    QThread::msleep(100);
    inject("\x03");
    EXPECT_EQ(lines(), QStringList({"0x01 0x02 0x03 "}));

    ui(form).Butt_Clear->click();
    injected_ = 0;
    stampsAction()->trigger();
    ASSERT_EQ(form->receivePath()->packetGapMs(), 20);
    // Two packets 100 ms apart, read together by the window: two lines.
    put("\x01\x02\x03");
    QThread::msleep(100);
    inject("\x04\x05");
    EXPECT_EQ(lines(), QStringList({"0x01 0x02 0x03 ", "0x04 0x05 "}));
    // One read of 300 bytes stays one line, whenever the window takes it.
    QThread::msleep(100);
    inject(QByteArray(300, '\x07'));
    QThread::msleep(100);
    inject("\x08");
    ASSERT_EQ(lines().size(), 4);
    EXPECT_EQ(lines()[2], QString("0x07 ").repeated(300));
    EXPECT_EQ(lines()[3], "0x08 ");
    // Each line has its own stamp.
    const QStringList shown = pane().split('\n');
    ASSERT_EQ(shown.size(), 4);
    for (const QString& l : shown)
        EXPECT_GE(stampMs(l), 0);
    EXPECT_LT(stampMs(shown[0]), stampMs(shown[1]));
}

TEST_F(SerialStamps, CopiesTheTextLogAndPlainTextCarryTheStamps) {
    connectSim("stamps-copy");
    inject("first line\r\nsecond line\r\n");
    stampsAction()->trigger();
    const QString stamp0 = form->receivePath()->lineStamp(0);
    const QString stamp1 = form->receivePath()->lineStamp(1);
    ASSERT_GE(stampMs(stamp0), 0);
    ASSERT_GE(stampMs(stamp1), 0);
    EXPECT_EQ(pane(), stamp0 + "first line<CR>\n" + stamp1 + "second line<CR>\n");

    // Select all and copy: the stamps come along; a line taken from its middle has none.
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), pane());
    view()->setSelection({0, 6}, {1, 6});
    EXPECT_EQ(view()->selectedText(), "line<CR>\n" + stamp1 + "second");
    // The mouse selection offered to the X11 selection is the same text.
    const QPoint from = view()->pointOf({1, 0});
    const QPoint to = view()->pointOf({1, 6});
    QTest::mousePress(view()->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(view()->viewport(), to);
    QTest::mouseRelease(view()->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(view()->selectedText(), stamp1 + "second");
    if (QGuiApplication::clipboard()->supportsSelection()) {
        EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), stamp1 + "second");
    }

    // The text log ("Save").
    dialogs.saveAnswers.push_back(dir.path("stamped.txt"));
    ui(form).BitBtn7->click();
    const QByteArray log = dir.read("stamped.txt");
    EXPECT_TRUE(
        log.contains((stamp0 + "first line<CR>\r\n" + stamp1 + "second line<CR>\r\n").toLatin1()))
        << log.left(200).constData();
    // Off: the log as ever.
    stampsAction()->trigger();
    dialogs.saveAnswers.push_back(dir.path("plain.txt"));
    ui(form).BitBtn7->click();
    const QByteArray plain = dir.read("plain.txt");
    EXPECT_TRUE(plain.contains("\r\nfirst line<CR>\r\nsecond line<CR>\r\n"));
    EXPECT_FALSE(plain.contains(stamp0.toLatin1()));
}

TEST_F(Stamps, TheSettingsKeepTheStampsAndThePacketGap) {
    stampsAction()->trigger();
    quit();
    QByteArray file = dir.read("trelmo.ini");
    EXPECT_TRUE(file.contains("[Session]")) << file.constData();
    EXPECT_TRUE(file.contains("TimeStamps=1"));
    EXPECT_FALSE(file.contains("PacketGap"));  // not used, not written

    start();
    EXPECT_TRUE(stampsAction()->isChecked());
    EXPECT_TRUE(form->receivePath()->timeStamps());
    EXPECT_TRUE(view()->hasLinePrefix());
    stampsAction()->trigger();
    quit();
    file = dir.read("trelmo.ini");
    EXPECT_TRUE(file.contains("TimeStamps=0"));

    startWith("[Session]\nTimeStamps=1\nPacketGap=50\n");
    EXPECT_TRUE(stampsAction()->isChecked());
    EXPECT_EQ(form->receivePath()->packetGapMs(), 50);
}

TEST_F(Stamps, TheCommandLineSwitchesTheStampsOn) {
    const ParsedCommandLine help = parseCommandLine({"trelmo", "--help"});
    EXPECT_TRUE(help.output.contains("--timestamps")) << help.output.toStdString();
    const ParsedCommandLine none = parseCommandLine({"trelmo"});
    EXPECT_FALSE(none.options.timeStamps);
    const ParsedCommandLine line = parseCommandLine({"trelmo", "--timestamps"});
    EXPECT_FALSE(line.exit);
    EXPECT_TRUE(line.options.timeStamps);
    form->applyStartOptions(none.options);
    EXPECT_FALSE(stampsAction()->isChecked());
    form->applyStartOptions(line.options);
    EXPECT_TRUE(stampsAction()->isChecked());
    EXPECT_TRUE(form->receivePath()->timeStamps());
}

TEST_F(FindBarTest, CtrlFOpensTheBarAndTheKeysGoFromMatchToMatch) {
    activate();
    show("needle one\r\nhay\r\nneedle two\r\nNEEDLE three\r\n");
    ASSERT_NE(bar(), nullptr);
    EXPECT_TRUE(bar()->isHidden());
    // The pane's pop-up menu has "Find…".
    QAction* find = form->findChild<QAction*>("Action_find");
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->text(), QString::fromUtf8("Find…"));
    EXPECT_TRUE(ui(form).PopupMenu1->actions().contains(find));
    EXPECT_EQ(find->shortcut(), QKeySequence(QKeySequence::Find));

    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return bar()->isVisible(); }));
    QTest::keyClicks(findEdit(), "needle");
    EXPECT_EQ(view()->selectionStart(), (PanePosition{0, 0}));
    EXPECT_EQ(view()->selectionEnd(), (PanePosition{0, 6}));
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "1 of 3"; }))
        << findLabel()->text().toStdString();

    QTest::keyClick(findEdit(), Qt::Key_F3);
    EXPECT_EQ(findLabel()->text(), "2 of 3");
    EXPECT_EQ(view()->selectionStart(), (PanePosition{2, 0}));
    QTest::keyClick(findEdit(), Qt::Key_Return);
    EXPECT_EQ(findLabel()->text(), "3 of 3");
    EXPECT_EQ(view()->selectedText(), "NEEDLE");
    QTest::keyClick(findEdit(), Qt::Key_Return);  // wraps
    EXPECT_EQ(findLabel()->text(), "1 of 3");
    QTest::keyClick(findEdit(), Qt::Key_F3, Qt::ShiftModifier);  // wraps back
    EXPECT_EQ(findLabel()->text(), "3 of 3");
    QTest::keyClick(findEdit(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(findLabel()->text(), "2 of 3");
    // F3 works in the pane too.
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_F3);
    EXPECT_EQ(findLabel()->text(), "3 of 3");

    // Match case.
    form->findChild<QCheckBox*>("Check_findCase")->setChecked(true);
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text().endsWith(" of 2"); }))
        << findLabel()->text().toStdString();
    form->findChild<QCheckBox*>("Check_findCase")->setChecked(false);

    // Bytes, as hex and as a command string.
    findMode()->setCurrentIndex(1);
    findEdit()->setText("0D 0A");
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text().endsWith(" of 4"); }))
        << findLabel()->text().toStdString();
    findEdit()->setText("0D 0");
    EXPECT_EQ(findLabel()->text(), "Not hex bytes (0D 0A)");
    findMode()->setCurrentIndex(2);
    findEdit()->setText("#0D#0Ahay");
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "1 of 1"; }))
        << findLabel()->text().toStdString();
    EXPECT_EQ(view()->selectionStart(), (PanePosition{0, 10}));
    EXPECT_EQ(view()->selectionEnd(), (PanePosition{1, 3}));
    findMode()->setCurrentIndex(0);
    findEdit()->setText("straw");
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "No matches"; }));

    // Esc closes the bar; the menu entry opens it again.
    QTest::keyClick(findEdit(), Qt::Key_Escape);
    EXPECT_TRUE(bar()->isHidden());
    find->trigger();
    EXPECT_TRUE(bar()->isVisible());
}

TEST_F(FindBarTest, EveryMatchInViewIsHighlighted) {
    form->show();
    QByteArray bytes;
    for (int i = 0; i < 200; ++i)
        bytes += "line " + QByteArray::number(i) + (i % 3 == 0 ? " needle here\r\n" : "\r\n");
    show(bytes);
    view()->verticalScrollBar()->setValue(0);  // from the top of the view
    form->findChild<QAction*>("Action_find")->trigger();
    findEdit()->setText("needle");
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "1 of 67"; }))
        << findLabel()->text().toStdString();
    const int first = view()->firstVisibleLine();
    ASSERT_LE(first, 3);
    // Lines 3 and 6 are in view: their matches are highlighted, lines between have none.
    EXPECT_EQ(view()->highlightsInView(3), (std::vector<MatchSpan>{{7, 13, false}}));
    EXPECT_EQ(view()->highlightsInView(6), (std::vector<MatchSpan>{{7, 13, false}}));
    EXPECT_TRUE(view()->highlightsInView(4).empty());
    EXPECT_TRUE(view()->highlightsInView(150).empty());  // out of view

    // And drawn: the highlight's colour under the match of line 3.
    auto highlighted = [&] {
        view()->viewport()->repaint();
        const QImage image = view()->viewport()->grab().toImage();
        const QPoint a = view()->pointOf({3, 7});
        const QPoint b = view()->pointOf({3, 13});
        int hits = 0;
        for (int x = a.x() + 1; x < b.x(); ++x)
            for (int dy = -3; dy <= 3; ++dy)
                hits += image.pixelColor(x, a.y() + dy) == ReceivePaneView::highlightColor();
        return hits;
    };
    EXPECT_GT(highlighted(), 10);
    QTest::keyClick(findEdit(), Qt::Key_Escape);
    EXPECT_TRUE(view()->highlightsInView(3).empty());
    EXPECT_EQ(highlighted(), 0);
}

TEST_F(FindBarTest, ACaptureClearedWhileTheBarIsOpen) {
    form->show();
    QByteArray bytes;
    for (int i = 0; i < 60000; ++i)
        bytes += QByteArray::number(i).rightJustified(8, '0') + " some text of the line\r\n";
    for (qsizetype at = 0; at < bytes.size(); at += 9000)
        show(bytes.mid(at, 9000));
    form->findChild<QAction*>("Action_find")->trigger();
    findEdit()->setText("7 some");
    ASSERT_TRUE(bar()->current().has_value());
    // Cleared at once, counting or not.
    ui(form).Butt_Clear->click();
    EXPECT_FALSE(bar()->current().has_value());
    EXPECT_FALSE(view()->hasSelection());
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "No matches"; }))
        << findLabel()->text().toStdString();
    QTest::keyClick(findEdit(), Qt::Key_F3);
    EXPECT_FALSE(bar()->current().has_value());
    EXPECT_EQ(findLabel()->text(), "No matches");

    // What arrives next is found and counted.
    show("00000017 some more\r\n");
    ASSERT_TRUE(pumpUntil([&] { return findLabel()->text() == "1 match"; }))
        << findLabel()->text().toStdString();
    QTest::keyClick(findEdit(), Qt::Key_F3);
    EXPECT_EQ(findLabel()->text(), "1 of 1");
    EXPECT_EQ(view()->selectedText(), "7 some");
}
