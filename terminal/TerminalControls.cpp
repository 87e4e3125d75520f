#include "terminal/TerminalControls.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "core/LocaleText.h"
#include "core/receive/ReceiveFormatter.h"
#include "terminal/PortList.h"
#include "terminal/ReceivePaneView.h"
#include "widgets/FramePacer.h"
#include "widgets/ScreenFit.h"
#include "widgets/dsLeds.h"

namespace trelmo {
namespace {

constexpr int kFormWidth = 850;
constexpr int kFormHeight = 632;

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const QString& text, const char* name) {
    return named(new QLabel(text, parent), name);
}

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items) {
    auto* c = named(new QComboBox(parent), name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    c->setEditText(QString());
    return c;
}

// ---- Widths from the font and the style ----------------------------------------------------
// Every box, panel and button is as wide as the longest text it is expected to show needs in
// the window's font and style (and not narrower than it was drawn for an 8-point font, where
// that is wider), so nothing is cut off whatever the font, the style or the scale factor.

int widestText(const QFontMetrics& metrics, const QStringList& texts) {
    int widest = 0;
    for (const QString& t : texts)
        widest = std::max(widest, metrics.horizontalAdvance(t));
    return widest;
}

// The width a line edit's text area needs for `texts`: the text, the cursor after it, the
// line edit's inner margins (2 pixels a side) and its text margins.
int lineEditRoomFor(const QLineEdit* edit, const QStringList& texts) {
    const QMargins margins = edit->textMargins();
    return widestText(edit->fontMetrics(), texts) + 1 + 2 * 2 + margins.left() + margins.right();
}

// The least width w >= least at which room(w), the room a widget of width w gives its text,
// is at least `need`.
int widthGiving(int need, int least, const std::function<int(int)>& room) {
    int w = std::max(least, need);
    for (int i = 0; i < 16; ++i) {
        const int got = room(w);
        if (got >= need)
            break;
        w += need - got;
    }
    return w;
}

// The width of an editable combo box whose edit field shows each of `texts` whole.
int comboWidthFor(const QComboBox* box, const QStringList& texts, int least) {
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    opt.editable = true;
    opt.frame = box->hasFrame();
    opt.subControls = QStyle::SC_All;
    const int height = box->sizeHint().height();
    return widthGiving(lineEditRoomFor(box->lineEdit(), texts), least, [&](int w) {
        opt.rect = QRect(0, 0, w, height);
        return box->style()
            ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box)
            .width();
    });
}

// The width of a spin box whose edit field shows each of `texts` whole.
int spinWidthFor(const QSpinBox* spin, const QStringList& texts, int least) {
    QStyleOptionSpinBox opt;
    opt.initFrom(spin);
    opt.frame = spin->hasFrame();
    opt.buttonSymbols = spin->buttonSymbols();
    opt.subControls = QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp |
                      QStyle::SC_SpinBoxDown;
    opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const int height = spin->sizeHint().height();
    return widthGiving(lineEditRoomFor(spin->findChild<QLineEdit*>(), texts), least, [&](int w) {
        opt.rect = QRect(0, 0, w, height);
        return spin->style()
            ->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxEditField, spin)
            .width();
    });
}

// The width of a line edit that shows each of `texts` whole.
int lineEditWidthFor(const QLineEdit* edit, const QStringList& texts, int least) {
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    opt.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    const int height = edit->sizeHint().height();
    return widthGiving(lineEditRoomFor(edit, texts), least, [&](int w) {
        opt.rect = QRect(0, 0, w, height);
        return edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit).width();
    });
}

// The width of a push button that shows each of `captions` whole.
int buttonWidthFor(QPushButton* button, const QStringList& captions, int least) {
    const QString shown = button->text();
    int w = least;
    for (const QString& caption : captions) {
        button->setText(caption);
        w = std::max(w, button->sizeHint().width());
    }
    button->setText(shown);
    return w;
}

// A label above the box it names, the two as one column of the top area.
QVBoxLayout* titled(QLabel* title, QWidget* box) {
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(title);
    column->addWidget(box);
    return column;
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

QToolButton* glyphButton(QWidget* parent, const char* name, Glyph kind, const QString& hint) {
    auto* b = named(new QToolButton(parent), name);
    b->setIcon(glyph(kind));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(hint);
    b->setFixedSize(28, 28);
    return b;
}

// A status bar panel: a label whose size does not depend on its text, so the counters it
// shows for every received block never make the status bar measure its texts.
class StatusPanel : public QLabel {
  public:
    using QLabel::QLabel;
    QSize sizeHint() const override {
        const QMargins m = contentsMargins();
        return QSize(std::max(minimumWidth(), preferred),
                     fontMetrics().height() + m.top() + m.bottom() + 2 * margin());
    }
    // The width the panel asks for beyond its least (a text longer than it was made for).
    int preferred = 0;
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

TdsLed* lamp(QWidget* parent, const char* name) {
    auto* led = named(new TdsLed(parent), name);
    led->setFixedSize(9, 9);
    led->setBevel(TdsLedBevel::blNone);
    led->setShape(TdsLedShape::ltEllipse);
    led->setOnColor(clRed);
    led->setOffColor(clSilver);
    led->setStyle(TdsLedStyle::lsStandard);
    return led;
}

QCheckBox* check(QWidget* parent, const char* name, const QString& text) {
    return named(new QCheckBox(text, parent), name);
}

// A push button wide enough for each of its captions (and at least `least`).
QPushButton* button(QWidget* parent, const char* name, const QString& text,
                    const QStringList& captions, int least) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setFixedWidth(buttonWidthFor(b, captions, least));
    return b;
}

// The serial settings, each box under its title, left to right; the COM name box takes the
// width the window has to spare, so a long device name stays readable.
QHBoxLayout* buildSerialArea(TerminalControls& ui, QWidget* top) {
    auto* row = new QHBoxLayout;
    row->setSpacing(11);

    // COM1..COM24, then the serial devices present whenever the list is opened.
    auto* ports = named(new PortComboBox(top), "Combo_com");
    ports->setMinimumWidth(comboWidthFor(ports, {QStringLiteral("/dev/ttyUSB0")}, 81));
    ports->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    ui.Combo_com = ports;
    row->addLayout(titled(label(top, QStringLiteral("COM name"), "Label1"), ports), 1);

    const QStringList speeds = {"300",   "600",    "1200",   "2400",   "4800",
                                "9600",  "19200",  "28800",  "33600",  "38400",
                                "57600", "115200", "230400", "460800", "921600"};
    ui.Combo_speed = combo(top, "Combo_speed", speeds);
    ui.Combo_speed->lineEdit()->setMaxLength(7);
    // Seven digits may be typed (1000000 and up).
    ui.Combo_speed->setFixedWidth(
        comboWidthFor(ui.Combo_speed, speeds + QStringList{QStringLiteral("4000000")}, 81));
    row->addLayout(titled(label(top, QStringLiteral("COM speed"), "Label2"), ui.Combo_speed));

    const QStringList parities = {"None", "Even", "Odd", "Mark", "Space"};
    ui.Combo_parity = combo(top, "Combo_parity", parities);
    ui.Combo_parity->setFixedWidth(comboWidthFor(ui.Combo_parity, parities, 70));
    row->addLayout(titled(label(top, QStringLiteral("Parity"), "Label3"), ui.Combo_parity));

    ui.Combo_databits = combo(top, "Combo_databits", {"7", "8"});
    ui.Combo_databits->setFixedWidth(comboWidthFor(ui.Combo_databits, {"5", "6", "7", "8"}, 60));
    row->addLayout(titled(label(top, QStringLiteral("Data Bits"), "Label4"), ui.Combo_databits));

    ui.Combo_stopbit = combo(top, "Combo_stopbit", {"1", "2"});
    ui.Combo_stopbit->setFixedWidth(comboWidthFor(ui.Combo_stopbit, {"1", "2"}, 60));
    row->addLayout(titled(label(top, QStringLiteral("Stop bits"), "Label5"), ui.Combo_stopbit));

    ui.UpDown_delay = upDown(top, "UpDown_delay", "Edit_delay", 0, 200, 1, 0, &ui.Edit_delay);
    ui.UpDown_delay->setFixedWidth(spinWidthFor(ui.UpDown_delay, {QStringLiteral("200")}, 70));
    row->addLayout(titled(label(top, QStringLiteral("Timeout, ms"), "Label6"), ui.UpDown_delay));
    return row;
}

// The glyph buttons in their groups: connect; clear, save, print; open; about, exit.
QHBoxLayout* buildButtons(TerminalControls& ui, QWidget* top) {
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    ui.BitBtn2 = glyphButton(top, "BitBtn2", Glyph::Connect, "Connect/disconnect to serial port");
    ui.Butt_Clear = glyphButton(top, "Butt_Clear", Glyph::Clear, "Clear received");
    ui.BitBtn7 = glyphButton(top, "BitBtn7", Glyph::Save, "Save data to file");
    ui.Butt_print = glyphButton(top, "Butt_print", Glyph::Print, "Print data");
    ui.BitBtn6 = glyphButton(top, "BitBtn6", Glyph::Open, "Open command file");
    ui.BitBtn5 = glyphButton(top, "BitBtn5", Glyph::About, "About the program");
    ui.BitBtn8 = glyphButton(top, "BitBtn8", Glyph::Exit, "Exit program");
    row->addWidget(ui.BitBtn2);
    row->addSpacing(4);
    row->addWidget(ui.Butt_Clear);
    row->addWidget(ui.BitBtn7);
    row->addWidget(ui.Butt_print);
    row->addSpacing(4);
    row->addWidget(ui.BitBtn6);
    row->addSpacing(4);
    row->addWidget(ui.BitBtn5);
    row->addWidget(ui.BitBtn8);
    return row;
}

// A lamp with its name beside it.
QHBoxLayout* lampWithName(TdsLed* led, QLabel* name) {
    auto* pair = new QHBoxLayout;
    pair->setSpacing(3);
    pair->addWidget(led, 0, Qt::AlignVCenter);
    pair->addWidget(name);
    return pair;
}

// The line lamps, then the line controls and the display options.
QHBoxLayout* buildLineArea(TerminalControls& ui, QWidget* top) {
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    ui.led_TxD = lamp(top, "led_TxD");
    row->addLayout(lampWithName(ui.led_TxD, label(top, QStringLiteral("TxD"), "Label_TxD")));
    ui.led_RxD = lamp(top, "led_RxD");
    row->addLayout(lampWithName(ui.led_RxD, label(top, QStringLiteral("RxD"), "Label_RxD")));
    ui.led_RTS = lamp(top, "led_RTS");
    row->addLayout(lampWithName(ui.led_RTS, label(top, QStringLiteral("RTS"), "Label_RTS")));
    ui.led_DTR = lamp(top, "led_DTR");
    row->addLayout(lampWithName(ui.led_DTR, label(top, QStringLiteral("DTR"), "Label_DTR")));
    ui.led_RI = lamp(top, "led_RI");
    QLabel* riLabel = label(top, QStringLiteral("RI"), "Label_RI");
    row->addLayout(lampWithName(ui.led_RI, riLabel));
    ui.led_RI->hide();
    riLabel->hide();
    row->addSpacing(36);

    ui.Check_Rts = check(top, "Check_Rts", QStringLiteral("Control RTS"));
    ui.Check_dtr = check(top, "Check_dtr", QStringLiteral("Control DTR"));
    ui.CheckBox1 = check(top, "CheckBox1", QStringLiteral("Set RTS"));
    ui.CheckBox2 = check(top, "CheckBox2", QStringLiteral("Set DTR"));
    ui.Check_hex = check(top, "Check_hex", QStringLiteral("Show incoming in Hex"));
    ui.Check_crc = check(top, "Check_crc", QStringLiteral("CRC"));
    ui.lab_crc = label(top, QStringLiteral("CRC: "), "lab_crc");
    ui.Check_crc16 = check(top, "Check_crc16", QStringLiteral("CRC16"));
    for (QWidget* w : {static_cast<QWidget*>(ui.Check_Rts), static_cast<QWidget*>(ui.Check_dtr),
                       static_cast<QWidget*>(ui.CheckBox1), static_cast<QWidget*>(ui.CheckBox2),
                       static_cast<QWidget*>(ui.Check_hex), static_cast<QWidget*>(ui.Check_crc),
                       static_cast<QWidget*>(ui.lab_crc), static_cast<QWidget*>(ui.Check_crc16)})
        row->addWidget(w);
    ui.Check_crc->hide();
    ui.Check_crc16->hide();
    // Wide enough for the sum it shows ("CRC: 0xFF"), not only for its first text; of a fixed
    // width, so the sum of every block asks no layout of the window.
    ui.lab_crc->setFixedWidth(
        ui.lab_crc->fontMetrics().horizontalAdvance(QStringLiteral("CRC: 0xWW")) + 4);
    ui.lab_crc->hide();
    row->addStretch(1);
    return row;
}

// The TCP link: host and port, the connect timeout, and the buttons.
QHBoxLayout* buildTcpArea(TerminalControls& ui, QWidget* top) {
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    ui.Edit_ip = named(new QLineEdit(top), "Edit_ip");
    ui.Edit_ip->setMaxLength(15);
    ui.Edit_ip->setFixedWidth(
        lineEditWidthFor(ui.Edit_ip, {QStringLiteral("255.255.255.255")}, 105));
    row->addLayout(titled(label(top, QStringLiteral("Remote IP number"), "Label7"), ui.Edit_ip));

    ui.Edit_port = named(new QLineEdit(top), "Edit_port");
    ui.Edit_port->setMaxLength(5);
    ui.Edit_port->setFixedWidth(lineEditWidthFor(ui.Edit_port, {QStringLiteral("65535")}, 56));
    row->addLayout(titled(label(top, QStringLiteral("Port"), "Label8"), ui.Edit_port));

    ui.UD_ipTime = upDown(top, "UD_ipTime", "Edit_ipTime", 10, 1000, 1, 10, &ui.Edit_ipTime);
    ui.UD_ipTime->setFixedWidth(spinWidthFor(ui.UD_ipTime, {QStringLiteral("1000")}, 70));
    auto* timeout = new QHBoxLayout;
    timeout->setSpacing(6);
    timeout->addWidget(ui.UD_ipTime);
    timeout->addWidget(label(top, QStringLiteral("x10ms"), "Label10"));
    auto* timeoutColumn = new QVBoxLayout;
    timeoutColumn->setSpacing(2);
    timeoutColumn->addWidget(label(top, QStringLiteral("Connect timeout"), "Label9"));
    timeoutColumn->addLayout(timeout);
    row->addLayout(timeoutColumn);

    // Each button as wide as the longer of the captions it takes.
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    ui.Butt_connect =
        button(top, "Butt_connect", QStringLiteral("Connect to host"),
               {QStringLiteral("Connect to host"), QStringLiteral("Disconnect TCP")}, 120);
    ui.BitBtn3 = button(top, "BitBtn3", QStringLiteral("Listen on port"),
                        {QStringLiteral("Listen on port"), QStringLiteral("Close socket")}, 120);
    ui.Butt_additional = button(top, "Butt_additional", QStringLiteral("More >>"),
                                {QStringLiteral("More >>"), QStringLiteral("<< More")}, 90);
    buttons->addWidget(ui.Butt_connect);
    buttons->addWidget(ui.BitBtn3);
    buttons->addWidget(ui.Butt_additional);
    row->addSpacing(8);
    row->addLayout(buttons);
    row->addStretch(1);
    return row;
}

// The top area: the serial settings and the glyph buttons, the line lamps and options, the
// TCP link, in three rows.
QWidget* buildTopArea(TerminalControls& ui, QWidget* parent) {
    auto* top = named(new QWidget(parent), "Panel_top");
    top->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* rows = new QVBoxLayout(top);
    rows->setContentsMargins(8, 4, 8, 6);
    rows->setSpacing(8);
    auto* first = new QHBoxLayout;
    first->setSpacing(16);
    first->addLayout(buildSerialArea(ui, top), 1);
    QHBoxLayout* buttons = buildButtons(ui, top);
    first->addLayout(buttons);
    first->setAlignment(buttons, Qt::AlignBottom);
    rows->addLayout(first);
    rows->addLayout(buildLineArea(ui, top));
    rows->addLayout(buildTcpArea(ui, top));
    return top;
}

// The line ending appended to each command: "None" leaves the command as typed.
void buildLineEnding(TerminalControls& ui, QWidget* bar, QHBoxLayout* row) {
    auto* caption = named(new QLabel(QStringLiteral("Line ending"), bar), "Label_eol");
    row->addWidget(caption);
    ui.Combo_eol = named(new QComboBox(bar), "Combo_eol");
    caption->setBuddy(ui.Combo_eol);
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
    ui.Action_reopen = named(
        new QAction(QStringLiteral("&Reopen the port when it returns"), window), "Action_reopen");
    ui.Action_reopen->setCheckable(true);
    ui.Tools1->addAction(ui.Action_reopen);
    ui.Action_keepHistory = named(new QAction(QStringLiteral("Keep the command &history"), window),
                                  "Action_keepHistory");
    ui.Action_keepHistory->setCheckable(true);
    ui.Tools1->addAction(ui.Action_keepHistory);
}

QWidget* buildCommandLine(TerminalControls& ui, QMainWindow* window) {
    auto* bar = named(new QWidget(window), "Panel_send");
    auto* rows = new QVBoxLayout(bar);
    rows->setContentsMargins(8, 0, 8, 4);
    rows->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    rows->addLayout(row);
    ui.Edit_send = named(new QComboBox(bar), "Edit_send");
    ui.Edit_send->setEditable(true);
    ui.Edit_send->setInsertPolicy(QComboBox::NoInsert);
    ui.Edit_send->lineEdit()->setMaxLength(1024);
    ui.Edit_send->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(ui.Edit_send, 1);
    ui.BitBtn4 =
        named(new QPushButton(QStringLiteral("Send current command only"), bar), "BitBtn4");
    row->addWidget(ui.BitBtn4);
    ui.BitBtn1 = named(new QPushButton(QStringLiteral("Send all commands with delay in ms"), bar),
                       "BitBtn1");
    row->addWidget(ui.BitBtn1);
    ui.UpDown_delay_command = upDown(bar, "UpDown_delay_command", "Edit_delay_command", 0, 9990, 10,
                                     0, &ui.Edit_delay_command);
    // Only the number is read-only: the arrows, keys and wheel step it by 10.
    ui.Edit_delay_command->setReadOnly(true);
    ui.UpDown_delay_command->setFixedWidth(
        spinWidthFor(ui.UpDown_delay_command, {QStringLiteral("9990")}, 65));
    row->addWidget(ui.UpDown_delay_command);
    row->addWidget(named(new QLabel(QStringLiteral("ms"), bar), "Label11"));
    ui.Button1 = named(new QPushButton(QStringLiteral("Save in bin"), bar), "Button1");
    ui.Button1->hide();
    row->addWidget(ui.Button1);

    // Under the send buttons: how commands end and the repeat of the command line.
    auto* options = new QHBoxLayout;
    options->setContentsMargins(0, 0, 0, 0);
    options->addStretch(1);
    buildLineEnding(ui, bar, options);
    options->addSpacing(12);
    buildRepeat(ui, bar, options);
    rows->addLayout(options);
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

// The longest texts each status panel is expected to show.
QList<QStringList> statusPanelTexts() {
    QStringList clock;
    for (const QTime time : {QTime(23, 59, 59), QTime(11, 59, 59)}) {
        for (int month = 1; month <= 12; ++month)
            clock.append(longTimeText(time) + QStringLiteral("  ") +
                         shortDateText(QDate(2000, month, 28)));
    }
    return {// The link: a serial port's settings, a TCP peer, a listener.
            {QStringLiteral("/dev/ttyUSB0, 921600, 8, Space, 2 - OPEN"),
             QStringLiteral("/dev/ttyUSB0 - status: CLOSED"),
             QStringLiteral("Connected to 255.255.255.255@65535"),
             QStringLiteral("Incoming request...")},
            // The last byte's parity, or a full read.
            {ReceiveFormatter::lastByteParityText(false, ParityMark::None),
             QString::fromLatin1(kMoreThan10kText)},
            // The counters, up to seven digits each.
            {countersText(QStringLiteral("Total send: 9999999"),
                          ReceiveFormatter::receivedLabel(9999999)),
             QStringLiteral("Exception receive ") + longTimeText(QTime(23, 59, 59))},
            clock};
}

// The width a status panel needs to show each of `texts` whole: the text after the half 'x'
// a framed label indents it by, two pixels to spare, and the frame.
int statusPanelWidthFor(const QLabel* panel, const QStringList& texts) {
    const QFontMetrics metrics = panel->fontMetrics();
    const int indent = metrics.horizontalAdvance(QLatin1Char('x')) / 2;
    return widestText(metrics, texts) + indent + 2 + 2 * panel->frameWidth();
}

// Drops what a layout and the layouts in it have worked out.
void invalidateAll(QLayout* layout) {
    layout->invalidate();
    for (int i = 0; i < layout->count(); ++i) {
        if (QLayout* inner = layout->itemAt(i)->layout())
            invalidateAll(inner);
    }
}

}  // namespace

// Keeps the fixed status panels (0 to 2) as wide as their texts need and the clock panel at
// least as wide as its own, while the bar has room for that beside whatever else it holds. On
// a bar too narrow (a small screen) the clock gives way first, down to the time alone; then
// panels 0 to 2 share what is left in proportion to their needs. The widths change only
// when the bar's width does, or when a panel is given a text wider than it was made for (a
// long device name in the link's status): then that panel needs its text's width.
class StatusPanelFit : public QObject {
  public:
    struct Panel {
        QLabel* label;
        int need;
        int base = need;  // the width it was made for
    };
    StatusPanelFit(QStatusBar* bar, QList<Panel> fixed, Panel clock, int clockLeast)
        : QObject(bar),
          bar_(bar),
          fixed_(std::move(fixed)),
          clock_(clock),
          clockLeast_(std::min(clockLeast, clock.need)) {
        bar->installEventFilter(this);
    }

    void fit(int barWidth) {
        width_ = barWidth;
        QLayout* layout = bar_->layout();
        if (!layout)
            return;
        int ours = clock_.label->minimumWidth();
        int needed = 0;
        int bases = 0;
        for (const Panel& p : fixed_) {
            ours += p.label->minimumWidth();
            needed += p.need;
            bases += p.base;
        }
        // The room the four panels have: the bar less its spacing and anything else in it.
        const int room = barWidth - (layout->minimumSize().width() - ours);
        // The clock takes the rest of the bar anyway: its least width is its text's while
        // there is room for that, else the time's, so the window may still narrow.
        const int clock = room - needed >= clock_.need ? clock_.need : clockLeast_;
        bool changed = setLeastWidth(clock_.label, clock);
        const int share = room - clock;
        // Short of room, a panel widened for a long text gives way before the others shrink.
        // The widening never holds the window wide: a panel's least width is what it would
        // have without it.
        for (const Panel& p : fixed_) {
            const int least =
                share >= bases ? p.base : std::max(p.base / 3, p.base * share / bases);
            int w = least;
            if (share >= needed)
                w = p.need;
            else if (share >= bases)
                w = p.base + (p.need - p.base) * (share - bases) / (needed - bases);
            changed = setWidths(p.label, least, w) || changed;
        }
        // The bar's layouts and the window's keep the sizes they worked out (and a widget
        // not shown yet tells them nothing of a change): have them worked out again.
        if (changed) {
            invalidateAll(layout);
            if (QWidget* window = bar_->parentWidget(); window && window->layout())
                window->layout()->invalidate();
        }
    }

    // Shows `text` in `panel` (one of the fixed ones), as wide as it needs where there is room.
    void setText(QLabel* panel, const QString& text) {
        panel->setText(text);
        for (Panel& p : fixed_) {
            if (p.label != panel)
                continue;
            const int need = std::max(p.base, statusPanelWidthFor(panel, {text}));
            if (need != p.need) {
                p.need = need;
                fit(width_);  // the bar's width when it last changed (a hidden bar has none yet)
            }
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == bar_ && event->type() == QEvent::Resize)
            fit(bar_->width());
        return QObject::eventFilter(watched, event);
    }

  private:
    static bool setWidths(QLabel* panel, int least, int width) {
        auto* status = static_cast<StatusPanel*>(panel);
        if (status->minimumWidth() == least && status->maximumWidth() == width)
            return false;
        status->preferred = width;
        status->setMinimumWidth(least);
        status->setMaximumWidth(width);
        return true;
    }
    static bool setLeastWidth(QLabel* panel, int width) {
        if (panel->minimumWidth() == width)
            return false;
        panel->setMinimumWidth(width);
        return true;
    }

    QStatusBar* bar_;
    QList<Panel> fixed_;
    Panel clock_;
    int clockLeast_;
    int width_ = 0;
};

namespace {

StatusPanelFit* buildStatusBar(TerminalControls& ui, QMainWindow* window) {
    ui.StatusBar1 = named(new QStatusBar(window), "StatusBar1");
    ui.StatusBar1->setSizeGripEnabled(false);
    const QList<QStringList> texts = statusPanelTexts();
    QLabel** panels[] = {&ui.StatusBar1Panel0, &ui.StatusBar1Panel1, &ui.StatusBar1Panel2,
                         &ui.StatusBar1Panel3};
    QList<StatusPanelFit::Panel> fixed;
    for (int i = 0; i < 4; ++i) {
        auto* p = new StatusPanel(ui.StatusBar1);
        p->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        p->setFrameShape(QFrame::Panel);
        p->setFrameShadow(QFrame::Sunken);
        const int width = statusPanelWidthFor(p, texts[i]);
        if (i < 3) {
            // Fixed in both directions, a new text asks no layout of the status bar at all.
            p->setFixedSize(width, p->sizeHint().height());
            ui.StatusBar1->addWidget(p);
            fixed.append({p, width});
        } else {
            // The last panel starts at its width and takes the rest of the bar.
            p->setMinimumWidth(width);
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
    QLabel* clock = ui.StatusBar1Panel3;
    return new StatusPanelFit(ui.StatusBar1, fixed, {clock, clock->minimumWidth()},
                              statusPanelWidthFor(clock, {longTimeText(QTime(23, 59, 59))}));
}

// The menus and their items carry mnemonics (Alt+F opens File; in an open menu, its
// underlined letter picks an item). The captions shown are the texts without the '&'.
void buildMenus(TerminalControls& ui, QMainWindow* window) {
    QMenuBar* bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    ui.File1 = named(bar->addMenu(QStringLiteral("&File")), "File1");
    ui.Save1 = named(ui.File1->addAction(QStringLiteral("&Save file")), "Save1");
    ui.SaveinBIN1 = named(ui.File1->addAction(QStringLiteral("Save in &BIN")), "SaveinBIN1");
    ui.Action_log = named(ui.File1->addAction(QStringLiteral("&Log to file\u2026")), "Action_log");
    ui.Action_log->setCheckable(true);
    ui.Print1 = named(ui.File1->addAction(QStringLiteral("&Print")), "Print1");
    ui.Exit1 = named(ui.File1->addAction(QStringLiteral("E&xit")), "Exit1");

    ui.Tools1 = named(bar->addMenu(QStringLiteral("&Tools")), "Tools1");
    ui.Connecttoserial1 =
        named(ui.Tools1->addAction(QStringLiteral("Connect to &serial ")), "Connecttoserial1");
    ui.ConnecttCP1 = named(ui.Tools1->addAction(QStringLiteral("&Connect TCP")), "ConnecttCP1");
    ui.ListenTCP1 = named(ui.Tools1->addAction(QStringLiteral("&Listen TCP")), "ListenTCP1");
    ui.Opencommandfile1 =
        named(ui.Tools1->addAction(QStringLiteral("&Open command file")), "Opencommandfile1");
    ui.Savecommands1 =
        named(ui.Tools1->addAction(QStringLiteral("Sa&ve commands")), "Savecommands1");
    ui.MBus1 = named(ui.Tools1->addAction(QStringLiteral("&M-Bus")), "MBus1");

    ui.Help1 = named(bar->addMenu(QStringLiteral("&Help")), "Help1");
    ui.About1 = named(ui.Help1->addAction(QStringLiteral("&About")), "About1");
    ui.Contents1 = named(ui.Help1->addAction(QStringLiteral("&Contents")), "Contents1");
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

    column->addWidget(buildTopArea(ui, central));

    buildReceivePane(ui, window);
    Memo_receive->setParent(central);
    column->addWidget(Memo_receive, 1);
    column->addWidget(buildCommandLine(ui, window));
    window->setCentralWidget(central);

    buildHiddenParts(ui, central);
    statusFit = buildStatusBar(ui, window);
    buildMenus(ui, window);
    buildSessionMenus(ui, window);

    // Blocks arrive far faster than a screen shows frames: paint at most once a frame.
    new FramePacer(window);

    Timer_Time = named(new QTimer(window), "Timer_Time");
    Timer_Time->setInterval(1000);

    // 850 x 632 in the middle of the screen's free area, as much of that as there is.
    QRect start(0, 0, kFormWidth, kFormHeight);
    const QRect area = availableScreenArea(window);
    if (!area.isEmpty())
        start.moveCenter(area.center());
    start = fitToScreen(start, area);
    statusFit->fit(start.width());
    window->resize(start.size());
    window->move(start.topLeft());
    fitFrameWhenShown(window);
}

void TerminalControls::showLinkStatus(const QString& text) {
    statusFit->setText(StatusBar1Panel0, text);
    // Whole on hover, where a narrow window cuts it.
    StatusBar1Panel0->setToolTip(text);
}

}  // namespace trelmo
