#include "terminal/Terminal.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/Guard.h"
#include "core/LocaleText.h"
#include "terminal/PortList.h"
#include "terminal/ReceivePaneView.h"
#include "widgets/Dialogs.h"
#include "widgets/FramePacer.h"
#include "widgets/dsLeds.h"

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

}  // namespace

TForm1::TForm1(const QString& settingsPath, QWidget* parent)
    : QMainWindow(parent), settingsPath_(settingsPath) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Trelmo and LAN v3.1.2"));
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")))
        setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    auto* central = named(new QWidget(this), "Panel_main");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* top = named(new QWidget(central), "Panel_top");
    top->setFixedHeight(kTopHeight);
    buildSerialArea(top);
    buildButtons(top);
    buildLineArea(top);
    buildTcpArea(top);
    column->addWidget(top);

    buildReceivePane();
    Memo_receive->setParent(central);
    column->addWidget(Memo_receive, 1);
    column->addWidget(buildCommandLine());
    setCentralWidget(central);

    buildHiddenParts(central);
    buildStatusBar();
    buildMenus();

    // Blocks arrive far faster than a screen shows frames: paint at most once a frame.
    new trelmo::FramePacer(this);

    Timer_Time = named(new QTimer(this), "Timer_Time");
    Timer_Time->setInterval(1000);
    Timer_autoSend = named(new QTimer(this), "Timer_autoSend");

    createLinksAndModels();
    connectHandlers();
    connectSerialHandlers();
    connectSendHandlers();
    connectTcpHandlers();
    connectFileHandlers();

    // 850 x 632 in the middle of the screen.
    resize(kFormWidth, kFormHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kFormWidth / 2, kFormHeight / 2));
    }

    LoadSettings();

    // The initial state: nothing connected, lamps off.
    ShowClosedStatus();
    TableShown = false;
    PortOpen = false;
    TcpConnected = false;
    ListenerClientConnected = false;
    BatchSending = false;
    for (TdsLed* led : {led_TxD, led_RxD, led_RTS, led_DTR, led_RI})
        led->setLedOn(false);

    // The clock labels hold the time from the start: a capture saved in the first second has
    // its date and time too.
    Timer_TimeTimer();
    Timer_Time->start();
}

TForm1::~TForm1() {
    delete Formatter;
}

void TForm1::buildSerialArea(QWidget* top) {
    label(top, QStringLiteral("COM name"), 8, 4, "Label1");
    // COM1..COM24, then the serial devices present whenever the list is opened.
    auto* ports = named(new trelmo::PortComboBox(top), "Combo_com");
    ports->setGeometry(8, 20, 81, 22);
    Combo_com = ports;

    label(top, QStringLiteral("COM speed"), 100, 4, "Label2");
    Combo_speed = combo(top, "Combo_speed",
                        {"300", "600", "1200", "2400", "4800", "9600", "19200", "28800", "33600",
                         "38400", "57600", "115200", "230400", "460800", "921600"},
                        100, 20, 81);
    Combo_speed->lineEdit()->setMaxLength(7);

    label(top, QStringLiteral("Parity"), 192, 4, "Label3");
    Combo_parity =
        combo(top, "Combo_parity", {"None", "Even", "Odd", "Mark", "Space"}, 192, 20, 70);

    label(top, QStringLiteral("Data Bits"), 274, 4, "Label4");
    Combo_databits = combo(top, "Combo_databits", {"7", "8"}, 274, 20, 60);

    label(top, QStringLiteral("Stop bits"), 346, 4, "Label5");
    Combo_stopbit = combo(top, "Combo_stopbit", {"1", "2"}, 346, 20, 60);

    label(top, QStringLiteral("Timeout, ms"), 418, 4, "Label6");
    UpDown_delay = upDown(top, "UpDown_delay", "Edit_delay", 0, 200, 1, 0, &Edit_delay);
    UpDown_delay->setGeometry(418, 20, 70, 22);
}

void TForm1::buildButtons(QWidget* top) {
    BitBtn2 =
        glyphButton(top, "BitBtn2", Glyph::Connect, "Connect/disconnect to serial port", 504, 16);
    Butt_Clear = glyphButton(top, "Butt_Clear", Glyph::Clear, "Clear received", 540, 16);
    BitBtn7 = glyphButton(top, "BitBtn7", Glyph::Save, "Save data to file", 572, 16);
    Butt_print = glyphButton(top, "Butt_print", Glyph::Print, "Print data", 604, 16);
    BitBtn6 = glyphButton(top, "BitBtn6", Glyph::Open, "Open command file", 640, 16);
    BitBtn5 = glyphButton(top, "BitBtn5", Glyph::About, "About the program", 676, 16);
    BitBtn8 = glyphButton(top, "BitBtn8", Glyph::Exit, "Exit program", 708, 16);
}

void TForm1::buildLineArea(QWidget* top) {
    const int y = 54;
    led_TxD = lamp(top, "led_TxD", 8, y + 4);
    Label_TxD = label(top, QStringLiteral("TxD"), 20, y, "Label_TxD");
    led_RxD = lamp(top, "led_RxD", 52, y + 4);
    Label_RxD = label(top, QStringLiteral("RxD"), 64, y, "Label_RxD");
    led_RTS = lamp(top, "led_RTS", 96, y + 4);
    Label_RTS = label(top, QStringLiteral("RTS"), 108, y, "Label_RTS");
    led_DTR = lamp(top, "led_DTR", 140, y + 4);
    Label_DTR = label(top, QStringLiteral("DTR"), 152, y, "Label_DTR");
    led_RI = lamp(top, "led_RI", 184, y + 4);
    Label_RI = label(top, QStringLiteral("RI"), 196, y, "Label_RI");
    led_RI->hide();
    Label_RI->hide();

    Check_Rts = check(top, "Check_Rts", QStringLiteral("Control RTS"), 230, y - 2);
    Check_dtr = check(top, "Check_dtr", QStringLiteral("Control DTR"), 330, y - 2);
    CheckBox1 = check(top, "CheckBox1", QStringLiteral("Set RTS"), 430, y - 2);
    CheckBox2 = check(top, "CheckBox2", QStringLiteral("Set DTR"), 510, y - 2);
    Check_hex = check(top, "Check_hex", QStringLiteral("Show incoming in Hex"), 590, y - 2);
    Check_crc = check(top, "Check_crc", QStringLiteral("CRC"), 740, y - 2);
    Check_crc16 = check(top, "Check_crc16", QStringLiteral("CRC16"), 790, y - 2);
    Check_crc->hide();
    Check_crc16->hide();
    lab_crc = label(top, QStringLiteral("CRC: "), 765, y, "lab_crc");
    // Wide enough for the sum it shows ("CRC: 0xFF"), not only for its first text.
    lab_crc->resize(lab_crc->fontMetrics().horizontalAdvance(QStringLiteral("CRC: 0xWW")) + 4,
                    lab_crc->height());
    lab_crc->hide();
}

void TForm1::buildTcpArea(QWidget* top) {
    label(top, QStringLiteral("Remote IP number"), 8, 80, "Label7");
    Edit_ip = named(new QLineEdit(top), "Edit_ip");
    Edit_ip->setMaxLength(15);
    Edit_ip->setGeometry(8, 96, 105, 22);

    label(top, QStringLiteral("Port"), 132, 80, "Label8");
    Edit_port = named(new QLineEdit(top), "Edit_port");
    Edit_port->setMaxLength(5);
    Edit_port->setGeometry(132, 96, 56, 22);

    label(top, QStringLiteral("Connect timeout"), 200, 80, "Label9");
    UD_ipTime = upDown(top, "UD_ipTime", "Edit_ipTime", 10, 1000, 1, 10, &Edit_ipTime);
    UD_ipTime->setGeometry(200, 96, 70, 22);
    label(top, QStringLiteral("x10ms"), 276, 100, "Label10");

    Butt_connect = button(top, "Butt_connect", QStringLiteral("Connect to host"), 330, 94, 120);
    BitBtn3 = button(top, "BitBtn3", QStringLiteral("Listen on port"), 456, 94, 120);
    Butt_additional = button(top, "Butt_additional", QStringLiteral("More >>"), 582, 94, 90);
}

QWidget* TForm1::buildCommandLine() {
    auto* bar = named(new QWidget(this), "Panel_send");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 0, 8, 4);
    Edit_send = named(new QComboBox(bar), "Edit_send");
    Edit_send->setEditable(true);
    Edit_send->setInsertPolicy(QComboBox::NoInsert);
    // The command history may hold a whole command file: a plain string list keeps a
    // million entries light and quick to replace.
    Edit_send->setModel(new QStringListModel(Edit_send));
    Edit_send->lineEdit()->setMaxLength(1024);
    Edit_send->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(Edit_send, 1);
    BitBtn4 = named(new QPushButton(QStringLiteral("Send current command only"), bar), "BitBtn4");
    row->addWidget(BitBtn4);
    BitBtn1 = named(new QPushButton(QStringLiteral("Send all commands with delay in ms"), bar),
                    "BitBtn1");
    row->addWidget(BitBtn1);
    UpDown_delay_command = upDown(bar, "UpDown_delay_command", "Edit_delay_command", 0, 9990, 10, 0,
                                  &Edit_delay_command);
    // Only the number is read-only: the arrows, keys and wheel step it by 10.
    Edit_delay_command->setReadOnly(true);
    UpDown_delay_command->setFixedWidth(65);
    row->addWidget(UpDown_delay_command);
    row->addWidget(named(new QLabel(QStringLiteral("ms"), bar), "Label11"));
    Button1 = named(new QPushButton(QStringLiteral("Save in bin"), bar), "Button1");
    Button1->hide();
    row->addWidget(Button1);
    return bar;
}

void TForm1::buildReceivePane() {
    Memo_receive = named(new trelmo::ReceivePaneView(this), "Memo_receive");
    Memo_receive->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_receive->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_receive->setFont(QFont(QStringLiteral("Arial"), 9));

    PopupMenu1 = named(new QMenu(Memo_receive), "PopupMenu1");
    Clear1 = named(PopupMenu1->addAction(QStringLiteral("Clear")), "Clear1");
    Save2 = named(PopupMenu1->addAction(QStringLiteral("Save")), "Save2");
    SaveinBIN2 = named(PopupMenu1->addAction(QStringLiteral("Save in BIN")), "SaveinBIN2");
    Memo_receive->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo_receive, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(Memo_receive->viewport()->mapToGlobal(pos));
    });
}

void TForm1::buildHiddenParts(QWidget* host) {
    auto hiddenLabel = [host](const char* name, const QString& text) {
        auto* l = named(new QLabel(text, host), name);
        l->hide();
        return l;
    };
    Label_com_status = hiddenLabel("Label_com_status", QString());
    Label_rec = hiddenLabel("Label_rec", QString());
    Label_send = hiddenLabel("Label_send", QStringLiteral("Total send:"));
    Lab_Parity = hiddenLabel("Lab_Parity", QString());
    Label_Time = hiddenLabel("Label_Time", QString());
    Label_Date = hiddenLabel("Label_Date", QString());
    Memo1 = named(new QPlainTextEdit(host), "Memo1");
    Memo1->hide();
    Memo2 = named(new QPlainTextEdit(host), "Memo2");
    Memo2->hide();
}

void TForm1::buildStatusBar() {
    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {200, 180, 260, 50};
    QLabel** panels[] = {&StatusBar1Panel0, &StatusBar1Panel1, &StatusBar1Panel2,
                         &StatusBar1Panel3};
    for (int i = 0; i < 4; ++i) {
        auto* p = new StatusPanel(StatusBar1);
        p->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        p->setFrameShape(QFrame::Panel);
        p->setFrameShadow(QFrame::Sunken);
        if (i < 3) {
            // Fixed in both directions, a new text asks no layout of the status bar at all.
            p->setFixedSize(widths[i], p->sizeHint().height());
            StatusBar1->addWidget(p);
        } else {
            // The last panel starts at its width and takes the rest of the bar.
            p->setMinimumWidth(widths[i]);
            StatusBar1->addWidget(p, 1);
        }
        *panels[i] = p;
    }
    setStatusBar(StatusBar1);
}

QLabel* TForm1::panel(int index) const {
    switch (index) {
        case 0:
            return StatusBar1Panel0;
        case 1:
            return StatusBar1Panel1;
        case 2:
            return StatusBar1Panel2;
        case 3:
            return StatusBar1Panel3;
        default:
            return nullptr;
    }
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    File1 = named(bar->addMenu(QStringLiteral("File")), "File1");
    Save1 = named(File1->addAction(QStringLiteral("Save file")), "Save1");
    SaveinBIN1 = named(File1->addAction(QStringLiteral("Save in BIN")), "SaveinBIN1");
    Print1 = named(File1->addAction(QStringLiteral("Print")), "Print1");
    Exit1 = named(File1->addAction(QStringLiteral("Exit")), "Exit1");

    Tools1 = named(bar->addMenu(QStringLiteral("Tools")), "Tools1");
    Connecttoserial1 =
        named(Tools1->addAction(QStringLiteral("Connect to serial ")), "Connecttoserial1");
    ConnecttCP1 = named(Tools1->addAction(QStringLiteral("Connect TCP")), "ConnecttCP1");
    ListenTCP1 = named(Tools1->addAction(QStringLiteral("Listen TCP")), "ListenTCP1");
    Opencommandfile1 =
        named(Tools1->addAction(QStringLiteral("Open command file")), "Opencommandfile1");
    Savecommands1 = named(Tools1->addAction(QStringLiteral("Save commands")), "Savecommands1");
    MBus1 = named(Tools1->addAction(QStringLiteral("M-Bus")), "MBus1");

    Help1 = named(bar->addMenu(QStringLiteral("Help")), "Help1");
    About1 = named(Help1->addAction(QStringLiteral("About")), "About1");
    Contents1 = named(Help1->addAction(QStringLiteral("Contents")), "Contents1");
}

void TForm1::connectHandlers() {
    using trelmo::guarded;
    connect(Exit1, &QAction::triggered, this, guarded([this] { Exit1Click(); }));
    connect(BitBtn8, &QToolButton::clicked, this, guarded([this] { BitBtn8Click(); }));
    connect(Timer_Time, &QTimer::timeout, this, guarded([this] { Timer_TimeTimer(); }));
    connect(Check_crc, &QCheckBox::toggled, this, guarded([this] { Check_crcClick(); }));
    connect(Butt_additional, &QPushButton::clicked, this,
            guarded([this] { Butt_additionalClick(); }));
    connect(BitBtn5, &QToolButton::clicked, this, guarded([this] { BitBtn5Click(); }));
    connect(About1, &QAction::triggered, this, guarded([this] { BitBtn5Click(); }));
    connect(MBus1, &QAction::triggered, this, guarded([this] { MBus1Click(); }));
    connect(Contents1, &QAction::triggered, this, guarded([this] { Contents1Click(); }));
}

void TForm1::ShowClosedStatus() {
    const QString text = ComName + QStringLiteral(" - status: CLOSED");
    Label_com_status->setText(text);
    StatusBar1Panel0->setText(text);
}

void TForm1::Exit1Click() {
    if (PortOpen)
        ClosePortOnExit();
    close();
}

void TForm1::BitBtn8Click() {
    if (trelmo::askYesNo(QStringLiteral("Are you sure you want to exit?"),
                         QStringLiteral("Exit Confirmation"), trelmo::MsgIcon::Warning, this)) {
        close();
    }
}

void TForm1::Timer_TimeTimer() {
    const QDateTime moment = trelmo::now();
    const QString time = trelmo::longTimeText(moment.time());
    const QString date = trelmo::shortDateText(moment.date());
    Label_Time->setText(time);
    Label_Date->setText(date);
    StatusBar1Panel3->setText(time + QStringLiteral("  ") + date);
}

void TForm1::Check_crcClick() {
    lab_crc->setVisible(Check_crc->isChecked());
}

void TForm1::Butt_additionalClick() {
    if (TableShown) {
        if (tableWindow_)
            tableWindow_->close();
        TableShown = false;
        Butt_additional->setText(QStringLiteral("More >>"));
    } else {
        if (tableWindow_) {
            tableWindow_->show();
            tableWindow_->raise();
        }
        TableShown = true;
        Butt_additional->setText(QStringLiteral("<< More"));
    }
}

void TForm1::TableWindowClosed() {
    TableShown = false;
    Butt_additional->setText(QStringLiteral("More >>"));
}

void TForm1::BitBtn5Click() {
    emit aboutRequested();
}

void TForm1::MBus1Click() {
    emit mbusRequested();
}

void TForm1::closeEvent(QCloseEvent* event) {
    trelmo::runGuarded([this] { FormClose(); });
    event->accept();
}
