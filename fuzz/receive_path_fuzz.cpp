// libFuzzer target: the receive path. The input chooses the display mode, the link policy
// and the port parity (first byte), the block cuts (a count and that many lengths) and then
// gives the byte stream. The stream goes through the receive formatter into a pane and a
// byte table, cut into those blocks. Checked on every input:
// - the received count, the bytes fed and the table's rows agree; the table holds the
//   stream's bytes in order and each row's number, hex, decimal and parity cells match its
//   byte; the check sum is the 8-bit sum of the stream;
// - the pane's text is the stream's display text, one token per byte and a line break for
//   each byte 10, and is the same as when the whole stream arrives as one block.

#include <QCoreApplication>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Codec.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"
#include "fuzz/FuzzCheck.h"

namespace {

using trelmo::LineParity;
using trelmo::LinkPolicy;

struct Setup {
    bool hexMode;
    const LinkPolicy* policy;
    LineParity parity;
};

Setup setupFrom(uint8_t b) {
    static const LinkPolicy* const policies[] = {&LinkPolicy::serial(), &LinkPolicy::tcpClient(),
                                                 &LinkPolicy::tcpListener()};
    static const LineParity parities[] = {LineParity::None, LineParity::Odd, LineParity::Even,
                                          LineParity::Mark, LineParity::Space};
    return Setup{(b & 1) != 0, policies[(b >> 1) % 3], parities[(b >> 3) % 5]};
}

// "0x" and two upper-case digits.
QString hexCell(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    const char text[] = {'0', 'x', digits[b >> 4], digits[b & 15]};
    return QString::fromLatin1(text, 4);
}

struct Outcome {
    QString paneText;
    trelmo::ReceiveState state;
};

// Feeds the stream in blocks of the given lengths (repeated; 0 is an empty block) and checks
// the table against the stream.
Outcome feed(const Setup& s, QByteArrayView stream, const std::vector<int>& cuts) {
    trelmo::PaneModel pane;
    trelmo::ByteTableModel table;
    trelmo::ReceiveFormatter formatter(pane, table);
    Outcome out;
    trelmo::ReceiveState& state = out.state;

    qsizetype at = 0;
    size_t next = 0;
    int emptyRun = 0;
    while (at < stream.size()) {
        int len = cuts.empty() ? static_cast<int>(stream.size()) : cuts[next++ % cuts.size()];
        if (len == 0 && ++emptyRun > static_cast<int>(cuts.size()))
            len = static_cast<int>(stream.size());  // every cut was empty: take the rest
        if (len > 0)
            emptyRun = 0;
        len = std::min<qsizetype>({len, stream.size() - at, s.policy->maxBlockBytes});
        const trelmo::ReceiveResult r =
            formatter.receiveBlock(state, stream.sliced(at, len), *s.policy, s.hexMode, s.parity);
        at += len;
        // Every byte of the block was handled: the counter and the table are at `at`.
        FUZZ_CHECK(state.ReceivedCount == at);
        FUZZ_CHECK(table.receivedCount() == at);
        FUZZ_CHECK(r.labelRec == trelmo::ReceiveFormatter::receivedLabel(at));
        FUZZ_CHECK(r.showParity == s.policy->hasParity);
        FUZZ_CHECK(r.moreThan10k == (s.policy->reportsFullBlock && len >= s.policy->maxBlockBytes));
    }

    FUZZ_CHECK(state.ReceivedCount == stream.size());
    FUZZ_CHECK(table.receivedCount() == stream.size());
    FUZZ_CHECK(table.rowCount() == stream.size() + 1);
    FUZZ_CHECK(table.gridRowCount() == stream.size() + 2);
    FUZZ_CHECK(table.bytes() == stream.toByteArray());

    uint8_t sum = 0;
    const bool parityShown = s.policy->hasParity && s.parity != LineParity::None;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        const auto b = static_cast<uint8_t>(stream[i]);
        sum = static_cast<uint8_t>(sum + b);
        const int row = static_cast<int>(i) + 1;
        FUZZ_CHECK(table.gridCell(trelmo::ByteStore::ColNo, row) == QString::number(row));
        FUZZ_CHECK(table.gridCell(trelmo::ByteStore::ColHex, row) == hexCell(b));
        FUZZ_CHECK(table.gridCell(trelmo::ByteStore::ColDec, row).toInt() == b);
        FUZZ_CHECK(table.gridCell(trelmo::ByteStore::ColDec, row) == QString::number(b));
        const QString parity = table.gridCell(trelmo::ByteStore::ColParity, row);
        if (!parityShown) {
            FUZZ_CHECK(parity.isEmpty());
        } else {
            const bool odd = (__builtin_popcount(b) & 1) != 0;
            bool one = false;
            switch (s.parity) {
                case LineParity::Odd:
                    one = odd;
                    break;
                case LineParity::Even:
                    one = !odd;
                    break;
                case LineParity::Mark:
                    one = true;
                    break;
                default:
                    one = false;
                    break;
            }
            FUZZ_CHECK(parity == (one ? QStringLiteral("1") : QStringLiteral("0")));
        }
    }
    FUZZ_CHECK(state.CheckSum == sum);
    FUZZ_CHECK(
        table.gridCell(trelmo::ByteStore::ColHex, static_cast<int>(stream.size()) + 1).isEmpty());
    out.paneText = pane.text();
    return out;
}

// The pane text the stream should give, written byte by byte here.
QString expectedPaneText(const Setup& s, QByteArrayView stream) {
    QString text;
    for (char c : stream) {
        const auto b = static_cast<uint8_t>(c);
        if (b == 10)
            text += QLatin1Char('\n');
        const QString hexUpper = hexCell(b) + QLatin1Char(' ');
        const QString name = QString(trelmo::controlName(b));
        if (!s.hexMode) {
            if (b != 10)
                text += name.isEmpty() ? QString(trelmo::codec::toChar(b)) : name;
        } else if (!s.policy->namesInHexMode) {
            text += hexUpper;
        } else if (b == 10) {
            // the line break only
        } else if ((b >= 1 && b <= 6) || b == 13) {
            text += name;
        } else {
            text += hexUpper;
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const Setup setup = setupFrom(data[0]);
    const size_t cutCount = std::min<size_t>(data[1] % 16, size - 2);
    std::vector<int> cuts;
    for (size_t i = 0; i < cutCount; ++i)
        cuts.push_back(data[2 + i] % 64);
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 2 + cutCount),
                                static_cast<qsizetype>(size - 2 - cutCount));

    const Outcome cut = feed(setup, stream, cuts);
    const Outcome whole = feed(setup, stream, {});
    FUZZ_CHECK(cut.paneText == whole.paneText);
    FUZZ_CHECK(cut.paneText == expectedPaneText(setup, stream));
    FUZZ_CHECK(cut.state.CheckSum == whole.state.CheckSum);
    return 0;
}
