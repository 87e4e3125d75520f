#pragma once
// The receive rules for one block of bytes handed over by the active link: per byte the
// check sum, the parity value (serial), the control-byte names, the line break, the pane
// text, the count and the byte-table row; at the end of the block the pending pane text is
// written and the texts the window shows are returned. The links differ only in a policy.

#include <QByteArrayView>
#include <QString>
#include <cstdint>

#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/CheckSum.h"
#include "core/receive/PaneModel.h"
#include "core/receive/TimeStamps.h"

namespace trelmo {

// The receive state the main window owns and every receive path shares.
// (A block's pane text goes to the pane at each line break and at the block's end, so no
// text is ever pending between blocks.)
struct ReceiveState {
    int LineIndex = 0;         // pane line that written text is appended to
    qint64 ReceivedCount = 0;  // bytes received since the last clear (past 2^31 too)
    uint8_t CheckSum = 0;      // 8-bit sum of the bytes received since the last send
};

// LineParity and parityValue (the parity value of a byte) come with the byte store.

// How a link differs in showing what it receives.
struct LinkPolicy {
    enum Kind { Serial, TcpClient, TcpListener };
    Kind kind;
    // Hex mode pane: bytes 1 to 6 and 13 keep their names and byte 10 only breaks the line
    // (TCP); otherwise every byte is written in hex (serial).
    bool namesInHexMode;
    // The table's ASCII column uses names in hex mode too (TCP); otherwise only in text mode.
    bool tableNamesInHexMode;
    // Parity values are computed and shown (serial only).
    bool hasParity;
    // Bytes the link's handler reads per event; the rest waits for the next event.
    int maxBlockBytes;
    // A read that fills the whole block is reported as "More than 10k bytes" (TCP client).
    bool reportsFullBlock;

    static const LinkPolicy& serial();       // 10000 bytes, parity, hex for every byte
    static const LinkPolicy& tcpClient();    // 10000 bytes, names in both modes
    static const LinkPolicy& tcpListener();  // 5000 bytes, names in both modes
};

// What the window shows after a block.
struct ReceiveResult {
    QString labelRec;         // Label_rec: "Total received: " + ReceivedCount
    QString crcText;          // lab_crc: "CRC: 0x" + CheckSum in two upper-case hex digits
    bool showParity = false;  // serial: Lab_Parity and status panel 1 take parityText
    QString parityText;       // "Last byte parity: None", "...: 0" or "...: 1"
    bool moreThan10k =
        false;  // a link that reports it read a full block: panel 1 := kMoreThan10kText
};

inline constexpr char kMoreThan10kText[] = "More than 10k bytes";

// Status panel 2: the send label, three blanks, the receive label.
inline QString countersText(const QString& labelSend, const QString& labelRec) {
    return labelSend + QStringLiteral("   ") + labelRec;
}

class ReceiveFormatter {
  public:
    // The pane and the table the blocks go to; both must outlive the formatter.
    ReceiveFormatter(PaneModel& pane, ByteTableModel& table);

    // Applies the receive rules to one block. Every byte of `bytes` is handled (capping a
    // read at policy.maxBlockBytes is the caller's part). hexMode: "Show incoming in Hex";
    // parity: the port's parity (ignored by links without parity). The pane line is written
    // at each line break and once at the end, the received bytes going to the pane as they
    // are (it shows them by the block's mode); the table rows of the block are inserted
    // together, even if the block is cut short by an exception. The cost is linear in the
    // block, whatever the length of the line it extends.
    //
    // arrivals: when the block's chunks arrived (core/receive/TimeStamps.h); none given, the
    // whole block arrived now. Each pane line gets the arrival of its first byte. While a
    // packet gap is set, in hex mode a chunk that arrives that long or longer after the one
    // before it starts a new line (unless the line is empty): packets of a polled device
    // show one a line. Lines break only between chunks, never inside one.
    ReceiveResult receiveBlock(ReceiveState& state, QByteArrayView bytes, const LinkPolicy& policy,
                               bool hexMode, LineParity parity = LineParity::None,
                               ArrivalTimes arrivals = {});

    // The idle time between two chunks that starts a new line in hex mode, in nanoseconds;
    // 0 (the default) never does.
    void setPacketGap(int64_t ns) { packetGapNs_ = ns; }
    int64_t packetGap() const { return packetGapNs_; }

    // How the pane shows a block received by `policy`'s link in the mode asked for.
    static PaneModel::Kind paneKind(const LinkPolicy& policy, bool hexMode);

    // The block-end texts for the current state (also used to refresh after a clear).
    static QString receivedLabel(qint64 receivedCount);
    static QString lastByteParityText(bool hasParity, ParityMark lastParity);

  private:
    PaneModel& pane_;
    ByteTableModel& table_;
    int64_t packetGapNs_ = 0;
    int64_t lastArrivalNs_ = PaneModel::kNoTime;  // the last chunk received
};

}  // namespace trelmo
