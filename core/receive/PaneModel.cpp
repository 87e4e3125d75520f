#include "core/receive/PaneModel.h"

#include <climits>
#include <cstring>

#include "core/Codec.h"
#include "core/receive/ByteStore.h"

namespace trelmo {
namespace {

using Kind = PaneModel::Kind;

// The characters of every byte in each 8-bit kind: up to five characters.
struct Tokens {
    char16_t chars[4][256][5];
    uint8_t length[4][256];
};

bool namedInHex(uint8_t b) {
    return (b >= 1 && b <= 6) || b == 13;
}

const Tokens& tokens() {
    static const Tokens t = [] {
        Tokens t{};
        static constexpr char kDigits[] = "0123456789ABCDEF";
        auto set = [&t](int r, int b, QLatin1StringView s) {
            for (qsizetype i = 0; i < s.size(); ++i)
                t.chars[r][b][i] = static_cast<char16_t>(s[i].unicode());
            t.length[r][b] = static_cast<uint8_t>(s.size());
        };
        for (int i = 0; i < 256; ++i) {
            const auto b = static_cast<uint8_t>(i);
            const char hex[] = {'0', 'x', kDigits[b >> 4], kDigits[b & 15], ' '};
            const QLatin1StringView hexText(hex, 5);
            const char16_t ch = codec::toChar(b).unicode();
            // Literal: the code page's character.
            t.chars[0][i][0] = ch;
            t.length[0][i] = 1;
            // Text: names for 0 to 6 and 13; byte 10 shows nothing (it breaks the line).
            if (b == 10) {
                t.length[1][i] = 0;
            } else if (b <= 6 || b == 13) {
                set(1, i, controlName(b));
            } else {
                t.chars[1][i][0] = ch;
                t.length[1][i] = 1;
            }
            // HexEvery: every byte in hex.
            set(2, i, hexText);
            // HexNamed: 1 to 6 and 13 by name, byte 10 nothing, the rest in hex.
            if (b == 10)
                t.length[3][i] = 0;
            else if (namedInHex(b))
                set(3, i, controlName(b));
            else
                set(3, i, hexText);
        }
        return t;
    }();
    return t;
}

// Whether a kind keeps byte 10 (only the hex mode that writes every byte does).
bool keepsLineFeed(Kind k) {
    return k == Kind::HexEvery;
}

bool isContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}
int sequenceLength(uint8_t b) {
    return PaneModel::utf8Length(b);
}
bool secondFits(uint8_t lead, uint8_t b) {
    return PaneModel::utf8Follows(lead, 1, b);
}

// True when every character of text is one of the code page's.
bool inCodePage(QStringView text) {
    for (QChar c : text)
        if (codec::toChar(codec::toByte(c)) != c)
            return false;
    return true;
}

}  // namespace

PaneModel::PaneModel(QObject* parent) : QObject(parent) {}

PaneModel::~PaneModel() = default;

QStringView PaneModel::unitText(Kind kind, uint8_t byte) {
    const Tokens& t = tokens();
    const int r = PaneModel::byteKindIndex(kind);
    return QStringView(t.chars[r][byte], t.length[r][byte]);
}

// ---- Changing -----------------------------------------------------------------------------

void PaneModel::put(Kind kind, const uint8_t* data, qsizetype n) {
    if (n <= 0)
        return;
    const qsizetype at = store_.size();
    if (pieces_.empty() || pieces_.back().kind != kind) {
        if (!pieces_.empty() && pieces_.back().start == at)
            pieces_.back().kind = kind;  // an empty piece takes the new kind
        else
            pieces_.push_back(Piece{at, kind});
    }
    store_.append(data, n);
    if (utf8_)
        updateTail();
}

void PaneModel::putText(QStringView text) {
    if (text.isEmpty())
        return;
    if (inCodePage(text)) {
        const QByteArray bytes = codec::fromUnicode(text);
        put(Kind::Literal, reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
        return;
    }
    QByteArray wide(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        wide[2 * i] = static_cast<char>(u & 0xFF);
        wide[2 * i + 1] = static_cast<char>(u >> 8);
    }
    put(Kind::Wide, reinterpret_cast<const uint8_t*>(wide.constData()), wide.size());
}

void PaneModel::pushLine() {
    if (tail_ > 0) {
        // The last line ends: the bytes it held back are shown as the line's last units.
        tail_ = 0;
        markGrown(lineCount() - 1);
    }
    lines_.push_back(store_.size());
    times_.push_back(kNoTime);
    flags_.push_back(0);
}

void PaneModel::addLine(QStringView text, int& lineIndex, int64_t time) {
    int textLine = 0;
    if (isEmpty()) {
        pushLine();
        putText(text);
        pushLine();
        markGrown(0);
    } else if (!lineInProgress()) {
        textLine = lineCount() - 1;
        putText(text);
        pushLine();
        markGrown(textLine);
    } else {
        pushLine();
        putText(text);
        textLine = lineCount() - 1;
        markGrown(textLine);
    }
    stampLine(textLine, time);
    ++lineIndex;
}

void PaneModel::addLineBreak(int& lineIndex, bool byLineFeed, int64_t time) {
    addLine(QStringView(), lineIndex);
    // The line that ended is the one before the new empty last line.
    const int ended = lineCount() - 2;
    if (ended < 0)
        return;
    stampLine(ended, time);
    if (byLineFeed)
        flags_.set(ended, flags_[ended] | kLineFeedEnd);
    if (!held_.empty())
        releaseHeld(lineIndex);
}

void PaneModel::reachLine(int index) {
    while (lineCount() <= index)
        pushLine();
}

void PaneModel::appendToLine(int index, QStringView text) {
    if (text.isEmpty() || index < 0 || index < lineCount() - 1)
        return;
    reachLine(index);
    putText(text);
    markGrown(index);
}

void PaneModel::appendReceived(int index, Kind kind, QByteArrayView bytes, int64_t time) {
    if (bytes.isEmpty() || index < 0 || index < lineCount() - 1)
        return;
    if (kind == Kind::Literal || kind == Kind::Wide) {
        appendToLine(index, codec::toUnicode(bytes));
        stampLine(index, time);
        return;
    }
    if (!keepsLineFeed(kind) && bytes.contains('\n')) {
        // Byte 10 shows nothing here: keep the bytes around it.
        QByteArray kept = bytes.toByteArray();
        kept.replace("\n", "");
        if (!kept.isEmpty())
            appendReceived(index, kind, kept, time);
        return;
    }
    reachLine(index);
    put(kind, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    stampLine(index, time);
    markGrown(index);
}

void PaneModel::clear() {
    store_.clear();
    lines_.clear();
    times_.clear();
    flags_.clear();
    pieces_.clear();
    pieces_.shrink_to_fit();
    tail_ = 0;
    grownFrom_ = -1;
    emit cleared();
}

// ---- Lines of their own -------------------------------------------------------------------

void PaneModel::putSeparate(const Held& line, int& lineIndex) {
    if (!line.sent) {
        addLine(line.text, lineIndex, line.time);
        return;
    }
    // As addLine on an empty last line: the line takes the text, an empty line follows.
    if (isEmpty())
        pushLine();
    const int textLine = lineCount() - 1;
    static constexpr uint8_t kMark[] = {'>', ' '};
    put(Kind::Literal, kMark, 2);
    put(line.kind, reinterpret_cast<const uint8_t*>(line.bytes.constData()), line.bytes.size());
    flags_.set(textLine, flags_[textLine] | kSentLine);
    stampLine(textLine, line.time);
    pushLine();
    markGrown(textLine);
    ++lineIndex;
}

void PaneModel::addSeparateLine(QStringView text, int& lineIndex, int64_t time) {
    Held line;
    line.text = text.toString();
    line.time = time;
    if (lineInProgress() || !held_.empty()) {
        held_.push_back(std::move(line));
        return;
    }
    Batch batch(*this);
    putSeparate(line, lineIndex);
}

void PaneModel::addSentLines(Kind kind, QByteArrayView bytes, int& lineIndex, int64_t time) {
    if (bytes.isEmpty())
        return;
    if (kind == Kind::Literal || kind == Kind::Wide)
        kind = Kind::Text;
    // The lines: in the kinds that do not show byte 10, the bytes between the line feeds.
    std::vector<QByteArrayView> parts;
    if (keepsLineFeed(kind)) {
        parts.push_back(bytes);
    } else {
        qsizetype from = 0;
        while (from < bytes.size()) {
            const qsizetype lf = bytes.indexOf('\n', from);
            const qsizetype to = lf < 0 ? bytes.size() : lf;
            parts.push_back(bytes.sliced(from, to - from));
            from = lf < 0 ? bytes.size() : lf + 1;
        }
    }
    Batch batch(*this);
    const bool hold = lineInProgress() || !held_.empty();
    for (QByteArrayView part : parts) {
        Held line;
        line.bytes = part.toByteArray();
        line.kind = kind;
        line.sent = true;
        line.time = time;
        if (hold)
            held_.push_back(std::move(line));
        else
            putSeparate(line, lineIndex);
    }
}

void PaneModel::releaseHeld(int& lineIndex) {
    if (held_.empty() || lineInProgress())
        return;
    Batch batch(*this);
    std::vector<Held> lines;
    lines.swap(held_);
    for (const Held& line : lines)
        putSeparate(line, lineIndex);
}

// ---- UTF-8 --------------------------------------------------------------------------------

int PaneModel::utf8Length(uint8_t b) {
    if (b >= 0xC2 && b <= 0xDF)
        return 2;
    if (b >= 0xE0 && b <= 0xEF)
        return 3;
    if (b >= 0xF0 && b <= 0xF4)
        return 4;
    return 0;
}

bool PaneModel::utf8Follows(uint8_t lead, int k, uint8_t b) {
    if (k != 1)
        return isContinuation(b);
    switch (lead) {
        case 0xE0:
            return b >= 0xA0 && b <= 0xBF;
        case 0xED:
            return b >= 0x80 && b <= 0x9F;
        case 0xF0:
            return b >= 0x90 && b <= 0xBF;
        case 0xF4:
            return b >= 0x80 && b <= 0x8F;
        default:
            return isContinuation(b);
    }
}

void PaneModel::setUtf8(bool on) {
    if (on == utf8_)
        return;
    utf8_ = on;
    tail_ = 0;
    if (on)
        updateTail();
    bool hasText = false;
    for (const Piece& p : pieces_)
        hasText = hasText || p.kind == Kind::Text;
    if (hasText)
        emit reshown();
}

void PaneModel::updateTail() {
    tail_ = 0;
    if (!utf8_ || isEmpty() || pieces_.empty() || pieces_.back().kind != Kind::Text)
        return;
    const qsizetype size = store_.size();
    const qsizetype from = std::max(pieces_.back().start, lineBegin(lineCount() - 1));
    // The last byte that is no continuation byte, at most three back.
    for (qsizetype at = size - 1; at >= from && at >= size - 3; --at) {
        const uint8_t b = store_[at];
        if (isContinuation(b))
            continue;
        const int length = sequenceLength(b);
        if (length <= size - at)
            return;  // no sequence, or a whole one (well-formed or not): nothing waits
        if (at + 1 < size && !secondFits(b, store_[at + 1]))
            return;  // broken already
        tail_ = size - at;
        return;
    }
}

int PaneModel::sequenceAt(qsizetype at, qsizetype limit) const {
    const uint8_t lead = store_[at];
    const int length = sequenceLength(lead);
    if (length == 0 || at + length > limit || !secondFits(lead, store_[at + 1]))
        return 0;
    for (int k = 2; k < length; ++k)
        if (!isContinuation(store_[at + k]))
            return 0;
    return length;
}

QStringView PaneModel::utf8Unit(qsizetype at, qsizetype from, qsizetype limit,
                                char16_t (&buffer)[2]) const {
    const uint8_t b = store_[at];
    if (const int length = sequenceAt(at, limit)) {
        char32_t code = b & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (store_[at + k] & 0x3F);
        if (code < 0x10000) {
            buffer[0] = static_cast<char16_t>(code);
            return QStringView(buffer, 1);
        }
        buffer[0] = QChar::highSurrogate(code);
        buffer[1] = QChar::lowSurrogate(code);
        return QStringView(buffer, 2);
    }
    if (isContinuation(b)) {
        // Inside a well-formed sequence that starts at most three bytes back: nothing.
        for (qsizetype lead = at - 1; lead >= from && lead >= at - 3; --lead) {
            if (isContinuation(store_[lead]))
                continue;
            if (sequenceAt(lead, limit) > at - lead)
                return QStringView();
            break;
        }
    }
    return unitText(Kind::Text, b);
}

QStringView PaneModel::textUnitAt(int line, qsizetype offset, char16_t (&buffer)[2]) const {
    const qsizetype at = lineBegin(line) + offset;
    const size_t p = pieceAt(at);
    const qsizetype from = std::max(pieces_[p].start, lineBegin(line));
    const qsizetype limit =
        p + 1 < pieces_.size() ? std::min(pieces_[p + 1].start, lineEnd(line)) : lineEnd(line);
    return utf8Unit(at, from, limit, buffer);
}

void PaneModel::markGrown(int firstLine) {
    if (grownFrom_ < 0 || firstLine < grownFrom_)
        grownFrom_ = firstLine;
    if (batchDepth_ == 0)
        notify();
}

void PaneModel::notify() {
    if (grownFrom_ < 0)
        return;
    const int first = grownFrom_;
    grownFrom_ = -1;
    emit grown(first);
}

// ---- Reading ------------------------------------------------------------------------------

size_t PaneModel::pieceAt(qsizetype offset) const {
    size_t lo = 0, hi = pieces_.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (pieces_[mid].start <= offset)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

qsizetype PaneModel::lineBytes(int index) const {
    if (index < 0 || index >= lineCount())
        return 0;
    return lineEnd(index) - lineBegin(index);
}

QString PaneModel::line(int index) const {
    QString out;
    if (index < 0 || index >= lineCount())
        return out;
    appendRange(out, lineBegin(index), lineEnd(index));
    return out;
}

QStringList PaneModel::lines() const {
    QStringList out;
    out.reserve(lineCount());
    for (int i = 0; i < lineCount(); ++i)
        out.append(line(i));
    return out;
}

QString PaneModel::text() const {
    QString out;
    for (int i = 0; i < lineCount(); ++i) {
        if (i > 0)
            out += u'\n';
        appendRange(out, lineBegin(i), lineEnd(i));
    }
    return out;
}

void PaneModel::appendRange(QString& out, qsizetype from, qsizetype to) const {
    if (from >= to)
        return;
    const Tokens& t = tokens();
    const qsizetype lineFrom = from;
    size_t p = pieceAt(from);
    while (from < to) {
        const qsizetype pieceEnd = p + 1 < pieces_.size() ? std::min(pieces_[p + 1].start, to) : to;
        const Kind kind = pieces_[p].kind;
        if (kind == Kind::Wide) {
            for (qsizetype i = from; i + 1 < pieceEnd; i += 2)
                out += QChar(static_cast<char16_t>(store_[i] | (store_[i + 1] << 8)));
        } else if (kind == Kind::Text && utf8_) {
            const qsizetype pieceFrom = std::max(pieces_[p].start, lineFrom);
            char16_t buffer[2];
            for (qsizetype i = from; i < pieceEnd; ++i) {
                const uint8_t b = store_[i];
                if (b < 0x80)
                    out.append(reinterpret_cast<const QChar*>(t.chars[1][b]), t.length[1][b]);
                else
                    out += utf8Unit(i, pieceFrom, pieceEnd, buffer);
            }
        } else {
            const int r = PaneModel::byteKindIndex(kind);
            qsizetype at = from;
            while (at < pieceEnd) {
                qsizetype n = 0;
                const uint8_t* run = store_.run(at, n);
                n = std::min(n, pieceEnd - at);
                if (kind == Kind::Literal) {
                    const qsizetype old = out.size();
                    out.resize(old + n);
                    char16_t* dst = reinterpret_cast<char16_t*>(out.data()) + old;
                    for (qsizetype i = 0; i < n; ++i)
                        dst[i] = t.chars[0][run[i]][0];
                } else {
                    for (qsizetype i = 0; i < n; ++i)
                        out.append(reinterpret_cast<const QChar*>(t.chars[r][run[i]]),
                                   t.length[r][run[i]]);
                }
                at += n;
            }
        }
        from = pieceEnd;
        ++p;
    }
}

size_t PaneModel::memoryUsage() const {
    return store_.memoryUsage() + lines_.memoryUsage() + times_.memoryUsage() +
           flags_.memoryUsage() + pieces_.capacity() * sizeof(Piece);
}

// ---- Reader -------------------------------------------------------------------------------

PaneModel::Reader::Reader(const PaneModel& model, int line, qsizetype offset) : m_(model) {
    if (line < 0 || line >= model.lineCount()) {
        begin_ = pos_ = end_ = 0;
        return;
    }
    begin_ = model.lineBegin(line);
    end_ = model.lineEnd(line);
    pos_ = std::min(begin_ + std::max<qsizetype>(offset, 0), end_);
    if (pos_ < end_) {
        piece_ = model.pieceAt(pos_);
        enterPiece();
    }
}

void PaneModel::Reader::enterPiece() {
    const auto& pieces = m_.pieces_;
    while (piece_ + 1 < pieces.size() && pieces[piece_ + 1].start <= pos_)
        ++piece_;
    kind_ = pieces[piece_].kind;
    pieceStart_ = pieces[piece_].start;
    pieceEnd_ = piece_ + 1 < pieces.size() ? pieces[piece_ + 1].start : LLONG_MAX;
    decoding_ = kind_ == Kind::Text && m_.utf8_;
}

char16_t PaneModel::Reader::value() const {
    if (kind_ == Kind::Wide)
        return static_cast<char16_t>(m_.store_[pos_] | (m_.store_[pos_ + 1] << 8));
    return m_.store_[pos_];
}

QStringView PaneModel::Reader::text() const {
    if (kind_ == Kind::Wide) {
        wide_[0] = value();
        return QStringView(wide_, 1);
    }
    const auto b = static_cast<uint8_t>(m_.store_[pos_]);
    if (decoding_ && b >= 0x80)
        return m_.utf8Unit(pos_, std::max(pieceStart_, begin_), std::min(pieceEnd_, end_), wide_);
    return unitText(kind_, b);
}

void PaneModel::Reader::next() {
    pos_ += kind_ == Kind::Wide ? 2 : 1;
    if (pos_ >= pieceEnd_ && pos_ < end_)
        enterPiece();
}

}  // namespace trelmo
