#include "core/receive/ReceiveFormatter.h"

#include <algorithm>
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

QString ReceiveFormatter::receivedLabel(qint64 receivedCount) {
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
                                             LineParity parity, ArrivalTimes arrivals) {
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
        state.ReceivedCount += to - from;
    };
    // When the bytes arrived: without times from the link, all of them now.
    const ArrivalTime whole{0, arrivals.empty() ? steadyNowNs() : 0};
    if (arrivals.empty())
        arrivals = ArrivalTimes(&whole, 1);
    const qsizetype size = bytes.size();
    // The arrival of the byte at `offset`: the last entry at or before it.
    auto timeAt = [&arrivals](qsizetype offset) {
        const auto it =
            std::upper_bound(arrivals.begin(), arrivals.end(), offset,
                             [](qsizetype o, const ArrivalTime& a) { return o < a.offset; });
        return it == arrivals.begin() ? arrivals.front().ns : std::prev(it)->ns;
    };
    // Packet framing: the offset of the next chunk that arrived after an idle gap (size when
    // there is none); gapAt names the entry being looked at.
    const bool framing = packetGapNs_ > 0 && hexMode;
    size_t gapAt = 0;
    auto nextGap = [&]() -> qsizetype {
        for (; framing && gapAt < arrivals.size() && arrivals[gapAt].offset < size; ++gapAt) {
            const int64_t before = gapAt == 0 ? lastArrivalNs_ : arrivals[gapAt - 1].ns;
            if (before != PaneModel::kNoTime && arrivals[gapAt].ns - before >= packetGapNs_)
                return arrivals[gapAt].offset;
        }
        return size;
    };
    {
        PaneModel::Batch batch(pane_);
        CommitOnExit commit(table_);
        const uint8_t* accounted = begin;  // bytes before this are summed, counted and listed
        const uint8_t* lineFrom = begin;   // the current line's text starts here
        const uint8_t* search = begin;
        const uint8_t* gap = begin + nextGap();
        for (;;) {
            const auto* lf =
                search < gap ? static_cast<const uint8_t*>(std::memchr(search, 10, gap - search))
                             : nullptr;
            if (lf) {
                // Line break: the text so far goes to the current line, an empty line follows.
                const int64_t time = timeAt(lineFrom - begin);
                pane_.appendReceived(state.LineIndex, kind, span(lineFrom, lf), time);
                pane_.addLineBreak(state.LineIndex, !lineFeedShown, time);
                lineFrom = lineFeedShown ? lf : lf + 1;
                search = lf + 1;
                account(accounted, search);
                accounted = search;
                continue;
            }
            if (gap == end)
                break;
            // An idle gap before the chunk at `gap`: the line so far ends there.
            pane_.appendReceived(state.LineIndex, kind, span(lineFrom, gap),
                                 timeAt(lineFrom - begin));
            if (pane_.lineInProgress())
                pane_.addLineBreak(state.LineIndex, false);
            lineFrom = search = gap;
            ++gapAt;
            gap = begin + nextGap();
        }
        // Block end: the text since the last line break goes to the current line.
        pane_.appendReceived(state.LineIndex, kind, span(lineFrom, end), timeAt(lineFrom - begin));
        account(accounted, end);
    }
    if (size > 0)
        lastArrivalNs_ = timeAt(size - 1);

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
