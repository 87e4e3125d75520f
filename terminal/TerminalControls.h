#pragma once
// The controls of the main window, each under its designer name (also its objectName), and
// the builder that creates and lays them out. Only the main window holds them: everything else
// finds a control by its objectName.

class QAction;
class QComboBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolButton;
class QString;

namespace trelmo {

class PortComboBox;
class ReceivePaneView;
class TdsLed;

class StatusPanelFit;

struct TerminalControls {
    // ---- Serial settings -------------------------------------------------------------------
    PortComboBox* Combo_com = nullptr;
    QComboBox* Combo_speed = nullptr;
    QComboBox* Combo_parity = nullptr;
    QComboBox* Combo_databits = nullptr;
    QComboBox* Combo_stopbit = nullptr;
    QSpinBox* UpDown_delay = nullptr;  // its line edit is Edit_delay
    QLineEdit* Edit_delay = nullptr;

    // ---- Line lamps and line controls ------------------------------------------------------
    TdsLed* led_TxD = nullptr;
    TdsLed* led_RxD = nullptr;
    TdsLed* led_RTS = nullptr;
    TdsLed* led_DTR = nullptr;
    TdsLed* led_RI = nullptr;  // hidden
    QCheckBox* Check_Rts = nullptr;
    QCheckBox* Check_dtr = nullptr;
    QCheckBox* CheckBox1 = nullptr;  // "Set RTS"
    QCheckBox* CheckBox2 = nullptr;  // "Set DTR"

    // ---- Display options -------------------------------------------------------------------
    QCheckBox* Check_hex = nullptr;
    QCheckBox* Check_crc = nullptr;    // hidden
    QCheckBox* Check_crc16 = nullptr;  // hidden
    QLabel* lab_crc = nullptr;         // hidden unless Check_crc is ticked

    // ---- Glyph buttons ---------------------------------------------------------------------
    QToolButton* Butt_Clear = nullptr;
    QToolButton* BitBtn7 = nullptr;
    QToolButton* Butt_print = nullptr;
    QToolButton* BitBtn2 = nullptr;
    QToolButton* BitBtn6 = nullptr;
    QToolButton* BitBtn5 = nullptr;
    QToolButton* BitBtn8 = nullptr;

    // ---- TCP -------------------------------------------------------------------------------
    QLineEdit* Edit_ip = nullptr;
    QLineEdit* Edit_port = nullptr;
    QSpinBox* UD_ipTime = nullptr;  // its line edit is Edit_ipTime
    QLineEdit* Edit_ipTime = nullptr;
    QPushButton* Butt_connect = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Butt_additional = nullptr;

    // ---- Command line ----------------------------------------------------------------------
    QComboBox* Edit_send = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QSpinBox* UpDown_delay_command = nullptr;  // its line edit is Edit_delay_command
    QLineEdit* Edit_delay_command = nullptr;
    QPushButton* Button1 = nullptr;     // hidden
    QComboBox* Combo_eol = nullptr;     // the line ending appended to each command
    QCheckBox* Check_repeat = nullptr;  // "Repeat every"
    QSpinBox* Edit_repeat = nullptr;    // the repeat's period in ms
    QLabel* Label_repeat = nullptr;     // the repeat's count of sends

    // ---- Receive pane, hidden labels and buffers -------------------------------------------
    ReceivePaneView* Memo_receive = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Save2 = nullptr;
    QAction* SaveinBIN2 = nullptr;
    QLabel* Label_com_status = nullptr;
    QLabel* Label_rec = nullptr;
    QLabel* Label_send = nullptr;
    QLabel* Lab_Parity = nullptr;
    QLabel* Label_Time = nullptr;
    QLabel* Label_Date = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;

    // ---- Status bar ------------------------------------------------------------------------
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusBar1Panel0 = nullptr;  // link status
    QLabel* StatusBar1Panel1 = nullptr;  // line information
    QLabel* StatusBar1Panel2 = nullptr;  // counters
    QLabel* StatusBar1Panel3 = nullptr;  // clock
    QLabel* StatusBar1Panel4 = nullptr;  // the log file and its size; hidden unless logging

    // ---- Main menu -------------------------------------------------------------------------
    QMenu* File1 = nullptr;
    QMenu* Tools1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveinBIN1 = nullptr;
    QAction* Action_log = nullptr;  // "Log to file…", checked while logging
    QAction* Print1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Connecttoserial1 = nullptr;
    QAction* ConnecttCP1 = nullptr;
    QAction* ListenTCP1 = nullptr;
    QAction* Opencommandfile1 = nullptr;
    QAction* Savecommands1 = nullptr;
    QAction* MBus1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* Action_reopen = nullptr;       // Tools: reopen the port when it returns
    QAction* Action_keepHistory = nullptr;  // Tools: keep the command history

    // ---- Timers ----------------------------------------------------------------------------
    QTimer* Timer_Time = nullptr;  // 1000 ms

    // Creates every control on `window` and lays the window out: boxes, panels and buttons
    // as wide as their texts need in the window's font and style; the window 850 x 632 in the
    // middle of the screen's free area, or as much of it as there is.
    void build(QMainWindow* window);

    // Shows the link's status in StatusBar1Panel0; a text longer than the panel was made for
    // (a long device name) widens it, taking room from the clock first.
    void showLinkStatus(const QString& text);

  private:
    StatusPanelFit* statusFit = nullptr;
};

}  // namespace trelmo
