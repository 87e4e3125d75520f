// The windows as a newcomer meets them: they open inside the screen at any scale factor, their
// boxes, panels and columns show their longest texts whole in any style, the COM name box
// grows with the window, and the menus open with Alt and their underlined letter.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTemporaryFile>
#include <QTest>

#include "app/Windows.h"
#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"
#include "terminal/Terminal.h"
#include "tests/common/Captions.h"
#include "tests/common/Form1Ui.h"
#include "tests/common/OffscreenScreen.h"
#include "tests/common/Pump.h"
#include "tests/common/QtPrint.h"
#include "tests/common/TempDir.h"
#include "widgets/ByteGridView.h"
#include "widgets/ByteTableWindow.h"
#include "widgets/ScreenFit.h"

using namespace trelmo;
using trelmo::test::pumpUntil;
using trelmo::test::TempDir;
using trelmo::test::ui;

// ---- The place a window opens at ---------------------------------------------------------

TEST(FitToScreen, AWindowThatFitsStaysWhereItAsked) {
    const QRect area(0, 0, 1600, 1000);
    EXPECT_EQ(fitToScreen(QRect(375, 184, 850, 632), area), QRect(375, 184, 850, 632));
    EXPECT_EQ(fitToScreen(QRect(0, 0, 1600, 1000), area), QRect(0, 0, 1600, 1000));
}

TEST(FitToScreen, ALargerWindowShrinksToTheAreaAndMovesIntoIt) {
    // QT_SCALE_FACTOR=2 on a 1600 x 1000 screen: 800 x 500 logical pixels; the main window
    // centred on it asked for (-25, -66).
    EXPECT_EQ(fitToScreen(QRect(-25, -66, 850, 632), QRect(0, 0, 800, 500)), QRect(0, 0, 800, 500));
    // A free area that does not start at the corner (a panel on top, one on the left).
    EXPECT_EQ(fitToScreen(QRect(0, 0, 850, 632), QRect(64, 30, 736, 470)), QRect(64, 30, 736, 470));
    // Only the size that does not fit changes.
    EXPECT_EQ(fitToScreen(QRect(100, -50, 300, 2000), QRect(0, 0, 800, 500)),
              QRect(100, 0, 300, 500));
}

TEST(FitToScreen, AWindowPartlyOffTheAreaMovesInNoFurtherThanNeeded) {
    const QRect area(0, 0, 800, 500);
    EXPECT_EQ(fitToScreen(QRect(962, 124, 278, 630), area), QRect(522, 0, 278, 500));
    EXPECT_EQ(fitToScreen(QRect(700, 450, 200, 100), area), QRect(600, 400, 200, 100));
    EXPECT_EQ(fitToScreen(QRect(-30, 10, 200, 100), area), QRect(0, 10, 200, 100));
}

TEST(FitToScreen, TheFrameStaysInsideTheAreaToo) {
    // A title bar of 30 and borders of 4: the window less its frame is what is sized.
    const QMargins frame(4, 30, 4, 4);
    EXPECT_EQ(fitToScreen(QRect(0, 0, 850, 632), QRect(0, 0, 800, 500), frame),
              QRect(4, 30, 792, 466));
    EXPECT_EQ(fitToScreen(QRect(100, 100, 200, 100), QRect(0, 0, 800, 500), frame),
              QRect(100, 100, 200, 100));
    // An area that is empty (no screen) leaves the window as it asked.
    EXPECT_EQ(fitToScreen(QRect(10, 20, 30, 40), QRect()), QRect(10, 20, 30, 40));
}

// ---- Texts that fit --------------------------------------------------------------------------

namespace {

// The width a line edit draws its text in, as QLineEdit lays it out: its contents less the
// frame, the text margins and its inner margins of 2 pixels a side.
int textRoom(const QLineEdit* edit) {
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    opt.rect = edit->rect();
    opt.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    const QRect r = edit->style()
                        ->subElementRect(QStyle::SE_LineEditContents, &opt, edit)
                        .marginsRemoved(edit->textMargins());
    return r.width() - 2 * 2;
}

// The line edit shows `text` whole: its width with the cursor after it fits the text area,
// and once painted, the text is not scrolled (its first character is at the left).
void expectShowsWhole(QLineEdit* edit, const QString& text, const char* name) {
    SCOPED_TRACE(name);
    const QString kept = edit->text();
    edit->setText(text);
    edit->end(false);
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(text) + 1, textRoom(edit))
        << text.toStdString() << " in " << edit->width();
    edit->grab();  // a paint: the line edit scrolls its text there, when it must
    EXPECT_EQ(edit->cursorPositionAt(QPoint(edit->rect().left() + 4, edit->rect().center().y())), 0)
        << text.toStdString() << " scrolled";
    edit->setText(kept);
}

// A framed label shows `text` whole: the text after the indent a frame gives it fits the
// contents.
void expectShowsWhole(QLabel* panel, const QString& text, const char* name) {
    const QFontMetrics metrics = panel->fontMetrics();
    const int indent = panel->indent() >= 0      ? panel->indent()
                       : panel->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
    EXPECT_LE(metrics.horizontalAdvance(text) + indent, panel->contentsRect().width())
        << name << ": " << text.toStdString();
}

QLineEdit* editOf(QWidget* box) {
    return box->findChild<QLineEdit*>();
}

// What each box, panel and column of the main window and the byte table window is expected
// to show at the longest, shown whole.
void expectTextsFit(TForm1* main, TForm4* table) {
    auto& u = ui(main);
    const std::pair<QWidget*, QStringList> boxes[] = {
        {u.Combo_com, {"/dev/ttyUSB0", "COM24"}},
        {u.Combo_speed, {"115200", "921600", "4000000"}},
        {u.Combo_parity, {"None", "Even", "Odd", "Mark", "Space"}},
        {u.Combo_databits, {"5", "8"}},
        {u.Combo_stopbit, {"1", "2"}},
        {u.UpDown_delay, {"200"}},
        {u.Edit_ip, {"255.255.255.255"}},
        {u.Edit_port, {"65535"}},
        {u.UD_ipTime, {"1000"}},
        {u.UpDown_delay_command, {"9990"}}};
    for (const auto& [box, texts] : boxes) {
        auto* edit = qobject_cast<QLineEdit*>(box);
        if (!edit)
            edit = editOf(box);
        ASSERT_NE(edit, nullptr) << box->objectName().toStdString();
        for (const QString& text : texts)
            expectShowsWhole(edit, text, box->objectName().toLatin1().constData());
    }
    const std::pair<QLabel*, QStringList> panels[] = {
        {u.StatusBar1Panel0,
         {"/tmp/ux-a, 115200, 8, None, 1 - OPEN", "/dev/ttyUSB0, 921600, 8, Space, 2 - OPEN",
          "Connected to 255.255.255.255@65535"}},
        {u.StatusBar1Panel1, {"Last byte parity: None", "More than 10k bytes"}},
        {u.StatusBar1Panel2, {"Total send: 1234567   Total received: 7654321"}},
        // The clock, on a window narrower than it was designed for (a small screen) the
        // time alone: there the clock gives way first.
        {u.StatusBar1Panel3,
         {main->width() >= 850 ? u.StatusBar1Panel3->text()
                               : u.StatusBar1Panel3->text().section(QStringLiteral("  "), 0, 0)}}};
    for (const auto& [panel, texts] : panels) {
        for (const QString& text : texts)
            expectShowsWhole(panel, text, panel->objectName().toLatin1().constData());
    }

    // The byte table: every heading and every cell a byte can have, the number up to eight
    // digits, inside the rectangle the grid draws it in.
    ByteGridView* grid = table->StringGrid1;
    ByteStore bytes;
    for (int b = 0; b < 256; ++b) {
        bytes.append(uint8_t(b), true, LineParity::Even);
        bytes.append(uint8_t(b), false, LineParity::Odd);
    }
    const QFontMetrics metrics = grid->fontMetrics();
    for (int c = 0; c < ByteStore::ColumnCount; ++c) {
        const QRect cell(0, 0, grid->columnWidth(c), grid->rowHeight());
        const int fixedRoom = grid->textRect(cell, true).width();
        const int bodyRoom = grid->textRect(cell, c == 0).width();
        EXPECT_LE(metrics.horizontalAdvance(ByteTableModel::heading(c)), fixedRoom) << c;
        QStringList cells = {QStringLiteral("12345678"), QStringLiteral("99999999")};
        if (c > 0) {
            cells.clear();
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                const QString text = bytes.cellText(i, c);
                if (text.size() > 1 || (text.size() == 1 && text.front().isPrint()))
                    cells.append(text);
            }
        }
        for (const QString& text : cells)
            EXPECT_LE(metrics.horizontalAdvance(text), bodyRoom) << c << " " << text.toStdString();
        EXPECT_GE(grid->rowHeight(), metrics.height()) << c;
    }
    // The grid shows its columns beside its scroll bar.
    int columns = 0;
    for (int c = 0; c < ByteStore::ColumnCount; ++c)
        columns += grid->columnWidth(c);
    EXPECT_LE(columns, grid->viewport()->width());
}

// Shows the main window and waits until it is laid out at its size.
void showMain(TForm1* main) {
    main->show();
    ASSERT_TRUE(pumpUntil([&] { return main->isVisible() && main->windowHandle(); }));
    QApplication::processEvents();
}

}  // namespace

TEST(WindowTexts, BoxesPanelsAndColumnsShowTheirLongestTexts) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    showMain(windows.form1());
    windows.form4()->show();
    expectTextsFit(windows.form1(), windows.form4());
}

TEST(WindowTexts, TheComNameBoxGrowsWithTheWindow) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* main = windows.form1();
    showMain(main);
    QComboBox* names = ui(main).Combo_com;
    const int narrow = names->width();
    const QString byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5XK3RJT-if00-port0";

    main->resize(1400, main->height());
    ASSERT_TRUE(pumpUntil([&] { return names->width() > narrow; }));
    // The window's extra width goes to the box: a by-id name is readable.
    EXPECT_GE(names->width(), narrow + (1400 - 850) - 10);
    expectShowsWhole(names->lineEdit(), byId, "Combo_com at 1400");
    // The boxes after it keep their widths and order.
    auto& u = ui(main);
    EXPECT_LT(names->geometry().right(), u.Combo_speed->x());
    EXPECT_LT(u.Combo_speed->geometry().right(), u.Combo_parity->x());
    EXPECT_LT(u.UpDown_delay->geometry().right(), u.BitBtn2->x());

    main->resize(850, main->height());
    ASSERT_TRUE(pumpUntil([&] { return names->width() == narrow; }));
}

// ---- Other screens, scale factors and styles, each in a process of its own ------------------

// Runs in a child process started by the test below (skipped in a plain run): the windows as
// they open on the screen, scale factor and style the child was started with.
TEST(WindowsOnThisScreen, OpenInsideTheScreenWithTheirTextsWhole) {
    if (qEnvironmentVariableIsEmpty("TRELMO_LAYOUT_CHILD"))
        GTEST_SKIP() << "run by WindowsOnOtherScreens in a process of its own";
    if (!qEnvironmentVariableIsEmpty("TRELMO_LAYOUT_DARK")) {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(60, 60, 64));
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);
    }
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* main = windows.form1();
    const QRect area = main->screen()->availableGeometry();
    showMain(main);
    windows.form4()->show();
    ASSERT_TRUE(pumpUntil([&] { return windows.form4()->windowHandle() != nullptr; }));
    QApplication::processEvents();

    // Never beyond the screen's free area, the frame included (known once shown); the
    // designed size where the screen has room for it, in the middle (give or take the frame,
    // whose corner is placed).
    auto where = [](const QWidget* w) {
        const QRect r = w->frameGeometry();
        return testing::Message() << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
                                  << " on " << w->screen()->availableGeometry().width() << "x"
                                  << w->screen()->availableGeometry().height();
    };
    EXPECT_TRUE(pumpUntil([&] { return area.contains(main->frameGeometry()); })) << where(main);
    EXPECT_TRUE(pumpUntil([&] { return area.contains(windows.form4()->frameGeometry()); }))
        << where(windows.form4());
    const QRect outer = main->frameGeometry();
    const QRect inner = main->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const QSize designed(850, 632);
    EXPECT_EQ(main->size(), designed.boundedTo(area.size().shrunkBy(frame))) << where(main);
    if (area.width() >= designed.width() && area.height() >= designed.height()) {
        EXPECT_LE((main->geometry().center() - area.center()).manhattanLength(), 8);
    }
    QApplication::processEvents();
    expectTextsFit(main, windows.form4());
}

namespace {

struct ScreenCase {
    const char* scale;
    const char* style;
    bool dark;
};

}  // namespace

TEST(WindowsOnOtherScreens, OpenInsideTheScreenWithTheirTextsWhole) {
    // A 1600 x 1000 screen: at scale 2 only 800 x 500 logical pixels, less than the main
    // window's 850 x 632.
    QTemporaryFile screen;
    const QByteArray platform = trelmo::test::offscreenPlatform(screen, QSize(1600, 1000));
    ASSERT_NE(platform, "offscreen");
    const ScreenCase cases[] = {{"1", "Fusion", false}, {"1.5", "Fusion", false},
                                {"2", "Fusion", false}, {"1", "Fusion", true},
                                {"2", "Fusion", true},  {"1", "Windows", false},
                                {"2", "Windows", false}};
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "scale " << c.scale << ", " << c.style << (c.dark ? ", dark" : ""));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", QString::fromLocal8Bit(platform));
        env.insert("QT_SCALE_FACTOR", c.scale);
        env.insert("QT_STYLE_OVERRIDE", c.style);
        env.insert("TRELMO_LAYOUT_CHILD", "1");
        // The child runs its one test whole, whatever shard of the suite this process is.
        for (const char* shard :
             {"GTEST_SHARD_INDEX", "GTEST_TOTAL_SHARDS", "GTEST_SHARD_STATUS_FILE"})
            env.remove(shard);
        if (c.dark)
            env.insert("TRELMO_LAYOUT_DARK", "1");
        else
            env.remove("TRELMO_LAYOUT_DARK");
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=WindowsOnThisScreen.*"});
        ASSERT_TRUE(child.waitForFinished(300000));
        const QString out = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test.")) << out.toStdString();
        EXPECT_FALSE(out.contains("SKIPPED")) << out.toStdString();
    }
}

// ---- Menus with mnemonics ----------------------------------------------------------------------

TEST(MenuMnemonics, AltFOpensTheFileMenuAndTypesNothing) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    TForm1* main = windows.form1();
    showMain(main);
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    auto& u = ui(main);
    u.Edit_send->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return u.Edit_send->hasFocus(); }));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(pumpUntil([&] { return u.File1->isVisible(); }));
    EXPECT_EQ(u.Edit_send->currentText(), "");
    QTest::keyClick(u.File1, Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return !u.File1->isVisible(); }));

    // Alt+H, then the underlined letter of "About".
    QSignalSpy about(u.About1, &QAction::triggered);
    QTest::keyClick(main, Qt::Key_H, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([&] { return u.Help1->isVisible(); }));
    QTest::keyClick(u.Help1, Qt::Key_A);
    EXPECT_TRUE(pumpUntil([&] { return about.count() == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return windows.form2()->isVisible(); }));
    windows.form2()->close();
    EXPECT_EQ(u.Edit_send->currentText(), "");
}

TEST(MenuMnemonics, EachMenuAndItemHasItsOwnLetterAndItsCaption) {
    TempDir dir;
    Windows windows(dir.path("trelmo.ini"));
    QMenuBar* bar = windows.form1()->menuBar();
    QList<QKeySequence> menuKeys;
    for (QAction* menu : bar->actions()) {
        const QKeySequence key = QKeySequence::mnemonic(menu->text());
        EXPECT_FALSE(key.isEmpty()) << menu->text().toStdString();
        EXPECT_FALSE(menuKeys.contains(key)) << menu->text().toStdString();
        menuKeys.append(key);
        QList<QKeySequence> itemKeys;
        for (QAction* item : menu->menu()->actions()) {
            if (item->isSeparator())
                continue;
            const QKeySequence itemKey = QKeySequence::mnemonic(item->text());
            EXPECT_FALSE(itemKey.isEmpty()) << item->text().toStdString();
            EXPECT_FALSE(itemKeys.contains(itemKey)) << item->text().toStdString();
            itemKeys.append(itemKey);
        }
    }
    EXPECT_EQ(menuKeys, QList<QKeySequence>({QKeySequence(Qt::ALT | Qt::Key_F),
                                             QKeySequence(Qt::ALT | Qt::Key_T),
                                             QKeySequence(Qt::ALT | Qt::Key_H)}));
    // The captions as shown are the program's own.
    EXPECT_EQ(trelmo::test::shownCaption(ui(windows.form1()).Connecttoserial1->text()),
              "Connect to serial ");
    EXPECT_EQ(trelmo::test::shownCaption(ui(windows.form1()).MBus1->text()), "M-Bus");
}
