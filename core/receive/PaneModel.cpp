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

void PaneModel::pushLine(qsizetype offset) {
    lines_.push_back(offset);
    times_.push_back(kNoTime);
    flags_.push_back(0);
}

void PaneModel::addLine(QStringView text, int& lineIndex, int64_t time) {
    int textLine = 0;
    if (isEmpty()) {
        pushLine(store_.size());
        putText(text);
        pushLine(store_.size());
        markGrown(0);
    } else if (lineBytes(lineCount() - 1) == 0) {
        textLine = lineCount() - 1;
        putText(text);
        pushLine(store_.size());
        markGrown(textLine);
    } else {
        pushLine(store_.size());
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
}

void PaneModel::reachLine(int index) {
    while (lineCount() <= index)
        pushLine(store_.size());
}

void PaneModel::appendToLine(int index, QStringView text) {
    if (text.isEmpty() || index < 0)
        return;
    if (index < lineCount() - 1) {
        // Not the last line: the lines below it are written again behind the new text.
        // The receive path never does this (its line is always the last one).
        struct Below {
            QString text;
            int64_t time;
            uint8_t flags;
        };
        std::vector<Below> below;
        for (int i = index + 1; i < lineCount(); ++i)
            below.push_back(Below{line(i), times_[i], flags_[i]});
        const qsizetype cut = lineBegin(index + 1);
        store_.truncate(cut);
        lines_.truncate(index + 1);
        times_.truncate(index + 1);
        flags_.truncate(index + 1);
        while (!pieces_.empty() && pieces_.back().start >= cut)
            pieces_.pop_back();
        putText(text);
        for (const Below& l : below) {
            pushLine(store_.size());
            times_.set(lineCount() - 1, l.time);
            flags_.set(lineCount() - 1, l.flags);
            putText(l.text);
        }
        markGrown(index);
        return;
    }
    reachLine(index);
    putText(text);
    markGrown(index);
}

void PaneModel::appendReceived(int index, Kind kind, QByteArrayView bytes, int64_t time) {
    if (bytes.isEmpty() || index < 0)
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
    if (index < lineCount() - 1) {
        QString text;
        for (char c : bytes)
            text += unitText(kind, static_cast<uint8_t>(c));
        appendToLine(index, text);
        stampLine(index, time);
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
    grownFrom_ = -1;
    emit cleared();
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
    size_t p = pieceAt(from);
    while (from < to) {
        const qsizetype pieceEnd = p + 1 < pieces_.size() ? std::min(pieces_[p + 1].start, to) : to;
        const Kind kind = pieces_[p].kind;
        if (kind == Kind::Wide) {
            for (qsizetype i = from; i + 1 < pieceEnd; i += 2)
                out += QChar(static_cast<char16_t>(store_[i] | (store_[i + 1] << 8)));
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
    pieceEnd_ = piece_ + 1 < pieces.size() ? pieces[piece_ + 1].start : LLONG_MAX;
}

char16_t PaneModel::Reader::value() const {
    if (kind_ == Kind::Wide)
        return static_cast<char16_t>(m_.store_[pos_] | (m_.store_[pos_ + 1] << 8));
    return m_.store_[pos_];
}

QStringView PaneModel::Reader::text() const {
    if (kind_ == Kind::Wide) {
        wide_ = value();
        return QStringView(&wide_, 1);
    }
    return unitText(kind_, static_cast<uint8_t>(m_.store_[pos_]));
}

void PaneModel::Reader::next() {
    pos_ += kind_ == Kind::Wide ? 2 : 1;
    if (pos_ >= pieceEnd_ && pos_ < end_)
        enterPiece();
}

}  // namespace trelmo
