#include "terminal/ReceiveFormatter.h"

#include <array>
#include <bit>
#include <cstring>
#include <exception>

#include "app/Codec.h"

namespace trelmo {
namespace {

// The pane text of one byte: up to five characters, padded so a copy of all five is safe.
struct Token {
    char16_t c[5];
    uint8_t len;
};
using TokenTable = std::array<Token, 256>;

enum PaneMode { TextMode = 0, HexEvery = 1, HexNamed = 2 };

Token fromLatin1(QLatin1StringView s) {
    Token t{};
    t.len = static_cast<uint8_t>(s.size());
    for (qsizetype i = 0; i < s.size(); ++i)
        t.c[i] = static_cast<char16_t>(s[i].unicode());
    return t;
}

Token hexToken(uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return Token{{u'0', u'x', static_cast<char16_t>(kDigits[b >> 4]),
                  static_cast<char16_t>(kDigits[b & 15]), u' '},
                 5};
}

bool namedInHex(uint8_t b) {
    return (b >= 1 && b <= 6) || b == 13;
}

TokenTable buildTable(PaneMode mode) {
    TokenTable table{};
    for (int i = 0; i < 256; ++i) {
        const auto b = static_cast<uint8_t>(i);
        Token& t = table[i];
        switch (mode) {
            case TextMode:
                if (b == 10) {
                    t = Token{};
                } else if (!controlName(b).isEmpty()) {
                    t = fromLatin1(controlName(b));  // byte 0 too: "<NUL>" keeps the line whole
                } else {
                    t = Token{{codec::toChar(b).unicode()}, 1};
                }
                break;
            case HexEvery:
                t = hexToken(b);
                break;
            case HexNamed:
                if (b == 10)
                    t = Token{};
                else if (namedInHex(b))
                    t = fromLatin1(controlName(b));
                else
                    t = hexToken(b);
                break;
        }
    }
    return table;
}

const TokenTable& tokens(PaneMode mode) {
    static const std::array<TokenTable, 3> all = {buildTable(TextMode), buildTable(HexEvery),
                                                  buildTable(HexNamed)};
    return all[mode];
}

// Announces the block's table rows however the block ends.
class CommitOnExit {
  public:
    explicit CommitOnExit(ByteTableModel& table) : m_table(table) {}
    ~CommitOnExit() { m_table.commitRows(); }
    CommitOnExit(const CommitOnExit&) = delete;
    CommitOnExit& operator=(const CommitOnExit&) = delete;

  private:
    ByteTableModel& m_table;
};

}  // namespace

ParityMark parityValue(uint8_t byte, LineParity parity) {
    const bool oddOnes = (std::popcount(byte) & 1) != 0;
    switch (parity) {
        case LineParity::None:
            return ParityMark::None;
        case LineParity::Odd:
            return oddOnes ? ParityMark::One : ParityMark::Zero;
        case LineParity::Even:
            return oddOnes ? ParityMark::Zero : ParityMark::One;
        case LineParity::Mark:
            return ParityMark::One;
        case LineParity::Space:
            return ParityMark::Zero;
    }
    return ParityMark::None;
}

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
    : m_pane(pane), m_table(table) {}

QString ReceiveFormatter::receivedLabel(int receivedCount) {
    return QStringLiteral("Total received: ") + QString::number(receivedCount);
}

QString ReceiveFormatter::lastByteParityText(bool hasParity, ParityMark lastParity) {
    if (!hasParity)
        return QStringLiteral("Last byte parity: None");
    return lastParity == ParityMark::One ? QStringLiteral("Last byte parity: 1")
                                         : QStringLiteral("Last byte parity: 0");
}

ReceiveResult ReceiveFormatter::receiveBlock(ReceiveState& state, QByteArrayView bytes,
                                             const LinkPolicy& policy, bool hexMode,
                                             LineParity parity) {
    const PaneMode mode = !hexMode ? TextMode : (policy.namesInHexMode ? HexNamed : HexEvery);
    const TokenTable& tok = tokens(mode);
    const bool tableNames = !hexMode || policy.tableNamesInHexMode;
    const LineParity lineParity = policy.hasParity ? parity : LineParity::None;
    ParityMark lastParity = ParityMark::Zero;  // the last byte's value; 0 before any byte

    ReceiveResult result;
    result.moreThan10k = policy.reportsFullBlock && bytes.size() >= policy.maxBlockBytes;

    // The pending line is written in place: room for the longest text of every byte.
    QString& pending = state.PendingLine;
    pending.resize(0);
    pending.resize(bytes.size() * 5);
    char16_t* const base = reinterpret_cast<char16_t*>(pending.data());
    char16_t* out = base;
    char16_t* lineStart = base;
    uint8_t sum = state.CheckSum;
    int count = state.ReceivedCount;
    {
        CommitOnExit commit(m_table);
        struct Restore {  // keeps the state exact if a pane update throws
            ReceiveState& s;
            uint8_t& sum;
            int& count;
            ~Restore() {
                s.CheckSum = sum;
                s.ReceivedCount = count;
                if (std::uncaught_exceptions() > 0)
                    s.PendingLine.clear();
            }
        } restore{state, sum, count};

        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
        const auto* const end = p + bytes.size();
        for (; p != end; ++p) {
            const uint8_t b = *p;
            sum = static_cast<uint8_t>(sum + b);
            ParityMark pm = ParityMark::None;
            if (lineParity != LineParity::None) {
                pm = parityValue(b, lineParity);
                lastParity = pm;
            }
            if (b == 10) {
                m_pane.appendToLine(
                    state.LineIndex,
                    QStringView(lineStart, static_cast<qsizetype>(out - lineStart)));
                m_pane.addEmptyLine(state.LineIndex);
                lineStart = out;
            }
            const Token& t = tok[b];
            std::memcpy(out, t.c, sizeof t.c);
            out += t.len;
            ++count;
            m_table.appendByte(b, tableNames, pm);
        }
    }
    // Block end: the text since the last line break goes to the current line.
    const QStringView tail(lineStart, static_cast<qsizetype>(out - lineStart));
    m_pane.appendToLine(state.LineIndex, tail);
    const qsizetype tailLength = tail.size();
    const qsizetype tailStart = lineStart - base;
    if (tailStart > 0)
        pending.remove(0, tailStart);
    pending.truncate(tailLength);

    result.bytesHandled = static_cast<int>(bytes.size());
    result.labelRec = receivedLabel(state.ReceivedCount);
    result.crcText = checkSumText(state.CheckSum);
    if (policy.hasParity) {
        result.showParity = true;
        result.parityText = lastByteParityText(parity != LineParity::None, lastParity);
    }
    return result;
}

}  // namespace trelmo
