#pragma once
// The main window's controls as tests (and any automation) find them: by their objectName.
// ui(form) finds them once per window and keeps the answer with the window.

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "terminal/ReceivePaneView.h"
#include "terminal/Terminal.h"
#include "terminal/control/Controllers.h"
#include "widgets/dsLeds.h"

namespace trelmo::test {

struct Form1Ui {
    explicit Form1Ui(const TForm1& form);

    QComboBox* Combo_com;
    QComboBox* Combo_speed;
    QComboBox* Combo_parity;
    QComboBox* Combo_databits;
    QComboBox* Combo_stopbit;
    QSpinBox* UpDown_delay;
    QLineEdit* Edit_delay;
    TdsLed* led_TxD;
    TdsLed* led_RxD;
    TdsLed* led_RTS;
    TdsLed* led_DTR;
    TdsLed* led_RI;
    QLabel* Label_TxD;
    QLabel* Label_RxD;
    QLabel* Label_RTS;
    QLabel* Label_DTR;
    QLabel* Label_RI;
    QCheckBox* Check_Rts;
    QCheckBox* Check_dtr;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* Check_hex;
    QCheckBox* Check_crc;
    QCheckBox* Check_crc16;
    QLabel* lab_crc;
    QToolButton* Butt_Clear;
    QToolButton* BitBtn7;
    QToolButton* Butt_print;
    QToolButton* BitBtn2;
    QToolButton* BitBtn6;
    QToolButton* BitBtn5;
    QToolButton* BitBtn8;
    QLineEdit* Edit_ip;
    QLineEdit* Edit_port;
    QSpinBox* UD_ipTime;
    QLineEdit* Edit_ipTime;
    QPushButton* Butt_connect;
    QPushButton* BitBtn3;
    QPushButton* Butt_additional;
    QComboBox* Edit_send;
    QPushButton* BitBtn4;
    QPushButton* BitBtn1;
    QSpinBox* UpDown_delay_command;
    QLineEdit* Edit_delay_command;
    QPushButton* Button1;
    ReceivePaneView* Memo_receive;
    QMenu* PopupMenu1;
    QAction* Clear1;
    QAction* Save2;
    QAction* SaveinBIN2;
    QLabel* Label_com_status;
    QLabel* Label_rec;
    QLabel* Label_send;
    QLabel* Lab_Parity;
    QLabel* Label_Time;
    QLabel* Label_Date;
    QPlainTextEdit* Memo1;
    QPlainTextEdit* Memo2;
    QStatusBar* StatusBar1;
    QLabel* StatusBar1Panel0;
    QLabel* StatusBar1Panel1;
    QLabel* StatusBar1Panel2;
    QLabel* StatusBar1Panel3;
    QMenu* File1;
    QMenu* Tools1;
    QMenu* Help1;
    QAction* Save1;
    QAction* SaveinBIN1;
    QAction* Print1;
    QAction* Exit1;
    QAction* Connecttoserial1;
    QAction* ConnecttCP1;
    QAction* ListenTCP1;
    QAction* Opencommandfile1;
    QAction* Savecommands1;
    QAction* MBus1;
    QAction* About1;
    QAction* Contents1;
    QTimer* Timer_Time;
    QTimer* Timer_autoSend;
    QAbstractItemModel* Table;
    QComboBox* Combo_eol;
    QCheckBox* Check_repeat;
    QSpinBox* Edit_repeat;
    QLabel* Label_repeat;
    QAction* Action_reopen;
    QAction* Action_keepHistory;

    // Status panel i (0 to 3).
    QLabel* panel(int index) const;
};

// The controls of `form`, found on the first call.
const Form1Ui& ui(const TForm1* form);
inline const Form1Ui& ui(const TForm1& form) {
    return ui(&form);
}
inline const Form1Ui& ui(const std::unique_ptr<TForm1>& form) {
    return ui(form.get());
}

}  // namespace trelmo::test
