#pragma once
// TForm1: the main window of the terminal. Controls keep their designer names (also their
// objectName). Handlers are grouped by concern; each concern may live in its own source file
// named Terminal<Concern>.cpp.

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>

#include "mbus/MbusHost.h"
#include "core/receive/ReceiveFormatter.h"

class QAction;
class QComboBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolButton;
class QWidget;
class TdsLed;
namespace trelmo::serial {
class TVaComm;
}
using trelmo::serial::TVaComm;
namespace trelmo {
class TClientSocket;
class TServerSocket;
class TCustomWinSocket;
class PaneModel;
class ReceivePaneView;
class ByteTableModel;
class TForm5;
}  // namespace trelmo

class TForm1 : public QMainWindow, public trelmo::MbusHost {
    Q_OBJECT
  public:
    // Builds the window, loads the settings file at `settingsPath` and sets the initial state.
    explicit TForm1(const QString& settingsPath, QWidget* parent = nullptr);
    ~TForm1() override;

    const QString& settingsPath() const { return settingsPath_; }

    // ---- Serial settings (Combo_*, Edit_delay) -------------------------------------------
    QComboBox* Combo_com = nullptr;
    QComboBox* Combo_speed = nullptr;
    QComboBox* Combo_parity = nullptr;
    QComboBox* Combo_databits = nullptr;
    QComboBox* Combo_stopbit = nullptr;
    QSpinBox* UpDown_delay = nullptr;  // its line edit is Edit_delay
    QLineEdit* Edit_delay = nullptr;

    // ---- Line lamps and line controls -------------------------------------------------------
    TdsLed* led_TxD = nullptr;
    TdsLed* led_RxD = nullptr;
    TdsLed* led_RTS = nullptr;
    TdsLed* led_DTR = nullptr;
    TdsLed* led_RI = nullptr;  // hidden
    QLabel* Label_TxD = nullptr;
    QLabel* Label_RxD = nullptr;
    QLabel* Label_RTS = nullptr;
    QLabel* Label_DTR = nullptr;
    QLabel* Label_RI = nullptr;  // hidden with its lamp
    QCheckBox* Check_Rts = nullptr;
    QCheckBox* Check_dtr = nullptr;
    QCheckBox* CheckBox1 = nullptr;  // "Set RTS"
    QCheckBox* CheckBox2 = nullptr;  // "Set DTR"

    // ---- Display options -----------------------------------------------------------------
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

    // ---- TCP --------------------------------------------------------------------------------
    QLineEdit* Edit_ip = nullptr;
    QLineEdit* Edit_port = nullptr;
    QSpinBox* UD_ipTime = nullptr;  // its line edit is Edit_ipTime
    QLineEdit* Edit_ipTime = nullptr;
    QPushButton* Butt_connect = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Butt_additional = nullptr;

    // ---- Command line ------------------------------------------------------------------------
    QComboBox* Edit_send = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QSpinBox* UpDown_delay_command = nullptr;  // its line edit is Edit_delay_command
    QLineEdit* Edit_delay_command = nullptr;
    QPushButton* Button1 = nullptr;  // hidden

    // ---- Receive pane, hidden labels and buffers ---------------------------------------------
    trelmo::ReceivePaneView* Memo_receive = nullptr;  // shows Pane
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

    // ---- Status bar ---------------------------------------------------------------------------
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusBar1Panel0 = nullptr;  // link status
    QLabel* StatusBar1Panel1 = nullptr;  // last-byte parity
    QLabel* StatusBar1Panel2 = nullptr;  // counters
    QLabel* StatusBar1Panel3 = nullptr;  // clock
    // Panel i (0 to 3).
    QLabel* panel(int index) const;

    // ---- Main menu ------------------------------------------------------------------------------
    QMenu* File1 = nullptr;
    QMenu* Tools1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveinBIN1 = nullptr;
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

    // ---- Timers ---------------------------------------------------------------------------------
    QTimer* Timer_Time = nullptr;      // 1000 ms, running
    QTimer* Timer_autoSend = nullptr;  // batch sending, stopped

    // ---- Main window state ----------------------------------------------------------------------
    QString ComName;
    QString ParityName;
    int32_t Speed = 9600;
    int32_t StopBits = 1;
    int32_t DataBits = 8;
    int32_t CharDelay = 0;  // pause in ms after each sent byte, as loaded
    bool PortOpen = false;
    bool TcpConnected = false;
    bool ListenerClientConnected = false;
    bool BatchSending = false;
    bool TableShown = false;
    bool MbusCapture = false;
    bool AutoSave = false;  // "Save data"/"Autosave": loaded, consulted by nothing

    // ---- Start-up and shutdown (TerminalSettings.cpp) -------------------------------------------
    // Reads the settings file into the controls and state; any error gives the fallbacks.
    void LoadSettings();
    // Sets the controls' keys in their fixed order and writes the settings file once; false
    // (after showing "Unable to save current settings!") when it could not be written, and
    // the file is then as it was.
    bool SaveSettings();
    // Runs when the window closes, whatever started it: saves the settings, then closes
    // the serial port through ClosePortOnExit().
    void FormClose();
    // Whether this user may open a device path: 0, or the errno that says why not (the
    // machine's access rights unless a test puts its own). A refused connect names a
    // permission problem and what to do about it.
    std::function<int(const QString& path)> deviceAccess;
    // Closes the serial port at the end. Calls closePortHook when set.
    virtual void ClosePortOnExit();
    std::function<void()> closePortHook;

    // ---- Handlers of this window (Terminal.cpp) ----------------------------------------------
    void Exit1Click();
    void BitBtn8Click();
    void Timer_TimeTimer();
    void Check_crcClick();
    void Butt_additionalClick();
    void BitBtn5Click();
    void MBus1Click();
    void Contents1Click() {}

    // The byte table window the "More >>" button shows and hides (not owned).
    void setTableWindow(QWidget* window) { tableWindow_ = window; }
    QWidget* tableWindow() const { return tableWindow_; }
    // The table window was closed (by its close box or by Butt_additional).
    void TableWindowClosed();

    // The serial status text: ComName + " - status: CLOSED", into Label_com_status and panel 0.
    void ShowClosedStatus();

    // ---- Links (created with the window; configured by the concerns below) --------------------
    TVaComm* Com_Port = nullptr;                    // the serial port
    trelmo::TClientSocket* Xport_socket = nullptr;  // the TCP client link
    trelmo::TServerSocket* Socket1 = nullptr;       // the TCP listener

    // ---- Receive state and the models behind the pane and the byte table -----------------------
    // PendingLine, LineIndex, ReceivedCount and CheckSum of the window.
    trelmo::ReceiveState Recv;
    trelmo::PaneModel* Pane = nullptr;        // lines of Memo_receive
    trelmo::ByteTableModel* Table = nullptr;  // the byte table (shown by TForm4's StringGrid1)
    trelmo::ReceiveFormatter* Formatter = nullptr;
    // Adds a whole line to the receive pane by the shared rule; LineIndex += 1.
    void AddPaneLine(const QString& text);
    // Status panel 2: Label_send, three blanks, Label_rec.
    void ShowCounters();
    // Any link active: PortOpen, TcpConnected, ListenerClientConnected.
    bool AnyLinkActive() const { return PortOpen || TcpConnected || ListenerClientConnected; }

    // ---- Serial connection (TerminalSerial.cpp) -------------------------------------------------
    // Connect or disconnect the serial port (button "Connect/disconnect to serial port" and
    // the menu "Connect to serial "). Refuses while a TCP link is active.
    void BitBtn2Click();
    void Combo_comChange();
    // The numeric settings: a text that is not a number raises EConvertError and keeps the
    // previous value.
    void Combo_speedChange();
    void Combo_parityChange();
    void Combo_databitsChange();
    void Combo_stopbitChange();
    // The key rule of Combo_speed: a key other than a digit, backspace (8), line feed (10) or
    // carriage return (13) becomes Escape (27). The box applies the same rule to whatever is
    // typed or pasted, whatever it holds already, so a pasted number and Enter keep working.
    static void Combo_speedKeyPress(char16_t& Key);
    void CheckBox1Click();  // "Set RTS"
    void CheckBox2Click();  // "Set DTR"
    void Com_PortTxEmpty(TVaComm* Sender);
    void Com_PortRing(TVaComm* Sender);
    void Com_PortPErr(TVaComm* Sender);
    // Bytes were lost below the program (the UART overran, the driver's buffer overflowed):
    // one pane line says when and how many, in the receive pane where the gap is.
    void Com_PortDataLost(TVaComm* Sender, qint64 Count);
    // The device vanished while open: the port is closed as by a disconnect (closed status,
    // settings enabled), then one message names the port and the reason.
    void Com_PortDeviceLost(TVaComm* Sender, const QString& Message);
    // The disconnect: release the device at once, pause 20 ms, closed status, PortOpen false,
    // Close, settings controls enabled. Does nothing while the port is closed.
    void DisconnectSerial();
    // What follows "This COM port is in use by another program!" when the device could not
    // be opened: for a device this user may not open, the reason and what to do; otherwise
    // nothing.
    QString refusalReason(const QString& path) const;
    // ComName, Speed, DataBits, ParityName, StopBits + " - OPEN".
    QString OpenStatusText() const;

    // ---- Receive handlers (TerminalReceive.cpp) -------------------------------------------------
    // The port's received-characters event: reads min(Count, 10000) bytes and shows them; the
    // rest comes with the next event. While MbusCapture, each byte also goes to the M-Bus window.
    void Com_PortRxChar(TVaComm* Sender, int Count);

    // ---- Command sending (TerminalSend.cpp) ---------------------------------------------------
    // Sends the command line's string to every active link, byte by byte ("Send current
    // command only"); also run by Enter in Edit_send and by the batch timer.
    void BitBtn4Click();
    // Carriage return (13) sends; the key is passed on unchanged.
    void Edit_sendKeyPress(char16_t& Key);

    // ---- TCP client and listener (TerminalTcp.cpp) ----------------------------------------------
    // "Connect to host" / "Disconnect TCP". Connecting waits UD_ipTime x 10 ms handling events;
    // a click that would start another attempt during that wait is ignored.
    void Butt_connectClick();
    void ConnecttCP1Click() { Butt_connectClick(); }
    // Events of Xport_socket. errorEvent is the socket's trelmo::ErrorEvent as a number.
    void Xport_socketConnect(trelmo::TCustomWinSocket* Socket);
    void Xport_socketDisconnect(trelmo::TCustomWinSocket* Socket);
    void Xport_socketError(trelmo::TCustomWinSocket* Socket, int errorEvent, int& ErrorCode);
    void Xport_socketRead(trelmo::TCustomWinSocket* Socket);
    // "Listen on port" / "Close socket".
    void BitBtn3Click();
    void ListenTCP1Click() { BitBtn3Click(); }
    // Events of Socket1. Only the first connection is served; a connection accepted while one
    // is served is reported and closed at once.
    void Socket1ClientConnect(trelmo::TCustomWinSocket* Socket);
    void Socket1Accept(trelmo::TCustomWinSocket* Socket);
    void Socket1ClientRead(trelmo::TCustomWinSocket* Socket);
    void Socket1ClientDisconnect(trelmo::TCustomWinSocket* Socket);
    void Socket1ClientError(trelmo::TCustomWinSocket* Socket, int errorEvent, int& ErrorCode);
    // Key filters: a key other than those passed becomes 27 (the escape character), which the
    // edit does not insert. Edit_ip passes digits, ".", 8, 10 and 13; the others digits, 8, 10
    // and 13.
    void Edit_ipKeyPress(QChar& Key);
    void Edit_portKeyPress(QChar& Key);
    void Edit_ipTimeKeyPress(QChar& Key);
    // The number in Edit_port; 502 when the field is empty or not a number.
    int TcpPortNumber() const;
    // True while Butt_connectClick waits for the connection.
    bool TcpConnectWaiting() const { return tcpConnectWaiting_; }

  private:
    bool tcpConnectWaiting_ = false;

  public:
    // ---- Command files, batch sending, capture saving and printing (TerminalFiles.cpp) ----------
    // The command list is the item list of Edit_send. Opening a command file replaces it (and
    // fills the hidden Memo2 with the same lines); the command line's own text is kept.
    void BitBtn6Click();
    void Opencommandfile1Click() { BitBtn6Click(); }
    // Writes the command list to the file chosen in the shared save dialog.
    void Savecommands1Click();
    // Starts a run (one command per Timer_autoSend tick, the first one delay after the click)
    // or, when the caption says "Stop sending commands", stops it.
    void BitBtn1Click();
    // One tick of a run: entry BatchIndex goes into Edit_send and is sent by BitBtn4Click.
    // While a message box is open the run waits; it goes on when the box is closed.
    void Timer_autoSendTimer();
    // Key filter of Edit_delay_command: a key other than a digit, 8, 10 or 13 becomes 27
    // (the escape character), which the edit does not insert.
    void Edit_delay_commandKeyPress(QChar& Key);
    int BatchIndex = 0;  // the run's next command

    // Clear: empties the pane and the byte table and resets the receive counters.
    void Butt_ClearClick();
    void Clear1Click() { Butt_ClearClick(); }
    // The text log.
    void BitBtn7Click();
    void Save1Click() { BitBtn7Click(); }
    void Save2Click() { BitBtn7Click(); }
    // The BIN file.
    void Button1Click();
    void SaveinBIN1Click() { Button1Click(); }
    void SaveinBIN2Click() { Button1Click(); }
    // The printout (print dialog, then one page on the chosen printer).
    void Butt_printClick();
    void Print1Click() { Butt_printClick(); }
    // The name the shared save dialog (text log, BIN file, command list) offers next: the
    // last name chosen in it, "log.txt" at first.
    QString SaveFileName = QStringLiteral("log.txt");

  private:
    int batchDelay_ = 0;          // the command delay in force for the current run
    int batchRun_ = 0;            // counts started and stopped runs
    bool batchTickBusy_ = false;  // a tick is sending (ticks never nest)

  public:
    // ---- M-Bus window (TerminalMbus.cpp) --------------------------------------------------------
    // The M-Bus window that receives captured bytes (not owned).
    void setMbusWindow(trelmo::TForm5* window);
    bool portOpen() const override;
    void writeTelegram(const QByteArray& bytes) override;
    void setMbusCapture(bool on) override;

  signals:
    // "About" menu item or the "About the program" button.
    void aboutRequested();
    // The "M-Bus" menu item.
    void mbusRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildSerialArea(QWidget* top);
    void buildLineArea(QWidget* top);
    void buildTcpArea(QWidget* top);
    void buildButtons(QWidget* top);
    QWidget* buildCommandLine();
    void buildReceivePane();
    void buildHiddenParts(QWidget* host);
    void buildStatusBar();
    void buildMenus();
    void connectHandlers();
    void createLinksAndModels();
    // Each concern wires its own controls and link events (in its own source file).
    void connectSerialHandlers();
    void connectSendHandlers();
    void connectTcpHandlers();
    void connectFileHandlers();

    QString settingsPath_;
    QWidget* tableWindow_ = nullptr;
    trelmo::TForm5* mbusWindow_ = nullptr;
};
