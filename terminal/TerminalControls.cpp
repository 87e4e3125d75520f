#include "terminal/TerminalControls.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "terminal/PortList.h"
#include "terminal/ReceivePaneView.h"
#include "widgets/FramePacer.h"
#include "widgets/dsLeds.h"

namespace trelmo {
namespace {

constexpr int kFormWidth = 850;
constexpr int kFormHeight = 632;
constexpr int kTopHeight = 128;

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, const char* name) {
    auto* l = named(new QLabel(text, parent), name);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items, int x, int y, int w) {
    auto* c = named(new QComboBox(parent), name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    c->setEditText(QString());
    c->setGeometry(x, y, w, 22);
    return c;
}

// A spin box standing for an edit with its up-down: the box carries the up-down's name,
// its line edit the edit's name.
QSpinBox* upDown(QWidget* parent, const char* upDownName, const char* editName, int min, int max,
                 int step, int value, QLineEdit** edit) {
    auto* s = named(new QSpinBox(parent), upDownName);
    s->setRange(min, max);
    s->setSingleStep(step);
    s->setValue(value);
    *edit = s->findChild<QLineEdit*>();
    (*edit)->setObjectName(QString::fromLatin1(editName));
    return s;
}

enum class Glyph { Clear, Save, Print, Connect, Open, About, Exit };

// The small pictures of the glyph buttons, drawn here so nothing else is needed.
QIcon glyph(Glyph kind) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    switch (kind) {
        case Glyph::Clear:  // an eraser
            p.setPen(QPen(QColor(120, 40, 40), 1));
            p.setBrush(QColor(230, 120, 120));
            p.drawPolygon(QPolygon({{2, 10}, {9, 3}, {14, 8}, {7, 15}}));
            p.setBrush(Qt::white);
            p.drawPolygon(QPolygon({{2, 10}, {5, 7}, {10, 12}, {7, 15}}));
            break;
        case Glyph::Save:  // a floppy disk
            p.setPen(QPen(QColor(20, 40, 90), 1));
            p.setBrush(QColor(50, 90, 170));
            p.drawRect(2, 2, 12, 12);
            p.setBrush(Qt::white);
            p.drawRect(4, 2, 8, 5);
            p.setBrush(QColor(200, 200, 200));
            p.drawRect(5, 10, 6, 4);
            break;
        case Glyph::Print:  // a printer with its sheet
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            p.drawRect(4, 1, 8, 6);
            p.setBrush(QColor(150, 150, 150));
            p.drawRect(1, 7, 14, 6);
            p.setBrush(Qt::white);
            p.drawRect(4, 11, 8, 4);
            break;
        case Glyph::Connect:  // a plug
            p.setPen(QPen(QColor(30, 110, 30), 2));
            p.drawLine(1, 8, 6, 8);
            p.drawLine(10, 8, 15, 8);
            p.setBrush(QColor(60, 170, 60));
            p.drawRect(5, 4, 5, 8);
            break;
        case Glyph::Open:  // an open folder
            p.setPen(QPen(QColor(120, 90, 10), 1));
            p.setBrush(QColor(240, 200, 80));
            p.drawRect(1, 4, 13, 10);
            p.setBrush(QColor(250, 225, 130));
            p.drawPolygon(QPolygon({{3, 7}, {15, 7}, {13, 14}, {1, 14}}));
            break;
        case Glyph::About:  // an "i" in a blue disc
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 90, 200));
            p.drawEllipse(1, 1, 14, 14);
            p.setBrush(Qt::white);
            p.drawRect(7, 7, 2, 6);
            p.drawEllipse(7, 3, 2, 2);
            break;
        case Glyph::Exit:  // a red door mark
            p.setPen(QPen(QColor(180, 20, 20), 2));
            p.drawLine(3, 3, 13, 13);
            p.drawLine(13, 3, 3, 13);
            break;
    }
    p.end();
    return QIcon(pm);
}

QToolButton* glyphButton(QWidget* parent, const char* name, Glyph kind, const QString& hint, int x,
                         int y) {
    auto* b = named(new QToolButton(parent), name);
    b->setIcon(glyph(kind));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(hint);
    b->setGeometry(x, y, 28, 28);
    return b;
}

// A status bar panel: a label whose size does not depend on its text, so the counters it
// shows for every received block never make the status bar measure its texts.
class StatusPanel : public QLabel {
  public:
    using QLabel::QLabel;
    QSize sizeHint() const override {
        const QMargins m = contentsMargins();
        return QSize(minimumWidth(), fontMetrics().height() + m.top() + m.bottom() + 2 * margin());
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

// The log panel: the log file's name and size while logging, hidden otherwise. It takes the room
// the clock panel leaves and, where that is short, elides the start of its text so the size (and
// what waits for the disk) stays in view; while it shows, the clock panel keeps the width of its
// whole text.
class LogPanel : public QLabel {
  public:
    LogPanel(QLabel* clock, QWidget* parent) : QLabel(parent), clock_(clock) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    QSize minimumSizeHint() const override {
        return QSize(40, fontMetrics().height() + 2 * frameWidth() + 2 * margin());
    }

  protected:
    void showEvent(QShowEvent* event) override {
        clockMinimum_ = clock_->minimumWidth();
        const int whole = clock_->fontMetrics().horizontalAdvance(clock_->text()) +
                          2 * clock_->frameWidth() + 2 * clock_->margin() + 4;
        clock_->setMinimumWidth(std::max(clockMinimum_, whole));
        QLabel::showEvent(event);
    }
    void hideEvent(QHideEvent* event) override {
        if (clockMinimum_ >= 0)
            clock_->setMinimumWidth(clockMinimum_);
        QLabel::hideEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawFrame(&p);
        const QRect room = contentsRect().adjusted(3, 0, -3, 0);
        p.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideLeft, room.width()));
    }

  private:
    QLabel* clock_;
    int clockMinimum_ = -1;
};

TdsLed* lamp(QWidget* parent, const char* name, int x, int y) {
    auto* led = named(new TdsLed(parent), name);
    led->setGeometry(x, y, 9, 9);
    led->setBevel(TdsLedBevel::blNone);
    led->setShape(TdsLedShape::ltEllipse);
    led->setOnColor(clRed);
    led->setOffColor(clSilver);
    led->setStyle(TdsLedStyle::lsStandard);
    return led;
}

QCheckBox* check(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* c = named(new QCheckBox(text, parent), name);
    c->move(x, y);
    c->adjustSize();
    return c;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setGeometry(x, y, w, 25);
    return b;
}

void buildSerialArea(TerminalControls& ui, QWidget* top) {
    label(top, QStringLiteral("COM name"), 8, 4, "Label1");
    // COM1..COM24, then the serial devices present whenever the list is opened.
    auto* ports = named(new PortComboBox(top), "Combo_com");
    ports->setGeometry(8, 20, 81, 22);
    ui.Combo_com = ports;

    label(top, QStringLiteral("COM speed"), 100, 4, "Label2");
    ui.Combo_speed = combo(top, "Combo_speed",
                           {"300", "600", "1200", "2400", "4800", "9600", "19200", "28800", "33600",
                            "38400", "57600", "115200", "230400", "460800", "921600"},
                           100, 20, 81);
    ui.Combo_speed->lineEdit()->setMaxLength(7);

    label(top, QStringLiteral("Parity"), 192, 4, "Label3");
    ui.Combo_parity =
        combo(top, "Combo_parity", {"None", "Even", "Odd", "Mark", "Space"}, 192, 20, 70);

    label(top, QStringLiteral("Data Bits"), 274, 4, "Label4");
    ui.Combo_databits = combo(top, "Combo_databits", {"7", "8"}, 274, 20, 60);

    label(top, QStringLiteral("Stop bits"), 346, 4, "Label5");
    ui.Combo_stopbit = combo(top, "Combo_stopbit", {"1", "2"}, 346, 20, 60);

    label(top, QStringLiteral("Timeout, ms"), 418, 4, "Label6");
    ui.UpDown_delay = upDown(top, "UpDown_delay", "Edit_delay", 0, 200, 1, 0, &ui.Edit_delay);
    ui.UpDown_delay->setGeometry(418, 20, 70, 22);
}

void buildButtons(TerminalControls& ui, QWidget* top) {
    ui.BitBtn2 =
        glyphButton(top, "BitBtn2", Glyph::Connect, "Connect/disconnect to serial port", 504, 16);
    ui.Butt_Clear = glyphButton(top, "Butt_Clear", Glyph::Clear, "Clear received", 540, 16);
    ui.BitBtn7 = glyphButton(top, "BitBtn7", Glyph::Save, "Save data to file", 572, 16);
    ui.Butt_print = glyphButton(top, "Butt_print", Glyph::Print, "Print data", 604, 16);
    ui.BitBtn6 = glyphButton(top, "BitBtn6", Glyph::Open, "Open command file", 640, 16);
    ui.BitBtn5 = glyphButton(top, "BitBtn5", Glyph::About, "About the program", 676, 16);
    ui.BitBtn8 = glyphButton(top, "BitBtn8", Glyph::Exit, "Exit program", 708, 16);
}

void buildLineArea(TerminalControls& ui, QWidget* top) {
    const int y = 54;
    ui.led_TxD = lamp(top, "led_TxD", 8, y + 4);
    label(top, QStringLiteral("TxD"), 20, y, "Label_TxD");
    ui.led_RxD = lamp(top, "led_RxD", 52, y + 4);
    label(top, QStringLiteral("RxD"), 64, y, "Label_RxD");
    ui.led_RTS = lamp(top, "led_RTS", 96, y + 4);
    label(top, QStringLiteral("RTS"), 108, y, "Label_RTS");
    ui.led_DTR = lamp(top, "led_DTR", 140, y + 4);
    label(top, QStringLiteral("DTR"), 152, y, "Label_DTR");
    ui.led_RI = lamp(top, "led_RI", 184, y + 4);
    QLabel* riLabel = label(top, QStringLiteral("RI"), 196, y, "Label_RI");
    ui.led_RI->hide();
    riLabel->hide();

    ui.Check_Rts = check(top, "Check_Rts", QStringLiteral("Control RTS"), 230, y - 2);
    ui.Check_dtr = check(top, "Check_dtr", QStringLiteral("Control DTR"), 330, y - 2);
    ui.CheckBox1 = check(top, "CheckBox1", QStringLiteral("Set RTS"), 430, y - 2);
    ui.CheckBox2 = check(top, "CheckBox2", QStringLiteral("Set DTR"), 510, y - 2);
    ui.Check_hex = check(top, "Check_hex", QStringLiteral("Show incoming in Hex"), 590, y - 2);
    ui.Check_crc = check(top, "Check_crc", QStringLiteral("CRC"), 740, y - 2);
    ui.Check_crc16 = check(top, "Check_crc16", QStringLiteral("CRC16"), 790, y - 2);
    ui.Check_crc->hide();
    ui.Check_crc16->hide();
    ui.lab_crc = label(top, QStringLiteral("CRC: "), 765, y, "lab_crc");
    // Wide enough for the sum it shows ("CRC: 0xFF"), not only for its first text.
    ui.lab_crc->resize(ui.lab_crc->fontMetrics().horizontalAdvance(QStringLiteral("CRC: 0xWW")) + 4,
                       ui.lab_crc->height());
    ui.lab_crc->hide();
}

void buildTcpArea(TerminalControls& ui, QWidget* top) {
    label(top, QStringLiteral("Remote IP number"), 8, 80, "Label7");
    ui.Edit_ip = named(new QLineEdit(top), "Edit_ip");
    ui.Edit_ip->setMaxLength(15);
    ui.Edit_ip->setGeometry(8, 96, 105, 22);

    label(top, QStringLiteral("Port"), 132, 80, "Label8");
    ui.Edit_port = named(new QLineEdit(top), "Edit_port");
    ui.Edit_port->setMaxLength(5);
    ui.Edit_port->setGeometry(132, 96, 56, 22);

    label(top, QStringLiteral("Connect timeout"), 200, 80, "Label9");
    ui.UD_ipTime = upDown(top, "UD_ipTime", "Edit_ipTime", 10, 1000, 1, 10, &ui.Edit_ipTime);
    ui.UD_ipTime->setGeometry(200, 96, 70, 22);
    label(top, QStringLiteral("x10ms"), 276, 100, "Label10");

    ui.Butt_connect = button(top, "Butt_connect", QStringLiteral("Connect to host"), 330, 94, 120);
    ui.BitBtn3 = button(top, "BitBtn3", QStringLiteral("Listen on port"), 456, 94, 120);
    ui.Butt_additional = button(top, "Butt_additional", QStringLiteral("More >>"), 582, 94, 90);
}

// The line ending appended to each command: "None" leaves the command as typed.
void buildLineEnding(TerminalControls& ui, QWidget* bar, QHBoxLayout* row) {
    ui.Combo_eol = named(new QComboBox(bar), "Combo_eol");
    ui.Combo_eol->addItems({QStringLiteral("None"), QStringLiteral("CR"), QStringLiteral("LF"),
                            QStringLiteral("CR+LF")});
    ui.Combo_eol->setToolTip(QStringLiteral("Line ending appended to each command sent"));
    row->addWidget(ui.Combo_eol);
}

// "Repeat every" N ms: the command line sent again and again, with the count of sends.
void buildRepeat(TerminalControls& ui, QWidget* bar, QHBoxLayout* row) {
    ui.Check_repeat = named(new QCheckBox(QStringLiteral("Repeat every"), bar), "Check_repeat");
    row->addWidget(ui.Check_repeat);
    ui.Edit_repeat = named(new QSpinBox(bar), "Edit_repeat");
    ui.Edit_repeat->setRange(10, 3600000);
    ui.Edit_repeat->setSingleStep(100);
    ui.Edit_repeat->setValue(1000);
    ui.Edit_repeat->setSuffix(QStringLiteral(" ms"));
    row->addWidget(ui.Edit_repeat);
    ui.Label_repeat = named(new QLabel(bar), "Label_repeat");
    ui.Label_repeat->setToolTip(QStringLiteral("Commands sent by the repeat"));
    row->addWidget(ui.Label_repeat);
}

// The options of long sessions, after the Tools menu's own items.
void buildSessionMenus(TerminalControls& ui, QMainWindow* window) {
    ui.Tools1->addSeparator();
    ui.Action_reopen = named(new QAction(QStringLiteral("Reopen the port when it returns"), window),
                             "Action_reopen");
    ui.Action_reopen->setCheckable(true);
    ui.Tools1->addAction(ui.Action_reopen);
    ui.Action_keepHistory = named(new QAction(QStringLiteral("Keep the command history"), window),
                                  "Action_keepHistory");
    ui.Action_keepHistory->setCheckable(true);
    ui.Tools1->addAction(ui.Action_keepHistory);
}

QWidget* buildCommandLine(TerminalControls& ui, QMainWindow* window) {
    auto* bar = named(new QWidget(window), "Panel_send");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 0, 8, 4);
    ui.Edit_send = named(new QComboBox(bar), "Edit_send");
    ui.Edit_send->setEditable(true);
    ui.Edit_send->setInsertPolicy(QComboBox::NoInsert);
    ui.Edit_send->lineEdit()->setMaxLength(1024);
    ui.Edit_send->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(ui.Edit_send, 1);
    buildLineEnding(ui, bar, row);
    ui.BitBtn4 =
        named(new QPushButton(QStringLiteral("Send current command only"), bar), "BitBtn4");
    row->addWidget(ui.BitBtn4);
    buildRepeat(ui, bar, row);
    ui.BitBtn1 = named(new QPushButton(QStringLiteral("Send all commands with delay in ms"), bar),
                       "BitBtn1");
    row->addWidget(ui.BitBtn1);
    ui.UpDown_delay_command = upDown(bar, "UpDown_delay_command", "Edit_delay_command", 0, 9990, 10,
                                     0, &ui.Edit_delay_command);
    // Only the number is read-only: the arrows, keys and wheel step it by 10.
    ui.Edit_delay_command->setReadOnly(true);
    ui.UpDown_delay_command->setFixedWidth(65);
    row->addWidget(ui.UpDown_delay_command);
    row->addWidget(named(new QLabel(QStringLiteral("ms"), bar), "Label11"));
    ui.Button1 = named(new QPushButton(QStringLiteral("Save in bin"), bar), "Button1");
    ui.Button1->hide();
    row->addWidget(ui.Button1);
    return bar;
}

void buildReceivePane(TerminalControls& ui, QMainWindow* window) {
    ui.Memo_receive = named(new ReceivePaneView(window), "Memo_receive");
    ui.Memo_receive->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui.Memo_receive->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui.Memo_receive->setFont(QFont(QStringLiteral("Arial"), 9));

    ui.PopupMenu1 = named(new QMenu(ui.Memo_receive), "PopupMenu1");
    ui.Clear1 = named(ui.PopupMenu1->addAction(QStringLiteral("Clear")), "Clear1");
    ui.Save2 = named(ui.PopupMenu1->addAction(QStringLiteral("Save")), "Save2");
    ui.SaveinBIN2 = named(ui.PopupMenu1->addAction(QStringLiteral("Save in BIN")), "SaveinBIN2");
    ui.Memo_receive->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(ui.Memo_receive, &QWidget::customContextMenuRequested, ui.PopupMenu1,
                     [&ui](const QPoint& pos) {
                         ui.PopupMenu1->popup(ui.Memo_receive->viewport()->mapToGlobal(pos));
                     });
}

void buildHiddenParts(TerminalControls& ui, QWidget* host) {
    auto hiddenLabel = [host](const char* name, const QString& text) {
        auto* l = named(new QLabel(text, host), name);
        l->hide();
        return l;
    };
    ui.Label_com_status = hiddenLabel("Label_com_status", QString());
    ui.Label_rec = hiddenLabel("Label_rec", QString());
    ui.Label_send = hiddenLabel("Label_send", QStringLiteral("Total send:"));
    ui.Lab_Parity = hiddenLabel("Lab_Parity", QString());
    ui.Label_Time = hiddenLabel("Label_Time", QString());
    ui.Label_Date = hiddenLabel("Label_Date", QString());
    ui.Memo1 = named(new QPlainTextEdit(host), "Memo1");
    ui.Memo1->hide();
    ui.Memo2 = named(new QPlainTextEdit(host), "Memo2");
    ui.Memo2->hide();
}

void buildStatusBar(TerminalControls& ui, QMainWindow* window) {
    ui.StatusBar1 = named(new QStatusBar(window), "StatusBar1");
    ui.StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {200, 180, 260, 50};
    QLabel** panels[] = {&ui.StatusBar1Panel0, &ui.StatusBar1Panel1, &ui.StatusBar1Panel2,
                         &ui.StatusBar1Panel3};
    for (int i = 0; i < 4; ++i) {
        auto* p = new StatusPanel(ui.StatusBar1);
        p->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        p->setFrameShape(QFrame::Panel);
        p->setFrameShadow(QFrame::Sunken);
        if (i < 3) {
            // Fixed in both directions, a new text asks no layout of the status bar at all.
            p->setFixedSize(widths[i], p->sizeHint().height());
            ui.StatusBar1->addWidget(p);
        } else {
            // The last panel starts at its width and takes the rest of the bar.
            p->setMinimumWidth(widths[i]);
            ui.StatusBar1->addWidget(p, 1);
        }
        *panels[i] = p;
    }
    // The log panel, after the others and shown only while logging.
    ui.StatusBar1Panel4 =
        named(new LogPanel(ui.StatusBar1Panel3, ui.StatusBar1), "StatusBar1Panel4");
    ui.StatusBar1Panel4->setFrameShape(QFrame::Panel);
    ui.StatusBar1Panel4->setFrameShadow(QFrame::Sunken);
    ui.StatusBar1->addWidget(ui.StatusBar1Panel4, 2);
    ui.StatusBar1Panel4->hide();
    window->setStatusBar(ui.StatusBar1);
}

void buildMenus(TerminalControls& ui, QMainWindow* window) {
    QMenuBar* bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    ui.File1 = named(bar->addMenu(QStringLiteral("File")), "File1");
    ui.Save1 = named(ui.File1->addAction(QStringLiteral("Save file")), "Save1");
    ui.SaveinBIN1 = named(ui.File1->addAction(QStringLiteral("Save in BIN")), "SaveinBIN1");
    ui.Action_log = named(ui.File1->addAction(QStringLiteral("Log to file\u2026")), "Action_log");
    ui.Action_log->setCheckable(true);
    ui.Print1 = named(ui.File1->addAction(QStringLiteral("Print")), "Print1");
    ui.Exit1 = named(ui.File1->addAction(QStringLiteral("Exit")), "Exit1");

    ui.Tools1 = named(bar->addMenu(QStringLiteral("Tools")), "Tools1");
    ui.Connecttoserial1 =
        named(ui.Tools1->addAction(QStringLiteral("Connect to serial ")), "Connecttoserial1");
    ui.ConnecttCP1 = named(ui.Tools1->addAction(QStringLiteral("Connect TCP")), "ConnecttCP1");
    ui.ListenTCP1 = named(ui.Tools1->addAction(QStringLiteral("Listen TCP")), "ListenTCP1");
    ui.Opencommandfile1 =
        named(ui.Tools1->addAction(QStringLiteral("Open command file")), "Opencommandfile1");
    ui.Savecommands1 =
        named(ui.Tools1->addAction(QStringLiteral("Save commands")), "Savecommands1");
    ui.MBus1 = named(ui.Tools1->addAction(QStringLiteral("M-Bus")), "MBus1");

    ui.Help1 = named(bar->addMenu(QStringLiteral("Help")), "Help1");
    ui.About1 = named(ui.Help1->addAction(QStringLiteral("About")), "About1");
    ui.Contents1 = named(ui.Help1->addAction(QStringLiteral("Contents")), "Contents1");
}

}  // namespace

void TerminalControls::build(QMainWindow* window) {
    TerminalControls& ui = *this;
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")))
        window->setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    auto* central = named(new QWidget(window), "Panel_main");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* top = named(new QWidget(central), "Panel_top");
    top->setFixedHeight(kTopHeight);
    buildSerialArea(ui, top);
    buildButtons(ui, top);
    buildLineArea(ui, top);
    buildTcpArea(ui, top);
    column->addWidget(top);

    buildReceivePane(ui, window);
    Memo_receive->setParent(central);
    column->addWidget(Memo_receive, 1);
    column->addWidget(buildCommandLine(ui, window));
    window->setCentralWidget(central);

    buildHiddenParts(ui, central);
    buildStatusBar(ui, window);
    buildMenus(ui, window);
    buildSessionMenus(ui, window);

    // Blocks arrive far faster than a screen shows frames: paint at most once a frame.
    new FramePacer(window);

    Timer_Time = named(new QTimer(window), "Timer_Time");
    Timer_Time->setInterval(1000);

    // 850 x 632 in the middle of the screen.
    window->resize(kFormWidth, kFormHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(kFormWidth / 2, kFormHeight / 2));
    }
}

}  // namespace trelmo
