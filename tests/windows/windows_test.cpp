// The program's windows as created at start-up; the main window's controls: all there, laid out
// without hiding each other, the captions that tell the state, the limits of what is typed, the
// menus doing what the buttons do; its exit flows, its clock and the byte table and About
// windows reached from it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <QWindow>

#include "app/Windows.h"
#include "core/LocaleText.h"
#include "serial/SimDevice.h"
#include "terminal/ReceivePaneView.h"
#include "tests/common/Clock.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Form1Ui.h"
#include "tests/common/Layout.h"
#include "tests/common/Pump.h"
#include "tests/common/QtPrint.h"
#include "tests/common/TcpPeer.h"
#include "tests/common/TempDir.h"
#include "widgets/dsLeds.h"

using namespace trelmo;
using trelmo::test::ui;

using trelmo::test::DialogRecorder;
using trelmo::test::TempDir;

TEST(Windows, StartUpCreatesFourWindowsWithOnlyTheMainOneShown) {
    TempDir dir;
    dir.write("trelmo.ini", "[Com port]\nNumber=COM4\n");
    Windows windows(dir.path("trelmo.ini"));
    TForm1* main = windows.form1();
    ASSERT_TRUE(main && windows.form4() && windows.form5() && windows.form2());
    EXPECT_EQ(main->serialLink()->comName(), "COM4");  // the main window loaded the settings
    EXPECT_EQ(main->windowTitle(), "Trelmo and LAN v3.1.2");
    EXPECT_EQ(main->size(), QSize(850, 632));
    EXPECT_EQ(windows.form4()->windowTitle(), "Trelmo Table Format");
    EXPECT_EQ(windows.form5()->windowTitle(), "Trelmo -> M-bus");
    EXPECT_EQ(windows.form2()->windowTitle(), "Trelmo -> About");
    EXPECT_TRUE(windows.form4()->isHidden());
    EXPECT_TRUE(windows.form5()->isHidden());
    EXPECT_TRUE(windows.form2()->isHidden());
    // Only the main window ends the program.
    EXPECT_TRUE(main->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(windows.form4()->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(windows.form5()->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(windows.form2()->testAttribute(Qt::WA_QuitOnClose));
    // "More >>" shows the byte table window.
    ui(main).Butt_additional->click();
    EXPECT_TRUE(windows.form4()->isVisible());
}

TEST(Windows, CaptionsReachTheWindowManagerWithoutASuffix) {
    // A platform window appends the application display name to a caption once one has been
    // set (xcb: "Trelmo and LAN v3.1.2 — Trelmo"). The application object, made as main()
    // makes it, sets none: the display name still follows the application name.
    const QString name = QCoreApplication::applicationName();
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), name);
    QCoreApplication::setApplicationName(QStringLiteral("trelmo-probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "trelmo-probe");
    QCoreApplication::setApplicationName(name);
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), name);

    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    const std::pair<QWidget*, const char*> captions[] = {{windows.form1(), "Trelmo and LAN v3.1.2"},
                                                         {windows.form4(), "Trelmo Table Format"},
                                                         {windows.form5(), "Trelmo -> M-bus"},
                                                         {windows.form2(), "Trelmo -> About"}};
    for (const auto& [window, caption] : captions) {
        window->show();
        ASSERT_TRUE(trelmo::test::pumpUntil([&] { return window->windowHandle() != nullptr; }));
        EXPECT_EQ(window->windowTitle(), caption);
        EXPECT_EQ(window->windowHandle()->title(), caption);
        window->hide();
    }
}

namespace {

// How many characters of a long paste of digits an empty edit keeps.
int pastedLength(QLineEdit* edit) {
    edit->clear();
    QApplication::clipboard()->setText(QString(2000, QLatin1Char('1')));
    edit->paste();
    const int kept = static_cast<int>(edit->text().size());
    edit->clear();
    return kept;
}

bool sameRequest(const trelmo::FileDialogRequest& a, const trelmo::FileDialogRequest& b) {
    return a.title == b.title && a.defaultExtension == b.defaultExtension && a.filters == b.filters;
}

}  // namespace

// Every control the program, its tests and its automation find by name is there once, of its
// kind: Form1Ui looks each one up by objectName and type and throws for one it does not find.
TEST(MainWindow, EveryControlIsThereOnceByItsNameAndKind) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    EXPECT_NO_THROW(trelmo::test::Form1Ui{*f});

    QMap<QString, int> names;
    for (QObject* o : f->findChildren<QObject*>()) {
        if (!o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1String("qt_")))
            ++names[o->objectName()];
    }
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << "more than one object named " << it.key().toStdString();
    EXPECT_EQ(ui(f).Memo_receive->model(), &f->receivePath()->pane());
    EXPECT_EQ(ui(f).Table, &f->receivePath()->table());
}

// At its start size and larger, every control the user sees lies inside the window and none
// covers another; every button shows a caption or a picture.
TEST(MainWindow, ControlsLieInsideTheWindowAndHideNoneOfEachOther) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    f->show();
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return f->windowHandle() != nullptr; }));
    // The captions that change with the state, in their longer form too.
    ui(f).Butt_connect->setText("Disconnect TCP");
    ui(f).BitBtn1->setText("Stop sending commands");
    ui(f).Butt_additional->setText("<< More");
    for (const QSize size : {QSize(850, 632), QSize(1200, 900)}) {
        f->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(trelmo::test::controlsOutside(f), QStringList())
            << size.width() << "x" << size.height();
        EXPECT_EQ(trelmo::test::overlappingControls(f), QStringList())
            << size.width() << "x" << size.height();
        for (auto* b : f->findChildren<QAbstractButton*>()) {
            if (!b->isVisibleTo(f))
                continue;
            EXPECT_TRUE(!b->text().isEmpty() || !b->icon().isNull())
                << b->objectName().toStdString();
            if (!b->text().isEmpty()) {
                EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text()))
                    << b->objectName().toStdString() << " cuts its caption";
            }
        }
    }
    // The pane takes what the window grows by.
    f->resize(850, 632);
    QCoreApplication::processEvents();
    const QSize small = ui(f).Memo_receive->size();
    f->resize(1000, 800);
    EXPECT_TRUE(
        trelmo::test::pumpUntil([&] { return ui(f).Memo_receive->height() > small.height(); }));
    EXPECT_GT(ui(f).Memo_receive->width(), small.width());
    f->close();
}

// The captions that tell the state of a link or a run, the port list, the limits of what the
// user types, and what runs at start.
TEST(MainWindow, StartsIdleWithTheCaptionsThatTellTheState) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    EXPECT_EQ(ui(f).Butt_connect->text(), "Connect to host");
    EXPECT_EQ(ui(f).BitBtn3->text(), "Listen on port");
    EXPECT_EQ(ui(f).BitBtn1->text(), "Send all commands with delay in ms");
    EXPECT_EQ(ui(f).Butt_additional->text(), "More >>");
    for (const TdsLed* led : {ui(f).led_TxD, ui(f).led_RxD, ui(f).led_RTS, ui(f).led_DTR})
        EXPECT_FALSE(led->LedOn()) << led->objectName().toStdString();
    EXPECT_TRUE(ui(f).Timer_Time->isActive());
    EXPECT_FALSE(ui(f).Timer_autoSend->isActive());

    // COM1..COM24 first, then whatever serial devices the machine has.
    QStringList ports;
    for (int i = 1; i <= 24; ++i)
        ports << QString("COM%1").arg(i);
    QStringList listed;
    for (int i = 0; i < std::min(24, ui(f).Combo_com->count()); ++i)
        listed << ui(f).Combo_com->itemText(i);
    EXPECT_EQ(listed, ports);

    // What the user types or pastes stops at 7, 15, 5 and 1024 characters; a longer text placed
    // by the program is kept whole.
    EXPECT_EQ(pastedLength(ui(f).Combo_speed->lineEdit()), 7);
    EXPECT_EQ(pastedLength(ui(f).Edit_ip), 15);
    EXPECT_EQ(pastedLength(ui(f).Edit_port), 5);
    EXPECT_EQ(pastedLength(ui(f).Edit_send->lineEdit()), 1024);
    ui(f).Edit_send->setEditText(QString(1500, QLatin1Char('a')));
    EXPECT_EQ(ui(f).Edit_send->currentText().size(), 1500);
    // The numbers stay within their ranges; the command delay is stepped, not typed.
    const std::pair<QSpinBox*, std::pair<int, int>> ranges[] = {
        {ui(f).UpDown_delay, {0, 200}},
        {ui(f).UD_ipTime, {10, 1000}},
        {ui(f).UpDown_delay_command, {0, 9990}}};
    for (const auto& [box, range] : ranges) {
        box->setValue(-100000);
        EXPECT_EQ(box->value(), range.first) << box->objectName().toStdString();
        box->setValue(100000);
        EXPECT_EQ(box->value(), range.second) << box->objectName().toStdString();
    }
    EXPECT_EQ(ui(f).Edit_delay, ui(f).UpDown_delay->findChild<QLineEdit*>());
    EXPECT_EQ(ui(f).Edit_ipTime, ui(f).UD_ipTime->findChild<QLineEdit*>());
    EXPECT_TRUE(ui(f).Edit_delay_command->isReadOnly());
    EXPECT_FALSE(ui(f).UpDown_delay_command->isReadOnly());
    ui(f).UpDown_delay_command->setValue(0);
    ui(f).UpDown_delay_command->stepUp();
    EXPECT_EQ(ui(f).Edit_delay_command->text(), "10");
}

// Each item of the menus and of the pane's popup is in its menu and does what its button does:
// the same dialog, the same link toggled, the same window shown.
TEST(MainWindow, MenuItemsDoWhatTheirButtonsDo) {
    TempDir dir;
    const trelmo::test::FixedClock clock(QDateTime(QDate(2026, 3, 9), QTime(14, 5, 9)));
    DialogRecorder recorder;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    const auto& c = ui(f);
    f->show();

    QList<QAction*> reachable = c.PopupMenu1->actions();
    for (QAction* bar : f->menuBar()->actions()) {
        if (bar->menu())
            reachable += bar->menu()->actions();
    }
    for (QAction* a : {c.Save1, c.SaveinBIN1, c.Print1, c.Exit1, c.Connecttoserial1, c.ConnecttCP1,
                       c.ListenTCP1, c.Opencommandfile1, c.Savecommands1, c.MBus1, c.About1,
                       c.Contents1, c.Clear1, c.Save2, c.SaveinBIN2}) {
        EXPECT_TRUE(reachable.contains(a)) << a->objectName().toStdString() << " in no menu";
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    }

    // The serial port opens and closes again; what it received is there to save.
    auto peer = trelmo::serial::sim::SimPeer::Create("menus");
    c.Combo_com->lineEdit()->selectAll();
    QTest::keyClicks(c.Combo_com->lineEdit(), peer->DeviceName());
    c.Connecttoserial1->trigger();
    ASSERT_TRUE(f->serialLink()->portOpen());
    ASSERT_TRUE(peer->Inject("AB\r\n"));
    EXPECT_TRUE(
        trelmo::test::pumpUntil([&] { return f->receivePath()->state().ReceivedCount == 4; }));
    c.Connecttoserial1->trigger();
    EXPECT_FALSE(f->serialLink()->portOpen());

    // The save dialogs write what the button's writes: the text log, the BIN file, the
    // command list (which no button saves), each a file of its own kind.
    c.Edit_send->addItem("a command");
    int saved = 0;
    const auto writtenBy = [&](const std::function<void()>& act) {
        const QString name = QStringLiteral("saved%1.txt").arg(++saved);
        recorder.saveAnswers = {dir.path(name)};
        act();
        return dir.read(name);
    };
    const QByteArray log = writtenBy([&] { c.BitBtn7->click(); });
    const QByteArray bin = writtenBy([&] { c.Button1->click(); });
    const QByteArray commands = writtenBy([&] { c.Savecommands1->trigger(); });
    ASSERT_FALSE(log.isEmpty());
    ASSERT_FALSE(bin.isEmpty());
    ASSERT_FALSE(commands.isEmpty());
    EXPECT_NE(log, bin);
    EXPECT_NE(commands, log);
    EXPECT_NE(commands, bin);
    EXPECT_EQ(writtenBy([&] { c.Save1->trigger(); }), log);
    EXPECT_EQ(writtenBy([&] { c.Save2->trigger(); }), log);
    EXPECT_EQ(writtenBy([&] { c.SaveinBIN1->trigger(); }), bin);
    EXPECT_EQ(writtenBy([&] { c.SaveinBIN2->trigger(); }), bin);
    c.BitBtn6->click();
    c.Opencommandfile1->trigger();
    ASSERT_EQ(recorder.openRequests.size(), 2u);
    EXPECT_TRUE(sameRequest(recorder.openRequests[1], recorder.openRequests[0]));
    c.Butt_print->click();
    c.Print1->trigger();
    EXPECT_EQ(recorder.printDialogs, 2);

    // The pane's Clear empties the pane as the clear button does.
    ASSERT_NE(c.Memo_receive->toPlainText(), "");
    c.Clear1->trigger();
    EXPECT_EQ(c.Memo_receive->toPlainText(), "");

    // The links: the client link and the listener open and close again.

    trelmo::test::Peer host;
    c.Edit_ip->setText("127.0.0.1");
    c.Edit_port->setText(QString::number(host.port()));
    c.ConnecttCP1->trigger();
    EXPECT_TRUE(trelmo::test::pumpUntil([&] { return f->tcpLinks()->tcpConnected(); }));
    EXPECT_EQ(c.Butt_connect->text(), "Disconnect TCP");
    c.ConnecttCP1->trigger();
    EXPECT_TRUE(
        trelmo::test::pumpUntil([&] { return c.Butt_connect->text() == "Connect to host"; }));
    EXPECT_FALSE(f->tcpLinks()->tcpConnected());

    c.Edit_port->setText(QString::number(trelmo::test::unusedPort()));
    c.ListenTCP1->trigger();
    EXPECT_EQ(c.BitBtn3->text(), "Close socket");
    c.ListenTCP1->trigger();
    EXPECT_EQ(c.BitBtn3->text(), "Listen on port");

    // The windows, and Contents, which has nothing to show.
    c.MBus1->trigger();
    EXPECT_TRUE(windows.form5()->isVisible());
    c.About1->trigger();
    EXPECT_TRUE(windows.form2()->isVisible());
    recorder.clear();
    c.Contents1->trigger();
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_TRUE(f->isVisible());
    windows.form2()->close();
    windows.form5()->close();
    f->close();
}

TEST(MainWindow, ClockPanelShowsTimeTwoBlanksAndDate) {
    TempDir dir;
    const QDateTime fixed(QDate(2026, 3, 9), QTime(14, 5, 9));
    trelmo::setClockOverride([fixed] { return fixed; });
    {
        Windows windows(dir.path("trelmo.ini"));
        TForm1* f = windows.form1();
        const QString time = trelmo::longTimeText(fixed.time());
        const QString date = trelmo::shortDateText(fixed.date());
        // The running timer fills the panel by itself.
        EXPECT_TRUE(trelmo::test::pumpUntil(
            [&] { return ui(f).StatusBar1Panel3->text() == time + "  " + date; }, 15000));
        EXPECT_EQ(ui(f).Label_Time->text(), time);
        EXPECT_EQ(ui(f).Label_Date->text(), date);
        EXPECT_TRUE(ui(f).StatusBar1Panel3->text().contains("14"));
        f->close();
    }
    trelmo::setClockOverride({});
}

TEST(MainWindow, ExitButtonAsksAndMenuExitDoesNot) {
    TempDir dir;
    DialogRecorder recorder;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    f->show();

    recorder.yesNoAnswers = {trelmo::MsgResult::No};
    ui(f).BitBtn8->click();
    ASSERT_EQ(recorder.messages.size(), 1u);
    const trelmo::MessageRequest& ask = recorder.messages[0];
    EXPECT_EQ(ask.text, "Are you sure you want to exit?");
    EXPECT_EQ(ask.title, "Exit Confirmation");
    EXPECT_EQ(ask.icon, trelmo::MsgIcon::Warning);
    EXPECT_EQ(ask.buttons, trelmo::MsgButtons::YesNo);
    EXPECT_EQ(ask.owner, f);
    EXPECT_TRUE(f->isVisible());
    EXPECT_FALSE(dir.exists("trelmo.ini"));  // nothing saved

    recorder.yesNoAnswers = {trelmo::MsgResult::Yes};
    ui(f).BitBtn8->click();
    EXPECT_EQ(recorder.messages.size(), 2u);
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(dir.exists("trelmo.ini"));  // closing saved the settings

    f->show();
    recorder.clear();
    ui(f).Exit1->trigger();
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_FALSE(f->isVisible());
}

TEST(MainWindow, MenuExitClosesAnOpenPortOnce) {
    TempDir dir;
    DialogRecorder recorder;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    f->show();
    int closes = 0;
    f->serialLink()->closePortHook = [&] {
        ++closes;
        f->serialLink()->disconnectPort();
    };
    auto peer = trelmo::serial::sim::SimPeer::Create("exit");
    f->serialLink()->toggle(peer->DeviceName(), QStringLiteral("9600"));
    ASSERT_TRUE(f->serialLink()->portOpen());
    ui(f).Exit1->trigger();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(recorder.messages.empty());
}

TEST(MainWindow, ByteTableWindowToggleAndCloseBox) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    TForm4* table = windows.form4();
    f->show();

    ui(f).Butt_additional->click();
    EXPECT_TRUE(table->isVisible());
    EXPECT_TRUE(f->tableShown());
    EXPECT_EQ(ui(f).Butt_additional->text(), "<< More");

    ui(f).Butt_additional->click();
    EXPECT_FALSE(table->isVisible());
    EXPECT_FALSE(f->tableShown());
    EXPECT_EQ(ui(f).Butt_additional->text(), "More >>");

    // The table window's own close box.
    ui(f).Butt_additional->click();
    ASSERT_TRUE(table->isVisible());
    table->close();
    EXPECT_FALSE(table->isVisible());
    EXPECT_FALSE(f->tableShown());
    EXPECT_EQ(ui(f).Butt_additional->text(), "More >>");
    ui(f).Butt_additional->click();
    EXPECT_TRUE(table->isVisible());
    EXPECT_EQ(ui(f).Butt_additional->text(), "<< More");
    f->close();
    table->close();
}

TEST(MainWindow, AboutAndMbusWindowsAreShownFromTheMainWindow) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    f->show();
    ui(f).BitBtn5->click();
    EXPECT_TRUE(windows.form2()->isVisible());
    windows.form2()->Button1->click();
    EXPECT_FALSE(windows.form2()->isVisible());
    ui(f).About1->trigger();
    EXPECT_TRUE(windows.form2()->isVisible());
    windows.form2()->close();

    EXPECT_FALSE(windows.form5()->isVisible());
    ui(f).MBus1->trigger();
    EXPECT_TRUE(windows.form5()->isVisible());
    windows.form5()->close();
    ui(f).Contents1->trigger();  // does nothing
    EXPECT_TRUE(f->isVisible());
    f->close();
}
