#include "core/receive/ReceiveFormatter.h"

#include <cstring>

namespace trelmo {
namespace {

// Announces the block's table rows however the block ends.
class CommitOnExit {
  public:
    explicit CommitOnExit(ByteTableModel& table) : table_(table) {}
    ~CommitOnExit() { table_.commitRows(); }
    CommitOnExit(const CommitOnExit&) = delete;
    CommitOnExit& operator=(const CommitOnExit&) = delete;

  private:
    ByteTableModel& table_;
};

QByteArrayView span(const uint8_t* from, const uint8_t* to) {
    return QByteArrayView(reinterpret_cast<const char*>(from), to - from);
}

}  // namespace

const LinkPolicy& LinkPolicy::serial() {
    static const LinkPolicy p{Serial, false, false, true, 10000, false};
    return p;
}

const LinkPolicy& LinkPolicy::tcpClient() {
    static const LinkPolicy p{TcpClient, true, true, false, 10000, true};
    return p;
}

const LinkPolicy& LinkPolicy::tcpListener() {
    static const LinkPolicy p{TcpListener, true, true, false, 5000, false};
    return p;
}

ReceiveFormatter::ReceiveFormatter(PaneModel& pane, ByteTableModel& table)
    : pane_(pane), table_(table) {}

QString ReceiveFormatter::receivedLabel(int receivedCount) {
    return QStringLiteral("Total received: ") + QString::number(receivedCount);
}

QString ReceiveFormatter::lastByteParityText(bool hasParity, ParityMark lastParity) {
    if (!hasParity)
        return QStringLiteral("Last byte parity: None");
    return lastParity == ParityMark::One ? QStringLiteral("Last byte parity: 1")
                                         : QStringLiteral("Last byte parity: 0");
}

PaneModel::Kind ReceiveFormatter::paneKind(const LinkPolicy& policy, bool hexMode) {
    using Kind = PaneModel::Kind;
    return !hexMode ? Kind::Text : (policy.namesInHexMode ? Kind::HexNamed : Kind::HexEvery);
}

ReceiveResult ReceiveFormatter::receiveBlock(ReceiveState& state, QByteArrayView bytes,
                                             const LinkPolicy& policy, bool hexMode,
                                             LineParity parity) {
    using Kind = PaneModel::Kind;
    const Kind kind = paneKind(policy, hexMode);
    // In the hex mode that writes every byte, byte 10 starts the new line with its own text.
    const bool lineFeedShown = kind == Kind::HexEvery;
    const bool tableNames = !hexMode || policy.tableNamesInHexMode;
    const LineParity lineParity = policy.hasParity ? parity : LineParity::None;

    ReceiveResult result;
    result.moreThan10k = policy.reportsFullBlock && bytes.size() >= policy.maxBlockBytes;

    const auto* const begin = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = begin + bytes.size();
    // Sum, count and table rows of the bytes [from, to), in arrival order.
    auto account = [&](const uint8_t* from, const uint8_t* to) {
        unsigned sum = state.CheckSum;
        for (const uint8_t* p = from; p != to; ++p)
            sum += *p;
        table_.appendBytes(span(from, to), tableNames, lineParity);
        state.CheckSum = static_cast<uint8_t>(sum);
        state.ReceivedCount += static_cast<int>(to - from);
    };
    {
        PaneModel::Batch batch(pane_);
        CommitOnExit commit(table_);
        const uint8_t* accounted = begin;  // bytes before this are summed, counted and listed
        const uint8_t* lineFrom = begin;   // the current line's text starts here
        const uint8_t* search = begin;
        while (search != end) {
            const auto* lf = static_cast<const uint8_t*>(std::memchr(search, 10, end - search));
            if (!lf)
                break;
            // Line break: the text so far goes to the current line, an empty line follows.
            pane_.appendReceived(state.LineIndex, kind, span(lineFrom, lf));
            pane_.addEmptyLine(state.LineIndex);
            lineFrom = lineFeedShown ? lf : lf + 1;
            search = lf + 1;
            account(accounted, search);
            accounted = search;
        }
        // Block end: the text since the last line break goes to the current line.
        pane_.appendReceived(state.LineIndex, kind, span(lineFrom, end));
        account(accounted, end);
    }

    // The last byte's parity value; 0 before any byte.
    ParityMark lastParity = ParityMark::Zero;
    if (begin != end && lineParity != LineParity::None)
        lastParity = parityValue(end[-1], lineParity);

    result.labelRec = receivedLabel(state.ReceivedCount);
    result.crcText = checkSumText(state.CheckSum);
    if (policy.hasParity) {
        result.showParity = true;
        result.parityText = lastByteParityText(parity != LineParity::None, lastParity);
    }
    return result;
}

}  // namespace trelmo
