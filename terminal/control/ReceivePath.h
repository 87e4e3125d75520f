#pragma once
// The receive path of the main window, one for every link: a block a link has read goes
// through the receive formatter into the pane and the byte table, and the texts the window
// shows (received count, check sum, last byte's parity, the counters panel) come back as
// signals. It also holds the counters the send side updates, and the pane's message lines.
//
// Time stamps. The pane keeps the time of every line whether the stamps are shown or not
// (a few bytes a line), so switching them on shows the times of the whole capture at once.
// The times come from the links (`arrivals` of showReceived: the serial port's arrival marks,
// taken where the bytes were read from the device) or, without them, are taken when the
// block is shown (the TCP links read on this thread, just before). While the stamps are on,
// hex mode also starts a new line after an idle gap between two chunks (packetGapMs).
//
// Lines of their own (core/receive/PaneModel.h): the report of bytes lost below the program
// (addSeparateLine) and, while "Echo sent commands" is on, the echo of every send
// (showSent) never cut a received line in two: they wait for the line in progress to end.
// The echo shows the bytes as the link that sent them shows received ones, on lines marked
// as sent; it is no received byte: not counted, not in the byte table, not in the check sum,
// not in the raw log (the text log has its lines, as the pane).

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <functional>

#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"
#include "core/receive/TimeStamps.h"

namespace trelmo {

class ReceivePath : public QObject {
    Q_OBJECT
  public:
    explicit ReceivePath(QObject* parent = nullptr);

    // The pane's lines (Memo_receive shows them) and the byte table (named "Table").
    PaneModel& pane() { return pane_; }
    const PaneModel& pane() const { return pane_; }
    ByteTableModel& table() { return table_; }
    const ByteTableModel& table() const { return table_; }

    // LineIndex, ReceivedCount and CheckSum.
    const ReceiveState& state() const { return state_; }
    qint64 receivedCount() const { return state_.ReceivedCount; }

    // "Show incoming in Hex".
    void setHexMode(bool on) { hexMode_ = on; }
    bool hexMode() const { return hexMode_; }

    // Shows one block a link has read (at most policy.maxBlockBytes; the link reads no more)
    // by the link's rules; `parity` is the serial port's parity (links without parity ignore
    // it). The RxD lamp is lit for the block.
    // `arrivals`: when the block's chunks arrived (none: now).
    void showReceived(QByteArrayView block, const LinkPolicy& policy,
                      LineParity parity = LineParity::None, ArrivalTimes arrivals = {});
    // Sees every block showReceived gets, before it is shown, with the pane kind it is shown
    // as (the log to file taps here); an empty function removes the tap.
    // `arrivalNs` is the block's first byte's arrival (the stamp clock's steady time).
    using ReceiveTap =
        std::function<void(QByteArrayView block, PaneModel::Kind kind, int64_t arrivalNs)>;
    void setReceiveTap(ReceiveTap tap) { tap_ = std::move(tap); }
    // A block that could not be read or shown: the counters panel tells when
    // ("Exception receive <time>") and the RxD lamp stays lit.
    void showReceiveFailure();

    // Adds a whole line (a link's message) to the pane by the shared rule.
    void addLine(const QString& text);
    // Adds a message line that never splits received text (held until the line in progress
    // ends, when one is).
    void addSeparateLine(const QString& text);

    // ---- Echo of what was sent --------------------------------------------------------------
    // "Echo sent commands": off by default.
    void setEcho(bool on) { echo_ = on; }
    bool echo() const { return echo_; }
    // The bytes a send wrote to the link of `policy`: shown on lines of their own while the
    // echo is on, as that link shows received bytes in the current mode; otherwise nothing.
    void showSent(QByteArrayView bytes, const LinkPolicy& policy);
    // Sees every echo shown (the text log taps here); an empty function removes the tap.
    using SentTap = ReceiveTap;
    void setSentTap(SentTap tap) { sentTap_ = std::move(tap); }

    // ---- UTF-8 --------------------------------------------------------------------------------
    // "UTF-8 text": received text shown as UTF-8 (off: the code page). The pane is shown anew
    // at once; the bytes are kept as they came.
    void setUtf8(bool on);
    bool utf8() const { return pane_.utf8(); }
    // Clear: empties the pane and the byte table and resets the receive counters.
    void clear();
    // A send starts: the check sum goes back to 0.
    void resetCheckSum();
    // The send counter ("Total send: " and the count); shown in the counters panel too when
    // `show`.
    void setSentCount(int sent, bool show);

    // ---- Time stamps --------------------------------------------------------------------------
    // "Time stamps": every pane line shown, copied and saved behind its time.
    void setTimeStamps(bool on);
    bool timeStamps() const { return timeStamps_; }
    // The idle gap that starts a new line in hex mode while the stamps are on (default 20 ms;
    // 0: none).
    void setPacketGapMs(int ms);
    int packetGapMs() const { return packetGapMs_; }
    static constexpr int kDefaultPacketGapMs = 20;
    // The clock that turns line times into wall times.
    StampClock& stampClock() { return stampClock_; }
    const StampClock& stampClock() const { return stampClock_; }
    // The stamp of pane line `line` ("[hh:mm:ss.zzz] "); empty while the stamps are off and for
    // a line without a time.
    QString lineStamp(int line) const;
    // Pane line `line` as copies and saves give it: its stamp and its text.
    QString stampedLine(int line) const { return lineStamp(line) + pane_.line(line); }

  signals:
    // The stamps were switched on or off.
    void timeStampsChanged(bool on);
    // "UTF-8 text" was switched on or off.
    void utf8Changed(bool on);
    void lampChanged(bool on);                       // led_RxD, painted at the screen's pace
    void receivedLabelChanged(const QString& text);  // Label_rec
    void sentLabelChanged(const QString& text);      // Label_send
    void checkSumLabelChanged(const QString& text);  // lab_crc
    void parityLabelChanged(const QString& text);    // Lab_Parity
    void lineInfoChanged(const QString& text);       // status panel 1
    void countersPanelChanged(const QString& text);  // status panel 2

  private:
    void showCounters();

    PaneModel pane_;
    ByteTableModel table_;
    ReceiveFormatter formatter_{pane_, table_};
    ReceiveState state_;
    bool hexMode_ = false;
    ReceiveTap tap_;
    SentTap sentTap_;
    bool echo_ = false;
    bool timeStamps_ = false;
    int packetGapMs_ = kDefaultPacketGapMs;
    StampClock stampClock_;
    QString sentLabel_ = QStringLiteral("Total send:");
    QString receivedLabel_;
};

}  // namespace trelmo
