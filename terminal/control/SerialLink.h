#pragma once
// The serial link of the main window: the port (`Com_Port`) with its fixed design settings,
// the settings the user chose (ComName, Speed, ParityName, DataBits, StopBits), connect and
// disconnect, the RTS and DTR lines and the port's line events. Received blocks go to the
// receive path; what the window shows comes back as signals.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "core/receive/ByteStore.h"
#include "serial/OpenFailure.h"
#include "terminal/control/LinkTypes.h"

class QTimer;

namespace trelmo {

namespace serial {
class TVaComm;
}
class ReceivePath;

class SerialLinkController : public QObject {
    Q_OBJECT
  public:
    SerialLinkController(ReceivePath& receive, const LinkStatus& links, QObject* parent = nullptr);
    ~SerialLinkController() override;

    serial::TVaComm* port() const { return Com_Port; }
    // The link is the user's: opened and not disconnected (a port waiting for its device
    // counts, so the other links stay refused).
    bool portOpen() const { return PortOpen; }
    // Bytes can be written: open, and not waiting for its device.
    bool writable() const { return PortOpen && !waiting_; }
    // The device vanished and the port waits for it to return.
    bool waiting() const { return waiting_; }

    // ---- The settings as chosen ---------------------------------------------------------
    const QString& comName() const { return ComName; }
    const QString& parityName() const { return ParityName; }
    int speed() const { return Speed; }
    int dataBits() const { return DataBits; }
    int stopBits() const { return StopBits; }
    // As loaded from the settings file (no checks, no messages).
    void loadSettings(const QString& comName, const QString& parityName, int speed, int dataBits,
                      int stopBits);
    // A user's choice in the settings boxes. The numeric ones raise EConvertError for a text
    // that is not a number and keep the previous value. A new name while the port is open
    // asks the user to reconnect.
    void chooseComName(const QString& text);
    void chooseSpeed(const QString& text);
    void chooseParity(const QString& text);
    void chooseDataBits(const QString& text);
    void chooseStopBits(const QString& text);

    // "Control RTS": RTS is raised for the time of each send.
    void setRtsControl(bool on) { rtsControl_ = on; }
    bool rtsControl() const { return rtsControl_; }

    // ---- Connection -----------------------------------------------------------------------
    // Connect or disconnect ("Connect/disconnect to serial port"). Connecting opens the
    // device typed in the COM name box (`comText`) with the chosen settings; a rate outside
    // the port's table is taken from the speed box's text (`speedText`). Refuses while a TCP
    // link is active. A failed open raises the port's error and leaves everything as it was.
    void toggle(const QString& comText, const QString& speedText);
    // Releases the device at once, pauses 20 ms, shows the closed status and closes the
    // port. Does nothing while the port is closed.
    void disconnectPort();
    // The port closed at the end of the program (the hook, when set, instead).
    void closeOnExit();
    std::function<void()> closePortHook;

    // ---- Reopen when the device returns -------------------------------------------------
    // While on, a device that vanishes from under the open port is waited for: one pane line
    // says when and why it was lost, the status says the port waits, and every
    // kReopenIntervalMs the port tries to open it again with the same settings, quietly. The
    // device is looked for through its /dev/serial/by-id link when it had one at connect (an
    // adapter that comes back under another ttyUSB number is found), else under its path.
    // When it opens, one pane line says so and the capture goes on. Disconnecting stops the
    // waiting. While off, a vanished device closes the port and says so in a box.
    void setReopen(bool on) { reopen_ = on; }
    bool reopen() const { return reopen_; }
    static constexpr int kReopenIntervalMs = 500;
    // Where the device's stable names, the process table and the access check are looked
    // up (the machine's unless a test puts its own): for finding a device again and for
    // saying why one did not open.
    serial::DeviceSystem deviceSystem;

    // ComName + " - status: CLOSED", and the open status text.
    QString closedStatusText() const;
    QString openStatusText() const;
    // Shows the closed status (the window's initial state).
    void showClosedStatus();

    // ---- Lines and writes -------------------------------------------------------------------
    // "Set RTS" / "Set DTR": the line and its lamp, while the port is open.
    void setRtsLine(bool on);
    void setDtrLine(bool on);
    // Writes one byte of a command.
    void writeByte(uint8_t byte);
    // Writes a whole M-Bus telegram in one piece.
    void writeTelegram(const QByteArray& bytes);
    // While on, each received block is passed on by `captured` (the M-Bus window's capture).
    void setMbusCapture(bool on) { MbusCapture = on; }
    bool mbusCapture() const { return MbusCapture; }

  signals:
    // The link status text (Label_com_status and status panel 0).
    void statusChanged(const QString& text);
    // The port opened or closed: the settings boxes are usable only while it is closed.
    void openChanged(bool open);
    void lampChanged(Lamp lamp, bool on);
    void notice(const Notice& notice);
    // A received block while the M-Bus capture is on.
    void captured(const QByteArray& bytes);
    // The device vanished and the port waits for it (reopen on).
    void lost();
    // The port works again after waiting.
    void reopened();

  private:
    // The port's events.
    void Com_PortRxChar(int Count);
    void Com_PortDataLost(qint64 Count);
    void Com_PortDeviceLost(const QString& Message);
    void say(const QString& text);
    void tryReopen();
    void stopWaiting();

    ReceivePath& receive_;
    const LinkStatus& links_;
    serial::TVaComm* Com_Port = nullptr;

    QString ComName;
    QString ParityName;
    int32_t Speed = 9600;
    int32_t StopBits = 1;
    int32_t DataBits = 8;
    bool PortOpen = false;
    bool MbusCapture = false;
    bool rtsControl_ = false;
    bool reopen_ = false;
    bool waiting_ = false;
    QTimer* reopenTimer_ = nullptr;
    QString devicePath_;  // the device as opened (mapped name)
    QString byIdLink_;    // its stable link when it had one at connect
    QElapsedTimer lostClock_;
};

}  // namespace trelmo
