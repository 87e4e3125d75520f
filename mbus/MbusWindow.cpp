#include "mbus/MbusWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>

#include "core/Guard.h"
#include "core/mbus/MbusComposer.h"
#include "core/mbus/MbusDecoder.h"
#include "core/mbus/MbusOptions.h"
#include "mbus/MbusPanel.h"
#include "widgets/Dialogs.h"

namespace trelmo {

namespace {

template <typename W>
W* make(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int x, int y,
              bool visible = true) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    l->setVisible(visible);
    return l;
}

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items, int x, int y, int w,
                 bool visible = true) {
    auto* c = make<QComboBox>(parent, name, x, y, w, 21);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    c->setCurrentIndex(-1);
    c->setEditText(QString());
    c->setVisible(visible);
    return c;
}

QCheckBox* check(QWidget* parent, const char* name, const QString& caption, int x, int y, int w) {
    auto* c = make<QCheckBox>(parent, name, x, y, w, 17);
    c->setText(caption);
    return c;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, int maxLength, int x, int y,
                int w, bool visible = true) {
    auto* e = make<QLineEdit>(parent, name, x, y, w, 21);
    if (maxLength > 0)
        e->setMaxLength(maxLength);
    e->setText(text);
    e->setVisible(visible);
    return e;
}

// Shows the messages of a logic step in plain message boxes, in the order they came up. A
// conversion error that abandoned the step then goes on, after them, to the default error
// display, as it did when it escaped the handler.
template <typename T>
void showMessages(const mbus::Result<T>& result) {
    for (const QString& message : result.messages())
        showMessage(message);
    result.throwIfAbandoned();
}

// An up-down beside its edit: moving it writes its position into the edit.
QSpinBox* upDown(QWidget* parent, const char* name, QLineEdit* buddy, int lo, int hi, int value) {
    const QRect g = buddy->geometry();
    auto* s = make<QSpinBox>(parent, name, g.right() + 1, g.top(), 17, g.height());
    s->setRange(lo, hi);
    s->setValue(value);
    s->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    QObject::connect(s, &QSpinBox::valueChanged, buddy,
                     [buddy](int v) { buddy->setText(QString::number(v)); });
    return s;
}

}  // namespace

TForm5::TForm5(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Trelmo -> M-bus"));
    setFixedSize(649, 608);
    buildMasterGroup();
    buildSlaveGroup();
    buildPanel();
    received_ = Label_receive->text();
    copyLength_ = Label_receive2->text().size();  // both start as "Received: "
    labelTimer_.setSingleShot(true);
    labelTimer_.setInterval(kLabelDelayMs);
    connect(&labelTimer_, &QTimer::timeout, this, &TForm5::flushReceivedLabels);
    connectHandlers();
    runGuarded([this] { FormCreate(); });
}

void TForm5::buildMasterGroup() {
    GroupBox1 = make<QGroupBox>(this, "GroupBox1", 8, 8, 609, 417);
    GroupBox1->setTitle(QStringLiteral("Master-to-slave"));
    QWidget* g = GroupBox1;

    Radio_Short = make<QRadioButton>(g, "Radio_Short", 8, 20, 97, 17);
    Radio_Short->setText(QStringLiteral("Short Frame"));
    Radio_long = make<QRadioButton>(g, "Radio_long", 112, 20, 97, 17);
    Radio_long->setText(QStringLiteral("Long frame"));
    CheckBox1 = check(g, "CheckBox1", QStringLiteral("Control Frame"), 216, 20, 105);

    Label4 = label(g, "Label4", QStringLiteral("Manufacturer"), 336, 22);
    QFont bold = font();
    bold.setBold(true);
    Edit_mfr1 = edit(g, "Edit_mfr1", QStringLiteral("K"), 1, 416, 18, 21);
    Edit_mfr2 = edit(g, "Edit_mfr2", QStringLiteral("V"), 1, 440, 18, 21);
    Edit_mfr3 = edit(g, "Edit_mfr3", QStringLiteral("Y"), 1, 464, 18, 21);
    for (QLineEdit* e : {Edit_mfr1, Edit_mfr2, Edit_mfr3})
        e->setFont(bold);
    Label_mfr = label(g, "Label_mfr", QStringLiteral("= 11993"), 492, 22);
    Label_mfr->setFont(bold);
    Label_mfr->adjustSize();

    Combo_C = combo(g, "Combo_C",
                    {QStringLiteral("Initialisation of Slave (SND_NKE)"),
                     QStringLiteral("Send user data to Slave (SND_UD)"),
                     QStringLiteral("Request Class 2 Data")},
                    8, 48, 217);
    Combo_CI = combo(
        g, "Combo_CI",
        {QStringLiteral("Data send"), QStringLiteral("Reset"), QStringLiteral("Baud rate 300bps"),
         QStringLiteral("Baud rate 2400bps"), QStringLiteral("Synchro")},
        232, 48, 145);
    Label5 = label(g, "Label5", QStringLiteral("Parameter to CI Field"), 384, 34, false);
    Combo_Parameter1 =
        combo(g, "Combo_Parameter1",
              {QString(), QStringLiteral("Reset all"), QStringLiteral("Reset user data"),
               QStringLiteral("Reset simple billing"), QStringLiteral("Reset enhanced billing"),
               QStringLiteral("Reset multitariff"), QStringLiteral("Reset instantous values")},
              384, 48, 161, false);

    Label1 = label(g, "Label1", QStringLiteral("Address"), 8, 80);
    Edit_address = edit(g, "Edit_address", QStringLiteral("1"), 0, 64, 76, 41);
    UD_adress = upDown(g, "UD_adress", Edit_address, 1, 255, 1);
    BitBtn2 = make<QPushButton>(g, "BitBtn2", 136, 74, 75, 25);
    BitBtn2->setText(QStringLiteral("Search"));

    Group_DIF = make<QGroupBox>(g, "Group_DIF", 8, 104, 201, 73);
    Group_DIF->setTitle(QStringLiteral("Tariff info"));
    Check_extension =
        check(Group_DIF, "Check_extension", QStringLiteral("Change tariff"), 8, 18, 120);
    Label_tfnumb = label(Group_DIF, "Label_tfnumb", QStringLiteral("Tariff number"), 8, 46, false);
    Combo_tariff =
        combo(Group_DIF, "Combo_tariff",
              {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")},
              104, 42, 57, false);
    Group_DIF->setVisible(false);

    Group_VIF = make<QGroupBox>(g, "Group_VIF", 216, 104, 241, 73);
    Group_VIF->setTitle(QStringLiteral("Volume info"));
    Check_volume = check(Group_VIF, "Check_volume", QStringLiteral("Change Volume"), 8, 18, 120);
    Label8 = label(Group_VIF, "Label8", QStringLiteral("Vol. unit"), 8, 46, false);
    Label13 = label(Group_VIF, "Label13", QString::fromUtf8("Порядък"), 176, 20, false);
    Combo_VIF = combo(Group_VIF, "Combo_VIF",
                      {QStringLiteral("Wh"), QStringLiteral("kJ"), QStringLiteral("kg"),
                       QStringLiteral("l"), QStringLiteral("kJ/h"),
                       QStringLiteral("Time - date&time"), QStringLiteral("Time - only date"),
                       QStringLiteral("Identification"), QStringLiteral("Manufacterer specific")},
                      64, 42, 161, false);
    Group_VIF->setVisible(false);
    Combo_power = combo(g, "Combo_power",
                        {QStringLiteral("0.001"), QStringLiteral("0.01"), QStringLiteral("0.1"),
                         QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("100"),
                         QStringLiteral("1000"), QStringLiteral("10000")},
                        464, 146, 73, false);

    Action = label(g, "Action", QStringLiteral("Action"), 8, 188, false);
    Combo_Action = combo(
        g, "Combo_Action",
        {QStringLiteral("Send/Request current Date & Time"),
         QStringLiteral("Send/Request start time of tariff"),
         QStringLiteral("Send/Request tariff duration"), QStringLiteral("Send/Request tariff cost"),
         QStringLiteral("Send/Request device ID, manufacturer, medium"),
         QStringLiteral("Send/Request device type & value"), QStringLiteral("Battery status")},
        64, 184, 289, false);

    Label_ident = label(g, "Label_ident", QStringLiteral("To be Send:"), 8, 216, false);
    Edit_data = edit(g, "Edit_data", QString(), 0, 136, 212, 145, false);
    Label_medium = label(g, "Label_medium", QStringLiteral("Medium"), 296, 216, false);
    Combo_Medium = combo(
        g, "Combo_Medium",
        {QStringLiteral("Oil"), QStringLiteral("Electricity"), QStringLiteral("Gas"),
         QStringLiteral("Heat"), QStringLiteral("Steam"), QStringLiteral("Hot water"),
         QStringLiteral("Water"), QStringLiteral("Heat Cost Allocator"),
         QStringLiteral("Compressed Air"), QStringLiteral("Cold water"), QStringLiteral("Other")},
        344, 212, 145, false);

    Check_ovrVIF = check(g, "Check_ovrVIF", QStringLiteral("Overwrite VIF"), 8, 244, 105);
    Check_ovrVIF->setVisible(false);
    Edit_VIFspecial = edit(g, "Edit_VIFspecial", QStringLiteral("0"), 0, 120, 242, 41, false);
    UpDown_VIFspecial = upDown(g, "UpDown_VIFspecial", Edit_VIFspecial, 0, 255, 0);
    UpDown_VIFspecial->setVisible(false);

    Check_multi = check(g, "Check_multi", QStringLiteral("Multitelegram"), 8, 270, 105);
    GroupBox3 = make<QGroupBox>(g, "GroupBox3", 8, 290, 489, 73);
    GroupBox3->setTitle(QStringLiteral("Multitelegrams"));
    QWidget* m = GroupBox3;
    Check_multi_cost = check(m, "Check_multi_cost", QStringLiteral("Tariff cost"), 8, 18, 89);
    Check_multi_duration = check(m, "Check_multi_duration", QStringLiteral("Duration"), 8, 44, 89);
    Check_multi_time = check(m, "Check_multi_time", QStringLiteral("Start time"), 144, 18, 89);
    Check_multi_date = check(m, "Check_multi_date", QStringLiteral("Date and Time"), 144, 44, 105);
    Check_multi_id = check(m, "Check_multi_id", QStringLiteral("Id, manfr"), 280, 18, 81);
    Check_multi_type = check(m, "Check_multi_type", QStringLiteral("Type and value"), 280, 44, 105);
    Edit_multi_cost = edit(m, "Edit_multi_cost", QStringLiteral("0"), 2, 100, 16, 25, false);
    Edit_multi_duration =
        edit(m, "Edit_multi_duration", QStringLiteral("0"), 2, 100, 42, 25, false);
    Edit_multi_time = edit(m, "Edit_multi_time", QStringLiteral("12"), 2, 236, 16, 25, false);
    Edit_multi_id = edit(m, "Edit_multi_id", QStringLiteral("0"), 8, 364, 16, 73, false);
    Edit_multi_num = edit(m, "Edit_multi_num", QStringLiteral("12/12"), 5, 388, 42, 49);
    GroupBox3->setVisible(false);

    Label_Header = label(g, "Label_Header", QStringLiteral("Header: "), 8, 372);
    Label_DIF = label(g, "Label_DIF", QStringLiteral("DIF/VIF"), 8, 388);
    Label_info = label(g, "Label_info", QString(), 160, 388);
    Label_VIF = label(g, "Label_VIF", QString(), 8, 400);
    Label_crc = label(g, "Label_crc", QStringLiteral("CRC:"), 264, 372);
    Label6 = label(g, "Label6", QStringLiteral("Data:"), 264, 400);
    BitBtn1 = make<QPushButton>(g, "BitBtn1", 520, 380, 75, 25);
    BitBtn1->setText(QStringLiteral("Send"));
}

void TForm5::buildSlaveGroup() {
    GroupBox2 = make<QGroupBox>(this, "GroupBox2", 8, 432, 609, 121);
    GroupBox2->setTitle(QStringLiteral("Slave-to-master"));
    QWidget* g = GroupBox2;
    Label_receive = label(g, "Label_receive", QStringLiteral("Received: "), 8, 16);
    Label_receive2 = label(g, "Label_receive2", QStringLiteral("Received: "), 8, 16, false);
    Label_mbcs_address = label(g, "Label_mbcs_address", QStringLiteral("Adress:"), 8, 40, false);
    Label_mbcs_Id = label(g, "Label_mbcs_Id", QStringLiteral("ID:"), 8, 56, false);
    Label_mbcs_data1 = label(g, "Label_mbcs_data1", QStringLiteral("Data:"), 8, 72, false);
    Label_access = label(g, "Label_access", QStringLiteral("Access No.:"), 8, 88, false);
    static const char* const pulses[4] = {"Pulses: 24567", "Pulses: 129874", "Pulses: 18",
                                          "Pulses: 46"};
    static const char* const tariffNames[4] = {"Label_mbcs_tariff1", "Label_mbcs_tariff2",
                                               "Label_mbcs_tariff3", "Label_mbcs_tariff4"};
    static const char* const pulseNames[4] = {"Label_mbcs_pulse1", "Label_mbcs_pulse2",
                                              "Label_mbcs_pulse3", "Label_mbcs_pulse4"};
    for (int i = 0; i < 4; ++i) {
        const int y = 40 + 16 * i;
        Label_mbcs_tariff[i] =
            label(g, tariffNames[i], QStringLiteral("Tariff: %1").arg(i + 1), 144, y, false);
        Label_mbcs_pulse[i] = label(g, pulseNames[i], QLatin1String(pulses[i]), 192, y, false);
    }
    Label_mbcs_data4 = label(g, "Label_mbcs_data4", QStringLiteral("Start: 10h"), 288, 40, false);
    Label_mbcs_data5 = label(g, "Label_mbcs_data5", QStringLiteral("Start: 12h"), 288, 56, false);
    Label_mbcs_data6 = label(g, "Label_mbcs_data6", QStringLiteral("Start: 13h"), 288, 72, false);
    Label_mbcs_data7 = label(g, "Label_mbcs_data7", QStringLiteral("Start: 22h"), 288, 88, false);
    Label_mbcs_data2 = label(g, "Label_mbcs_data2", QStringLiteral("Duration: "), 344, 40, false);
    Label_mbcs_data3 = label(g, "Label_mbcs_data3", QStringLiteral("Duration: "), 344, 56, false);
    Label_mbcs_data11 = label(g, "Label_mbcs_data11", QStringLiteral("Duration:"), 344, 72, false);
    Label_mbcs_data12 = label(g, "Label_mbcs_data12", QStringLiteral("Duration:"), 344, 88, true);
    Label_mbcs_data8 = label(g, "Label_mbcs_data8", QStringLiteral("Drops 2.8V:"), 432, 40, false);
    Label_mbcs_data9 = label(g, "Label_mbcs_data9", QStringLiteral("BAT 1:"), 432, 56, false);
    Label_mbcs_data10 = label(g, "Label_mbcs_data10", QStringLiteral("BAT 2:"), 432, 72, false);
    BitBtn3 = make<QPushButton>(g, "BitBtn3", 528, 88, 75, 25);
    BitBtn3->setText(QStringLiteral("Decode"));
}

void TForm5::buildPanel() {
    // Below the two groups: the records of any meter's reply, and the panel's switch.
    Button_records = make<QPushButton>(this, "Button_records", 8, 568, 75, 25);
    Button_records->setText(QStringLiteral("Records"));
    Button_records->setToolTip(
        QStringLiteral("Decodes the captured reply into records, for any meter"));
    Button_more = make<QPushButton>(this, "Button_more", 542, 568, 75, 25);
    Button_more->setText(QStringLiteral("More >>"));
    Button_more->setToolTip(QStringLiteral("Shows the records, the scans and the meters found"));
    Panel_mbus = new MbusPanel(this);
    Panel_mbus->hide();
    connect(Panel_mbus, &MbusPanel::request, this, [this](const QByteArray& bytes, bool newReply) {
        if (newReply)
            setReceivedCaption(QStringLiteral("Received: "));
        emit captureSwitched(true);
        emit telegramReady(bytes);
    });
    // The window's own Send waits while a scan or read has the line.
    connect(Panel_mbus, &MbusPanel::busyChanged, this, [this](bool busy) {
        BitBtn1->setEnabled(!busy);
        Button_records->setEnabled(!busy);
    });
}

void TForm5::setPortOpen(bool open) {
    portOpen_ = open;
    Panel_mbus->setPortOpen(open);
}

void TForm5::setLineSpeed(int baud) {
    Panel_mbus->setLineSpeed(baud);
}

void TForm5::placePanel() {
    const int x = kCompactSize.width();
    Panel_mbus->setGeometry(x, 8, std::max(width() - x - 8, 0), std::max(height() - 16, 0));
}

void TForm5::showPanel(bool on) {
    if (on == panelShown_)
        return;
    panelShown_ = on;
    if (!on) {
        Panel_mbus->hide();
        setFixedSize(kCompactSize);
        Button_more->setText(QStringLiteral("More >>"));
        return;
    }
    // As wide and high as the panel wants, within the screen's free area (less room for the
    // window's frame).
    const QRect free = screen() ? screen()->availableGeometry() : QRect(0, 0, 1600, 1000);
    const QSize room = (free.size() - QSize(16, 48)).expandedTo(kCompactSize);
    const QSize least(kCompactSize.width() + kPanelMinWidth, kCompactSize.height());
    const QSize wanted = QSize(1540, 820).boundedTo(room).expandedTo(least.boundedTo(room));
    setMinimumSize(least.boundedTo(room));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(wanted);
    if (isVisible() && frameGeometry().right() > free.right())
        move(std::max(free.left(), free.right() - frameGeometry().width()), y());
    placePanel();
    Panel_mbus->show();
    Button_more->setText(QStringLiteral("<< Less"));
}

void TForm5::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (panelShown_)
        placePanel();
}

void TForm5::BitBtn2Click() {
    showPanel(true);
    Panel_mbus->showMetersPage();
}

void TForm5::Button_recordsClick() {
    flushReceivedLabels();
    showPanel(true);
    Panel_mbus->showRecordsPage();
    const QString prefix = QStringLiteral("Received: ");
    Panel_mbus->showCaptured(received_.startsWith(prefix) ? received_.mid(prefix.size())
                                                          : received_);
}

void TForm5::Button_moreClick() {
    showPanel(!panelShown_);
}

void TForm5::connectHandlers() {
    auto onText = [this](QComboBox* c, void (TForm5::*handler)()) {
        connect(c, &QComboBox::editTextChanged, this,
                guarded([this, handler] { (this->*handler)(); }));
    };
    auto onClick = [this](QAbstractButton* b, void (TForm5::*handler)()) {
        connect(b, &QAbstractButton::clicked, this,
                guarded([this, handler] { (this->*handler)(); }));
    };
    auto onEdit = [this](QLineEdit* e, void (TForm5::*handler)()) {
        connect(e, &QLineEdit::textChanged, this, guarded([this, handler] { (this->*handler)(); }));
    };
    onClick(BitBtn1, &TForm5::BitBtn1Click);
    onClick(BitBtn3, &TForm5::BitBtn3Click);
    onClick(BitBtn2, &TForm5::BitBtn2Click);
    onClick(Button_records, &TForm5::Button_recordsClick);
    onClick(Button_more, &TForm5::Button_moreClick);
    onText(Combo_C, &TForm5::Combo_CChange);
    onText(Combo_CI, &TForm5::Combo_CIChange);
    onText(Combo_Parameter1, &TForm5::Combo_Parameter1Change);
    onClick(Radio_Short, &TForm5::Radio_ShortClick);
    onEdit(Edit_address, &TForm5::Edit_addressChange);
    onText(Combo_Medium, &TForm5::Combo_MediumChange);
    onClick(Check_extension, &TForm5::Check_extensionClick);
    onText(Combo_tariff, &TForm5::Combo_tariffChange);
    onClick(Check_volume, &TForm5::Check_volumeClick);
    onText(Combo_VIF, &TForm5::Combo_VIFChange);
    onText(Combo_power, &TForm5::Combo_VIFChange);
    onText(Combo_Action, &TForm5::Combo_ActionChange);
    onEdit(Edit_mfr1, &TForm5::Edit_mfr1Change);
    onEdit(Edit_mfr2, &TForm5::Edit_mfr1Change);
    onEdit(Edit_mfr3, &TForm5::Edit_mfr1Change);
    onClick(Check_multi, &TForm5::Check_multiClick);
    onClick(Check_multi_cost, &TForm5::Check_multi_costClick);
    onClick(Check_multi_duration, &TForm5::Check_multi_durationClick);
    onClick(Check_multi_time, &TForm5::Check_multi_timeClick);
    onClick(Check_multi_id, &TForm5::Check_multi_idClick);
    onClick(Check_multi_type, &TForm5::Check_multi_typeClick);
}

void TForm5::setLabel(QLabel* l, const QString& text) {
    l->setText(text);
    l->adjustSize();
}

void TForm5::captureByte(uint8_t b) {
    const char byte = static_cast<char>(b);
    captureBytes(QByteArrayView(&byte, 1));
}

void TForm5::captureBytes(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    // A scan or read of the panel has the line: its replies are its own.
    if (Panel_mbus->takeTaskBytes(bytes))
        return;
    // The caption grows by two digits per byte, written in place.
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    qsizetype at = received_.size();
    received_.resize(at + 2 * bytes.size());
    char16_t* out = reinterpret_cast<char16_t*>(received_.data());
    qsizetype lastStop = -1;
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        out[at++] = kDigits[b >> 4];
        out[at++] = kDigits[b & 15];
        if (b == 0x16)
            lastStop = at;
    }
    if (lastStop >= 0) {
        copyText_.clear();
        copyLength_ = lastStop;
    }
    labelsPending_ = true;
    if (!labelTimer_.isActive())
        labelTimer_.start();
    Panel_mbus->watchReply(bytes);
}

QString TForm5::receivedCopy() const {
    return copyLength_ >= 0 ? received_.left(copyLength_) : copyText_;
}

void TForm5::detachCopy() {
    if (copyLength_ < 0)
        return;
    copyText_ = received_.left(copyLength_);
    copyLength_ = -1;
}

void TForm5::setReceivedCaption(const QString& caption) {
    detachCopy();
    received_ = caption;
    labelsPending_ = true;
    flushReceivedLabels();
}

QString TForm5::shownCaption(const QString& caption, qsizetype length) const {
    if (length <= kLabelFullChars)
        return caption.left(length);
    return QStringLiteral("Received: \u2026") +
           caption.mid(length - kLabelTailChars, kLabelTailChars);
}

void TForm5::flushReceivedLabels() {
    labelTimer_.stop();
    if (!labelsPending_)
        return;
    labelsPending_ = false;
    setLabel(Label_receive, shownCaption(received_, received_.size()));
    if (copyLength_ >= 0)
        setLabel(Label_receive2, shownCaption(received_, copyLength_));
    else
        setLabel(Label_receive2, shownCaption(copyText_, copyText_.size()));
}

void TForm5::closeEvent(QCloseEvent* event) {
    runGuarded([this] { FormClose(); });
    event->accept();  // hides the window; it is never destroyed here
}

void TForm5::FormCreate() {
    state_.create();
    Radio_long->setChecked(true);
    // The address starts from the box's shown value.
    Edit_addressChange();
}

void TForm5::FormClose() {
    Panel_mbus->cancelTask();
    emit captureSwitched(false);
}

void TForm5::BitBtn1Click() {
    if (!portOpen_) {
        showMessage(QStringLiteral("You are not connected to COM port."));
        return;
    }
    QLabel* reply[] = {
        Label_mbcs_data1,     Label_mbcs_data2,     Label_mbcs_data3,     Label_mbcs_data4,
        Label_mbcs_data5,     Label_mbcs_data6,     Label_mbcs_data7,     Label_mbcs_data8,
        Label_mbcs_data9,     Label_mbcs_data10,    Label_mbcs_data11,    Label_mbcs_data12,
        Label_mbcs_tariff[0], Label_mbcs_tariff[1], Label_mbcs_tariff[2], Label_mbcs_tariff[3],
        Label_mbcs_pulse[0],  Label_mbcs_pulse[1],  Label_mbcs_pulse[2],  Label_mbcs_pulse[3],
        Label_mbcs_Id,        Label_mbcs_address};
    for (QLabel* l : reply) {
        setLabel(l, QString());
        l->setVisible(false);
    }
    setLabel(Label_Header, QStringLiteral("Header: "));
    setLabel(Label_DIF, QStringLiteral("DIF and VIF: "));
    setLabel(Label_info, QString());
    setLabel(Label_VIF, QStringLiteral("Checksum: "));
    setReceivedCaption(QStringLiteral("Received: "));

    mbus::SendInputs in;
    in.shortFrame = Radio_Short->isChecked();
    in.recordControls = !Group_DIF->isHidden();
    in.parameterVisible = !Combo_Parameter1->isHidden();
    in.multi = Check_multi->isChecked();
    in.multiCost = Check_multi_cost->isChecked();
    in.multiTime = Check_multi_time->isChecked();
    in.multiDuration = Check_multi_duration->isChecked();
    in.multiDate = Check_multi_date->isChecked();
    in.multiId = Check_multi_id->isChecked();
    in.multiType = Check_multi_type->isChecked();
    in.overwriteVif = Check_ovrVIF->isChecked();
    in.data = Edit_data->text();
    in.vifSpecial = Edit_VIFspecial->text();
    in.tariff = Combo_tariff->currentText();
    in.multiCostText = Edit_multi_cost->text();
    in.multiTimeText = Edit_multi_time->text();
    in.multiDurationText = Edit_multi_duration->text();
    in.multiIdText = Edit_multi_id->text();
    in.multiNumText = Edit_multi_num->text();

    const auto sent = mbus::composeSend(state_, in);
    showMessages(sent);
    if (!sent)
        return;
    const mbus::SendOutcome& out = *sent;
    if (out.header)
        setLabel(Label_Header, *out.header);
    if (out.dif)
        setLabel(Label_DIF, *out.dif);
    if (out.info)
        setLabel(Label_info, *out.info);
    if (out.vif)
        setLabel(Label_VIF, *out.vif);
    if (out.crc)
        setLabel(Label_crc, *out.crc);
    if (out.data)
        setLabel(Label6, *out.data);
    Panel_mbus->requestSent(state_.Telegram_bytes);
    emit captureSwitched(true);
    emit telegramReady(state_.Telegram_bytes);
}

void TForm5::BitBtn3Click() {
    flushReceivedLabels();
    showMessages(mbus::decodeReply(received_, [this](const QString& name, const QString& text) {
        auto* l = GroupBox2->findChild<QLabel*>(name);
        if (!l)
            return;
        if (!text.isNull())
            setLabel(l, text);
        l->setVisible(true);
    }));
}

void TForm5::Combo_CChange() {
    for (QWidget* w : {static_cast<QWidget*>(Group_DIF), static_cast<QWidget*>(Group_VIF),
                       static_cast<QWidget*>(Combo_Action), static_cast<QWidget*>(Action)})
        w->setVisible(false);
    const bool records = mbus::applyCChoice(state_, Combo_C->currentText());
    if (records) {
        for (QWidget* w : {static_cast<QWidget*>(Group_DIF), static_cast<QWidget*>(Group_VIF),
                           static_cast<QWidget*>(Combo_Action), static_cast<QWidget*>(Action)})
            w->setVisible(true);
    }
}

void TForm5::Combo_CIChange() {
    Combo_Parameter1->setVisible(false);
    Label5->setVisible(false);
    if (const auto ci = mbus::ciFieldFromText(Combo_CI->currentText())) {
        state_.Field_CI = *ci;
        if (*ci == 0x50) {
            Combo_Parameter1->setVisible(true);
            Label5->setVisible(true);
        }
    }
}

void TForm5::Combo_Parameter1Change() {
    if (const auto p = mbus::resetParamFromText(Combo_Parameter1->currentText()))
        state_.Reset_param = *p;
}

void TForm5::Radio_ShortClick() {
    Radio_long->setChecked(!Radio_Short->isChecked());
}

void TForm5::Edit_addressChange() {
    state_.Field_A = mbus::addressFromText(Edit_address->text());
}

void TForm5::Combo_MediumChange() {
    const auto medium = mbus::mediumFromText(Combo_Medium->currentText());
    state_.Medium_valid = medium.has_value();
    if (medium)
        state_.Medium_code = *medium;
}

void TForm5::Check_extensionClick() {
    const bool on = Check_extension->isChecked();
    Combo_tariff->setVisible(on);
    Label_tfnumb->setVisible(on);
    if (on)
        state_.Field_DIFE = 0;
}

void TForm5::Combo_tariffChange() {
    if (const auto dife = mbus::tariffDife(state_.Field_DIFE, Combo_tariff->currentText()))
        state_.Field_DIFE = *dife;
}

void TForm5::Check_volumeClick() {
    const bool on = Check_volume->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(Combo_VIF), static_cast<QWidget*>(Combo_power),
                       static_cast<QWidget*>(Label8), static_cast<QWidget*>(Label13)})
        w->setVisible(on);
}

void TForm5::Combo_VIFChange() {
    if (const auto vif = mbus::vifFromChoice(state_.Field_VIF, Combo_VIF->currentText(),
                                             Combo_power->currentText()))
        state_.Field_VIF = *vif;
}

void TForm5::Combo_ActionChange() {
    for (QWidget* w :
         {static_cast<QWidget*>(Combo_Medium), static_cast<QWidget*>(Label_medium),
          static_cast<QWidget*>(Edit_data), static_cast<QWidget*>(Label_ident),
          static_cast<QWidget*>(Edit_VIFspecial), static_cast<QWidget*>(UpDown_VIFspecial),
          static_cast<QWidget*>(Check_ovrVIF)})
        w->setVisible(false);
    Edit_data->setMaxLength(32767);
    Edit_data->clear();
    setLabel(Label_ident, QString());
    state_.Record_data.clear();
    state_.Selected_action = mbus::actionFromText(Combo_Action->currentText());
    // The start time shows its box in request mode too (a request does not send its text);
    // every other action shows its controls only when it sends a value.
    if (state_.Selected_action == mbus::Action::StartTime) {
        Edit_data->setVisible(true);
        Edit_data->setEnabled(true);
        Edit_data->setMaxLength(5);
        return;
    }
    if (state_.Request_mode)
        return;
    auto showIdent = [this](const QString& text) {
        setLabel(Label_ident, text);
        Label_ident->setVisible(true);
    };
    switch (state_.Selected_action) {
        case mbus::Action::Duration:
            Edit_data->setVisible(true);
            Edit_data->setMaxLength(2);
            showIdent(QStringLiteral("Enter hours, 2 digits"));
            break;
        case mbus::Action::Cost:
            Edit_data->setVisible(true);
            showIdent(QStringLiteral("Enter mfr specific data"));
            break;
        case mbus::Action::Identification:
            Combo_Medium->setVisible(true);
            Label_medium->setVisible(true);
            Edit_data->setVisible(true);
            Edit_data->setMaxLength(8);
            showIdent(QStringLiteral("Identification number"));
            break;
        case mbus::Action::TypeValue:
            Edit_data->setVisible(true);
            showIdent(QStringLiteral("NUM/DENUM"));
            for (QWidget* w :
                 {static_cast<QWidget*>(Combo_Medium), static_cast<QWidget*>(Label_medium),
                  static_cast<QWidget*>(Check_ovrVIF), static_cast<QWidget*>(Edit_VIFspecial),
                  static_cast<QWidget*>(UpDown_VIFspecial), static_cast<QWidget*>(Combo_power)})
                w->setVisible(true);
            break;
        default:
            break;
    }
}

void TForm5::Edit_mfr1Change() {
    const auto number =
        mbus::manufacturerNumber(Edit_mfr1->text(), Edit_mfr2->text(), Edit_mfr3->text());
    if (!number) {
        Label_mfr->setVisible(false);
        return;
    }
    state_.Mfr_number = *number;
    setLabel(Label_mfr, QStringLiteral(" = ") + QString::number(*number));
    Label_mfr->setVisible(true);
}

void TForm5::Check_multiClick() {
    GroupBox3->setVisible(Check_multi->isChecked());
}

void TForm5::Check_multi_costClick() {
    Edit_multi_cost->setVisible(Check_multi_cost->isChecked());
}

void TForm5::Check_multi_durationClick() {
    Edit_multi_duration->setVisible(Check_multi_duration->isChecked());
}

void TForm5::Check_multi_timeClick() {
    Edit_multi_time->setVisible(Check_multi_time->isChecked());
}

void TForm5::Check_multi_idClick() {
    if (Check_multi_id->isChecked()) {
        Edit_multi_id->setVisible(true);
        Combo_Medium->setVisible(true);
        Combo_Medium->setEnabled(true);
    } else {
        Edit_multi_id->setVisible(false);
    }
}

void TForm5::Check_multi_typeClick() {
    if (Check_multi_type->isChecked()) {
        Combo_Medium->setVisible(true);
        Edit_multi_num->setVisible(true);
    } else {
        Edit_multi_num->setVisible(false);
    }
}

}  // namespace trelmo
