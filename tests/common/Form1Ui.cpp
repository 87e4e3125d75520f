#include "tests/common/Form1Ui.h"

#include <QMetaObject>
#include <stdexcept>

namespace trelmo::test {
namespace {

template <typename T>
T* find(const TForm1& form, const char* name) {
    T* found = form.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::logic_error(std::string("the main window has no control named ") + name);
    return found;
}

// Keeps the controls found with the window they belong to.
class Holder : public QObject {
  public:
    Holder(const TForm1& form) : QObject(const_cast<TForm1*>(&form)), ui(form) {
        setObjectName(QStringLiteral("test-controls"));
    }
    const Form1Ui ui;
};

}  // namespace

Form1Ui::Form1Ui(const TForm1& form)
    : Combo_com(find<QComboBox>(form, "Combo_com")),
      Combo_speed(find<QComboBox>(form, "Combo_speed")),
      Combo_parity(find<QComboBox>(form, "Combo_parity")),
      Combo_databits(find<QComboBox>(form, "Combo_databits")),
      Combo_stopbit(find<QComboBox>(form, "Combo_stopbit")),
      UpDown_delay(find<QSpinBox>(form, "UpDown_delay")),
      Edit_delay(find<QLineEdit>(form, "Edit_delay")),
      led_TxD(find<TdsLed>(form, "led_TxD")),
      led_RxD(find<TdsLed>(form, "led_RxD")),
      led_RTS(find<TdsLed>(form, "led_RTS")),
      led_DTR(find<TdsLed>(form, "led_DTR")),
      led_RI(find<TdsLed>(form, "led_RI")),
      Label_TxD(find<QLabel>(form, "Label_TxD")),
      Label_RxD(find<QLabel>(form, "Label_RxD")),
      Label_RTS(find<QLabel>(form, "Label_RTS")),
      Label_DTR(find<QLabel>(form, "Label_DTR")),
      Label_RI(find<QLabel>(form, "Label_RI")),
      Check_Rts(find<QCheckBox>(form, "Check_Rts")),
      Check_dtr(find<QCheckBox>(form, "Check_dtr")),
      CheckBox1(find<QCheckBox>(form, "CheckBox1")),
      CheckBox2(find<QCheckBox>(form, "CheckBox2")),
      Check_hex(find<QCheckBox>(form, "Check_hex")),
      Check_crc(find<QCheckBox>(form, "Check_crc")),
      Check_crc16(find<QCheckBox>(form, "Check_crc16")),
      lab_crc(find<QLabel>(form, "lab_crc")),
      Butt_Clear(find<QToolButton>(form, "Butt_Clear")),
      BitBtn7(find<QToolButton>(form, "BitBtn7")),
      Butt_print(find<QToolButton>(form, "Butt_print")),
      BitBtn2(find<QToolButton>(form, "BitBtn2")),
      BitBtn6(find<QToolButton>(form, "BitBtn6")),
      BitBtn5(find<QToolButton>(form, "BitBtn5")),
      BitBtn8(find<QToolButton>(form, "BitBtn8")),
      Edit_ip(find<QLineEdit>(form, "Edit_ip")),
      Edit_port(find<QLineEdit>(form, "Edit_port")),
      UD_ipTime(find<QSpinBox>(form, "UD_ipTime")),
      Edit_ipTime(find<QLineEdit>(form, "Edit_ipTime")),
      Butt_connect(find<QPushButton>(form, "Butt_connect")),
      BitBtn3(find<QPushButton>(form, "BitBtn3")),
      Butt_additional(find<QPushButton>(form, "Butt_additional")),
      Edit_send(find<QComboBox>(form, "Edit_send")),
      BitBtn4(find<QPushButton>(form, "BitBtn4")),
      BitBtn1(find<QPushButton>(form, "BitBtn1")),
      UpDown_delay_command(find<QSpinBox>(form, "UpDown_delay_command")),
      Edit_delay_command(find<QLineEdit>(form, "Edit_delay_command")),
      Button1(find<QPushButton>(form, "Button1")),
      Memo_receive(find<ReceivePaneView>(form, "Memo_receive")),
      PopupMenu1(find<QMenu>(form, "PopupMenu1")),
      Clear1(find<QAction>(form, "Clear1")),
      Save2(find<QAction>(form, "Save2")),
      SaveinBIN2(find<QAction>(form, "SaveinBIN2")),
      Label_com_status(find<QLabel>(form, "Label_com_status")),
      Label_rec(find<QLabel>(form, "Label_rec")),
      Label_send(find<QLabel>(form, "Label_send")),
      Lab_Parity(find<QLabel>(form, "Lab_Parity")),
      Label_Time(find<QLabel>(form, "Label_Time")),
      Label_Date(find<QLabel>(form, "Label_Date")),
      Memo1(find<QPlainTextEdit>(form, "Memo1")),
      Memo2(find<QPlainTextEdit>(form, "Memo2")),
      StatusBar1(find<QStatusBar>(form, "StatusBar1")),
      StatusBar1Panel0(find<QLabel>(form, "StatusBar1Panel0")),
      StatusBar1Panel1(find<QLabel>(form, "StatusBar1Panel1")),
      StatusBar1Panel2(find<QLabel>(form, "StatusBar1Panel2")),
      StatusBar1Panel3(find<QLabel>(form, "StatusBar1Panel3")),
      File1(find<QMenu>(form, "File1")),
      Tools1(find<QMenu>(form, "Tools1")),
      Help1(find<QMenu>(form, "Help1")),
      Save1(find<QAction>(form, "Save1")),
      SaveinBIN1(find<QAction>(form, "SaveinBIN1")),
      Print1(find<QAction>(form, "Print1")),
      Exit1(find<QAction>(form, "Exit1")),
      Connecttoserial1(find<QAction>(form, "Connecttoserial1")),
      ConnecttCP1(find<QAction>(form, "ConnecttCP1")),
      ListenTCP1(find<QAction>(form, "ListenTCP1")),
      Opencommandfile1(find<QAction>(form, "Opencommandfile1")),
      Savecommands1(find<QAction>(form, "Savecommands1")),
      MBus1(find<QAction>(form, "MBus1")),
      About1(find<QAction>(form, "About1")),
      Contents1(find<QAction>(form, "Contents1")),
      Timer_Time(find<QTimer>(form, "Timer_Time")),
      Timer_autoSend(find<QTimer>(form, "Timer_autoSend")),
      Table(find<QAbstractItemModel>(form, "Table")),
      Combo_eol(find<QComboBox>(form, "Combo_eol")),
      Check_repeat(find<QCheckBox>(form, "Check_repeat")),
      Edit_repeat(find<QSpinBox>(form, "Edit_repeat")),
      Label_repeat(find<QLabel>(form, "Label_repeat")),
      Action_reopen(find<QAction>(form, "Action_reopen")),
      Action_keepHistory(find<QAction>(form, "Action_keepHistory")) {}

QLabel* Form1Ui::panel(int index) const {
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

const Form1Ui& ui(const TForm1* form) {
    for (QObject* child : form->children()) {
        if (auto* holder = dynamic_cast<Holder*>(child))
            return holder->ui;
    }
    return (new Holder(*form))->ui;
}

}  // namespace trelmo::test
