// The program's windows as created at start-up, the main window's controls, its exit flows,
// its clock and the byte table and About windows reached from it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <QWindow>

#include "app/Windows.h"
#include "core/LocaleText.h"
#include "serial/SimDevice.h"
#include "terminal/ReceivePaneView.h"
#include "tests/common/Captions.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Form1Ui.h"
#include "tests/common/Pump.h"
#include "tests/common/QtPrint.h"
#include "tests/common/TempDir.h"
#include "widgets/dsLeds.h"

using namespace trelmo;
using trelmo::test::ui;

using trelmo::test::DialogRecorder;
using trelmo::test::TempDir;

namespace {

template <typename T>
T* child(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The captions of a menu's items as shown (without mnemonic marks).
QStringList actionTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << trelmo::test::shownCaption(a->text());
    return out;
}

QStringList actionNames(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << a->objectName();
    return out;
}

QStringList items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

}  // namespace

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

}  // namespace

TEST(MainWindow, ControlsCarryTheirCaptionsHintsAndLimits) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    QWidget* f = windows.form1();

    QStringList ports;
    for (int i = 1; i <= 24; ++i)
        ports << QString("COM%1").arg(i);
    // COM1..COM24 first, then whatever serial devices the machine has.
    EXPECT_EQ(items(child<QComboBox>(f, "Combo_com")).mid(0, 24), ports);
    auto* speed = child<QComboBox>(f, "Combo_speed");
    EXPECT_EQ(items(speed),
              QStringList({"300", "600", "1200", "2400", "4800", "9600", "19200", "28800", "33600",
                           "38400", "57600", "115200", "230400", "460800", "921600"}));
    EXPECT_EQ(pastedLength(speed->lineEdit()), 7);
    EXPECT_TRUE(speed->isEditable());
    EXPECT_EQ(items(child<QComboBox>(f, "Combo_parity")),
              QStringList({"None", "Even", "Odd", "Mark", "Space"}));
    EXPECT_EQ(items(child<QComboBox>(f, "Combo_databits")), QStringList({"7", "8"}));
    EXPECT_EQ(items(child<QComboBox>(f, "Combo_stopbit")), QStringList({"1", "2"}));

    auto* delay = child<QSpinBox>(f, "UpDown_delay");
    EXPECT_EQ(delay->minimum(), 0);
    EXPECT_EQ(delay->maximum(), 200);
    EXPECT_EQ(child<QLineEdit>(f, "Edit_delay"), delay->findChild<QLineEdit*>());
    auto* ipTime = child<QSpinBox>(f, "UD_ipTime");
    EXPECT_EQ(ipTime->minimum(), 10);
    EXPECT_EQ(ipTime->maximum(), 1000);
    EXPECT_EQ(child<QLineEdit>(f, "Edit_ipTime"), ipTime->findChild<QLineEdit*>());
    auto* cmdDelay = child<QSpinBox>(f, "UpDown_delay_command");
    EXPECT_EQ(cmdDelay->minimum(), 0);
    EXPECT_EQ(cmdDelay->maximum(), 9990);
    EXPECT_EQ(cmdDelay->singleStep(), 10);
    // Only the number is read-only: the arrows step it.
    EXPECT_FALSE(cmdDelay->isReadOnly());
    EXPECT_TRUE(child<QLineEdit>(f, "Edit_delay_command")->isReadOnly());
    EXPECT_EQ(child<QLineEdit>(f, "Edit_delay_command")->text(), "0");

    // What the user types or pastes stops at 15, 5 and 1024 characters; a longer text placed
    // by the program is kept whole.
    EXPECT_EQ(pastedLength(child<QLineEdit>(f, "Edit_ip")), 15);
    EXPECT_EQ(pastedLength(child<QLineEdit>(f, "Edit_port")), 5);
    auto* send = child<QComboBox>(f, "Edit_send");
    EXPECT_TRUE(send->isEditable());
    EXPECT_EQ(pastedLength(send->lineEdit()), 1024);
    send->setEditText(QString(1500, QLatin1Char('a')));
    EXPECT_EQ(send->currentText().size(), 1500);

    const std::pair<const char*, const char*> hints[] = {
        {"Butt_Clear", "Clear received"}, {"BitBtn7", "Save data to file"},
        {"Butt_print", "Print data"},     {"BitBtn2", "Connect/disconnect to serial port"},
        {"BitBtn6", "Open command file"}, {"BitBtn5", "About the program"},
        {"BitBtn8", "Exit program"}};
    for (const auto& [name, hint] : hints) {
        auto* b = child<QToolButton>(f, name);
        EXPECT_EQ(b->toolTip(), hint) << name;
        EXPECT_FALSE(b->icon().isNull()) << name;
    }

    const std::pair<const char*, const char*> checks[] = {{"Check_Rts", "Control RTS"},
                                                          {"Check_dtr", "Control DTR"},
                                                          {"CheckBox1", "Set RTS"},
                                                          {"CheckBox2", "Set DTR"},
                                                          {"Check_hex", "Show incoming in Hex"},
                                                          {"Check_crc", "CRC"},
                                                          {"Check_crc16", "CRC16"}};
    for (const auto& [name, text] : checks)
        EXPECT_EQ(child<QCheckBox>(f, name)->text(), text);
    EXPECT_TRUE(child<QCheckBox>(f, "Check_crc")->isHidden());
    EXPECT_TRUE(child<QCheckBox>(f, "Check_crc16")->isHidden());
    EXPECT_FALSE(child<QCheckBox>(f, "Check_hex")->isHidden());

    const std::pair<const char*, const char*> buttons[] = {
        {"Butt_connect", "Connect to host"},
        {"BitBtn3", "Listen on port"},
        {"Butt_additional", "More >>"},
        {"BitBtn4", "Send current command only"},
        {"BitBtn1", "Send all commands with delay in ms"},
        {"Button1", "Save in bin"}};
    for (const auto& [name, text] : buttons)
        EXPECT_EQ(child<QPushButton>(f, name)->text(), text);
    EXPECT_TRUE(child<QPushButton>(f, "Button1")->isHidden());

    for (const char* name : {"Label_com_status", "Label_rec", "Label_send", "Lab_Parity",
                             "Label_Time", "Label_Date", "lab_crc"})
        EXPECT_TRUE(child<QLabel>(f, name)->isHidden()) << name;
    EXPECT_EQ(child<QLabel>(f, "Label_send")->text(), "Total send:");
    EXPECT_TRUE(child<QPlainTextEdit>(f, "Memo1")->isHidden());
    EXPECT_TRUE(child<QPlainTextEdit>(f, "Memo2")->isHidden());

    for (const char* name : {"led_TxD", "led_RxD", "led_RTS", "led_DTR", "led_RI"}) {
        auto* led = child<TdsLed>(f, name);
        EXPECT_EQ(led->size(), QSize(9, 9)) << name;
        EXPECT_EQ(led->OnColor(), clRed) << name;
        EXPECT_EQ(led->OffColor(), clSilver) << name;
        EXPECT_EQ(led->Shape(), TdsLedShape::ltEllipse) << name;
        EXPECT_FALSE(led->LedOn()) << name;
    }
    EXPECT_TRUE(child<TdsLed>(f, "led_RI")->isHidden());
    EXPECT_FALSE(child<TdsLed>(f, "led_TxD")->isHidden());
}

TEST(MainWindow, ReceivePaneStatusBarMenusAndTimers) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* f = windows.form1();
    f->show();

    // A read-only view of the pane's lines; long lines scroll sideways (no wrapping).
    auto* memo = child<trelmo::ReceivePaneView>(f, "Memo_receive");
    EXPECT_EQ(memo->model(), (&f->receivePath()->pane()));
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->font().family(), "Arial");
    EXPECT_EQ(memo->font().pointSize(), 9);
    EXPECT_EQ(memo->toPlainText(), "");
    EXPECT_EQ(actionTexts(ui(f).PopupMenu1),
              QStringList({"Clear", "Save", "Save in BIN", "Find\u2026"}));
    EXPECT_EQ(actionNames(ui(f).PopupMenu1),
              QStringList({"Clear1", "Save2", "SaveinBIN2", "Action_find"}));
    // The pane grows with the window.
    const QSize before = memo->size();
    f->resize(1000, 800);
    EXPECT_TRUE(trelmo::test::pumpUntil([&] { return memo->height() > before.height(); }));
    EXPECT_GT(memo->width(), before.width());

    auto* bar = child<QStatusBar>(f, "StatusBar1");
    int lastX = -1;
    for (int i = 0; i < 4; ++i) {
        auto* p = bar->findChild<QLabel*>(QString("StatusBar1Panel%1").arg(i));
        ASSERT_NE(p, nullptr) << i;
        EXPECT_EQ(p, ui(f).panel(i));
        if (i < 3) {
            // Of a fixed width (sized for its longest text: layout_test), so a new text asks
            // no layout of the bar.
            EXPECT_EQ(p->minimumWidth(), p->maximumWidth()) << i;
            EXPECT_EQ(p->width(), p->minimumWidth()) << i;
        }
        EXPECT_GT(p->x(), lastX);  // left to right
        lastX = p->x();
    }
    EXPECT_GE(ui(f).StatusBar1Panel3->width(), 50);

    QList<QMenu*> menus;
    for (QAction* a : f->menuBar()->actions())
        menus << a->menu();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(trelmo::test::shownCaption(menus[0]->title()), "File");
    EXPECT_EQ(actionTexts(menus[0]),
              QStringList({"Save file", "Save in BIN", QString::fromUtf8("Log to file\u2026"),
                           "Print", "Exit"}));
    EXPECT_EQ(actionNames(menus[0]),
              QStringList({"Save1", "SaveinBIN1", "Action_log", "Print1", "Exit1"}));
    EXPECT_EQ(trelmo::test::shownCaption(menus[1]->title()), "Tools");
    EXPECT_EQ(actionTexts(menus[1]).mid(0, 6),
              QStringList({"Connect to serial ", "Connect TCP", "Listen TCP", "Open command file",
                           "Save commands", "M-Bus"}));
    EXPECT_EQ(actionNames(menus[1]).mid(0, 6),
              QStringList({"Connecttoserial1", "ConnecttCP1", "ListenTCP1", "Opencommandfile1",
                           "Savecommands1", "MBus1"}));
    EXPECT_EQ(trelmo::test::shownCaption(menus[2]->title()), "Help");
    EXPECT_EQ(actionTexts(menus[2]), QStringList({"About", "Contents"}));
    EXPECT_EQ(actionNames(menus[2]), QStringList({"About1", "Contents1"}));

    EXPECT_EQ(ui(f).Timer_Time->interval(), 1000);
    EXPECT_TRUE(ui(f).Timer_Time->isActive());
    EXPECT_FALSE(ui(f).Timer_autoSend->isActive());
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
