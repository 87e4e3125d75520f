#pragma once
// The receive pane's lines. The pane is a list of text lines; its text is the lines joined
// by "\n" (an empty pane reads as ""). Lines only grow (text appended to the last line,
// lines added at the end) until the pane is cleared; a line before the last never changes.
//
// Adding a whole line follows one rule everywhere: if the last line is empty (or the pane
// is empty) that line takes the text and a new empty line follows it; otherwise the text
// becomes the new last line. Either way the caller's line index advances by one, so after a
// line break it names the new empty last line, and after a message added behind a partly
// received line it names the message line.
//
// Lines of their own. Some lines must never cut a received line in two nor have received
// text glued to them: the report of bytes lost below the program, and the echo of what was
// sent. While a line is in progress (the last line holds something) such a line is held
// and added when that line ends (the next line break), in the order the lines came; with no
// line in progress it is added at once. Holding was chosen over putting the line above the
// one in progress: the lines before the last never change, so a selection, a find count and
// the layout's marks stay valid while bytes arrive, and nothing is ever copied again.
// An echo line is marked as sent (isSentLine): "> " and the bytes in the notation received
// bytes have, no received bytes of the pane.
//
// Storage. Every character of the pane comes from the code page or from the fixed texts of
// received bytes ("<CR>", "0x41 "), so the pane keeps one byte per unit in an append-only
// store: a received byte is kept as itself together with how it is shown (a piece kind),
// and a message as its code-page bytes. A message with characters outside the code page is
// kept as UTF-16 (two bytes a unit). Lines are offsets into that store; pieces mark where
// the kind changes. Texts are built when asked for, so a hex-mode capture costs one byte per
// received byte, not five characters.
//
// UTF-8. While on (setUtf8), the received bytes of text mode (Kind::Text) are read as UTF-8:
// the first byte of a well-formed sequence shows its character (two UTF-16 codes above the
// BMP), the rest of the sequence shows nothing, and a byte of no well-formed sequence shows
// as the code page shows it. A sequence never spans two lines or two pieces. The store keeps
// the bytes as received, so switching shows every line anew at once (reshown). At the end of
// the last line the start of a sequence whose other bytes have not arrived yet is held back
// (it is no part of the line's units until it is complete, or until something proves it
// broken: another byte, a line break), so a character split across two received blocks
// joins and the text before it never changes.
//
// Times and line ends. Every line may carry one time (steady-clock nanoseconds, see
// core/receive/TimeStamps.h): the arrival of the first byte received for it (a line that
// holds nothing takes the time of the line feed that ended it), or when a message line was
// added. A line has no time (kNoTime) until then. The pane also remembers which lines were
// ended by a received line feed it does not show (text mode and the hex mode with names), so
// the received bytes can be read back in order, line feeds included (a byte search needs
// them). Both cost a few bytes per line, not per byte.

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace trelmo {

// An append-only array in fixed-size chunks: growing never copies what is stored, and
// memory follows the size (no doubling).
template <typename T, int Shift>
class ChunkedArray {
  public:
    static constexpr qsizetype kChunk = qsizetype(1) << Shift;

    qsizetype size() const { return size_; }
    T operator[](qsizetype i) const { return chunks_[i >> Shift][i & (kChunk - 1)]; }
    T back() const { return (*this)[size_ - 1]; }
    void set(qsizetype i, T v) { chunks_[i >> Shift][i & (kChunk - 1)] = v; }
    void push_back(T v) {
        if (size_ == qsizetype(chunks_.size()) << Shift)
            chunks_.push_back(std::make_unique_for_overwrite<T[]>(kChunk));
        chunks_.back()[size_ & (kChunk - 1)] = v;
        ++size_;
    }
    void append(const T* p, qsizetype n);
    // The contiguous run of elements from i to the end of its chunk (or of the array).
    const T* run(qsizetype i, qsizetype& count) const {
        count = std::min(kChunk - (i & (kChunk - 1)), size_ - i);
        return chunks_[i >> Shift].get() + (i & (kChunk - 1));
    }
    void clear() {
        chunks_.clear();
        chunks_.shrink_to_fit();
        size_ = 0;
    }
    size_t memoryUsage() const {
        return chunks_.size() * sizeof(T) * kChunk + chunks_.capacity() * sizeof(chunks_[0]);
    }

  private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    qsizetype size_ = 0;
};

template <typename T, int Shift>
void ChunkedArray<T, Shift>::append(const T* p, qsizetype n) {
    while (n > 0) {
        if (size_ == qsizetype(chunks_.size()) << Shift)
            chunks_.push_back(std::make_unique_for_overwrite<T[]>(kChunk));
        const qsizetype at = size_ & (kChunk - 1);
        const qsizetype take = std::min(n, kChunk - at);
        std::copy_n(p, take, chunks_.back().get() + at);
        size_ += take;
        p += take;
        n -= take;
    }
}

class PaneModel : public QObject {
    Q_OBJECT
  public:
    // How the units of a piece are shown.
    enum class Kind : uint8_t {
        Literal,   // a character of the code page per byte
        Wide,      // UTF-16: a character per two bytes (messages outside the code page)
        Text,      // received bytes in text mode: 0 to 6 and 13 by name, others the character
        HexEvery,  // received bytes, each as "0x", two upper-case digits and a blank
        HexNamed,  // received bytes in hex, but 1 to 6 and 13 by name
    };

    // A line without a time.
    static constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

    explicit PaneModel(QObject* parent = nullptr);
    ~PaneModel() override;

    // Adds a whole line by the rule above; lineIndex += 1. The line that takes the text gets
    // `time` unless it has one.
    void addLine(QStringView text, int& lineIndex, int64_t time = kNoTime);
    // The empty line of a line break: addLine with an empty text; lineIndex += 1.
    void addEmptyLine(int& lineIndex) { addLine(QStringView(), lineIndex); }
    // A line break of received data: the line at lineIndex ends and an empty line follows, as
    // addEmptyLine. byLineFeed: a received line feed the pane does not show ended it. The
    // ended line gets `time` unless it has one (a line that received nothing but its end).
    void addLineBreak(int& lineIndex, bool byLineFeed, int64_t time = kNoTime);
    // Appends text to the last line, `index` (0-based). A non-empty text for a line past the
    // end first extends the pane with empty lines up to it; an empty text changes nothing.
    // A negative index, or one before the last line, is ignored (those lines never change).
    void appendToLine(int index, QStringView text);
    // Appends received bytes, shown by `kind` (Text, HexEvery or HexNamed), to line `index`
    // as appendToLine does. Byte 10 shows nothing in Text and HexNamed and is not kept there.
    // The line gets `time` (when its first byte arrived) unless it has one.
    void appendReceived(int index, Kind kind, QByteArrayView bytes, int64_t time = kNoTime);
    // Empties the pane. Lines held for the end of the line in progress stay held: the owner
    // adds them to the emptied pane with releaseHeld.
    void clear();

    // ---- Lines of their own (see above) ---------------------------------------------------
    // A message line that never splits received text: added by addLine's rule at once when
    // no line is in progress, else held until the line in progress ends. lineIndex advances
    // as addLine's when the line is added.
    void addSeparateLine(QStringView text, int& lineIndex, int64_t time = kNoTime);
    // The echo of sent bytes: "> " and the bytes shown by `kind` (Text, HexEvery or HexNamed),
    // on lines marked as sent, held as addSeparateLine's. In Text and HexNamed a byte 10
    // ends an echo line (as it ends a received one); bytes after the last one go on a line
    // of their own, and nothing follows a last byte 10.
    void addSentLines(Kind kind, QByteArrayView bytes, int& lineIndex, int64_t time = kNoTime);
    // Adds the held lines now, when no line is in progress (a line break does it itself).
    void releaseHeld(int& lineIndex);
    // Lines waiting for the line in progress to end.
    qsizetype heldLineCount() const { return static_cast<qsizetype>(held_.size()); }
    // Whether the last line holds anything (received or not, shown yet or not).
    bool lineInProgress() const {
        return lineCount() > 0 && store_.size() > lines_[lineCount() - 1];
    }
    // Whether line `index` is an echo of sent bytes.
    bool isSentLine(int index) const {
        return index >= 0 && index < lineCount() && (flags_[index] & kSentLine);
    }

    // ---- UTF-8 ----------------------------------------------------------------------------
    // Received text read as UTF-8 (off: the code page, one character a byte). Switching emits
    // reshown() when it changes anything.
    void setUtf8(bool on);
    bool utf8() const { return utf8_; }
    // What the Text unit at a store offset relative to line `line`'s start shows while UTF-8
    // is on (a byte of 0x80 or more; the offset must fall in the line): its character, nothing
    // for the rest of a sequence, or the code page's character. `buffer` holds the text.
    QStringView textUnitAt(int line, qsizetype offset, char16_t (&buffer)[2]) const;
    // Bytes held back at the end of the last line as the start of a sequence not complete yet.
    qsizetype heldBackBytes() const { return tail_; }
    // Well-formed UTF-8 as the pane reads it: the length of the sequence a byte starts (0:
    // none), and whether byte `b` may stand at place k (1, 2 or 3) of the sequence of `lead`
    // (no overlong forms, no surrogates, nothing past U+10FFFF).
    static int utf8Length(uint8_t lead);
    static bool utf8Follows(uint8_t lead, int k, uint8_t b);

    int lineCount() const { return static_cast<int>(lines_.size()); }
    bool isEmpty() const { return lines_.size() == 0; }
    // Line `index`; an index out of range gives an empty text.
    QString line(int index) const;
    // All lines, including an empty last line after a line break (built on each call).
    QStringList lines() const;
    // The lines joined by "\n".
    QString text() const;
    // The time of line `index` (kNoTime: none, or out of range).
    int64_t lineTime(int index) const {
        return index >= 0 && index < lineCount() ? times_[index] : kNoTime;
    }
    // Whether line `index` was ended by a received line feed the pane does not show.
    bool endsWithLineFeed(int index) const {
        return index >= 0 && index < lineCount() && (flags_[index] & kLineFeedEnd);
    }

    // Heap bytes held.
    size_t memoryUsage() const;

    // ---- Reading by units, for views ------------------------------------------------------
    // A line is a range of units; a unit shows as one or more characters (unitText).
    // Offsets are store offsets relative to the line's start (a Wide unit is two bytes).
    qsizetype lineBytes(int index) const;
    // The characters a byte shows as in a piece of an 8-bit kind (every kind but Wide).
    static QStringView unitText(Kind kind, uint8_t byte);
    // The 8-bit kinds, in the order of tables kept per kind, and a kind's place in it.
    static constexpr Kind kByteKinds[4] = {Kind::Literal, Kind::Text, Kind::HexEvery,
                                           Kind::HexNamed};
    static constexpr int byteKindIndex(Kind kind) {
        switch (kind) {
            case Kind::Literal:
                return 0;
            case Kind::Text:
                return 1;
            case Kind::HexEvery:
                return 2;
            case Kind::HexNamed:
            case Kind::Wide:  // not an 8-bit kind; callers never ask
                break;
        }
        return 3;
    }
    // Calls f(kind, data, n) for each stretch of stored units of one kind and in one piece of
    // memory within the offsets [from, to) of line `line` (a Wide stretch holds n / 2 units,
    // low byte first). Offsets must fall on unit starts.
    template <typename F>
    void forEachStretch(int line, qsizetype from, qsizetype to, F&& f) const;
    // Walks the units of one line from a byte offset. Invalid after the model changes
    // other than by growing.
    class Reader {
      public:
        Reader(const PaneModel& model, int line, qsizetype offset = 0);
        bool atEnd() const { return pos_ >= end_; }
        Kind kind() const { return kind_; }
        // The unit's byte, or its UTF-16 code in a Wide piece.
        char16_t value() const;
        // The characters the unit shows as.
        QStringView text() const;
        // Byte offset of the current unit from the line's start.
        qsizetype offset() const { return pos_ - begin_; }
        // Whether the unit's text depends on the bytes around it (a byte of 0x80 or more
        // received in text mode while UTF-8 is on): its width is then its text's.
        bool decoded() const { return decoding_ && m_.store_[pos_] >= 0x80; }
        void next();

      private:
        void enterPiece();
        const PaneModel& m_;
        qsizetype begin_, pos_, end_;
        size_t piece_ = 0;
        qsizetype pieceStart_ = 0;
        qsizetype pieceEnd_ = 0;
        Kind kind_ = Kind::Literal;
        bool decoding_ = false;
        mutable char16_t wide_[2] = {0, 0};
    };

    // Holds back the change signal until the outermost batch ends, then sends it once.
    class Batch {
      public:
        explicit Batch(PaneModel& m) : m_(m) { ++m_.batchDepth_; }
        ~Batch() {
            if (--m_.batchDepth_ == 0)
                m_.notify();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        PaneModel& m_;
    };

  signals:
    // Lines from `firstLine` on grew or were added.
    void grown(int firstLine);
    // The pane was emptied.
    void cleared();
    // Every line may show differently now (UTF-8 switched): views lay the pane out again.
    void reshown();

  private:
    struct Piece {
        qsizetype start;  // store offset where the piece begins
        Kind kind;
    };
    static constexpr uint8_t kLineFeedEnd = 1;
    static constexpr uint8_t kSentLine = 2;
    // A line waiting for the line in progress to end.
    struct Held {
        QString text;      // a message line
        QByteArray bytes;  // or the bytes of an echo line (sent)
        Kind kind = Kind::Literal;
        bool sent = false;
        int64_t time = kNoTime;
    };
    qsizetype lineBegin(int index) const { return lines_[index]; }
    // Starts a line at the end of the store (no time, no flags): the line before it ends.
    void pushLine();
    // Adds a held line (or one that needs no holding) at the end: the last line is empty.
    void putSeparate(const Held& line, int& lineIndex);
    // The held-back bytes at the store's end, worked out again after the last line changed.
    void updateTail();
    // The length of the well-formed UTF-8 sequence at store offset `at` that ends before
    // `limit`; 0 when there is none.
    int sequenceAt(qsizetype at, qsizetype limit) const;
    // What the Text byte at `at` (0x80 or more) shows while UTF-8 is on, the sequences
    // looked for within [from, limit).
    QStringView utf8Unit(qsizetype at, qsizetype from, qsizetype limit,
                         char16_t (&buffer)[2]) const;
    // Gives line `index` a time unless it has one.
    void stampLine(int index, int64_t time) {
        if (time != kNoTime && index >= 0 && index < lineCount() && times_[index] == kNoTime)
            times_.set(index, time);
    }
    // Where line `index`'s units end: the next line's start, or for the last line the
    // store's end less the held-back bytes.
    qsizetype lineEnd(int index) const {
        return index + 1 < lineCount() ? lines_[index + 1] : store_.size() - tail_;
    }
    // Appends units of `kind` to the end of the store (the last line).
    void put(Kind kind, const uint8_t* data, qsizetype n);
    void putText(QStringView text);
    // Appends the characters of the store range [from, to) to out.
    void appendRange(QString& out, qsizetype from, qsizetype to) const;
    // Extends the pane with empty lines until `index` is its last line.
    void reachLine(int index);
    void markGrown(int firstLine);
    void notify();
    size_t pieceAt(qsizetype offset) const;

    ChunkedArray<uint8_t, 16> store_;
    ChunkedArray<qsizetype, 13> lines_;  // store offset where each line begins
    ChunkedArray<int64_t, 13> times_;    // each line's time, or kNoTime
    ChunkedArray<uint8_t, 13> flags_;    // each line's kLineFeedEnd and kSentLine
    std::vector<Piece> pieces_;
    std::vector<Held> held_;
    bool utf8_ = false;
    qsizetype tail_ = 0;  // held-back bytes at the store's end (UTF-8 only)
    int batchDepth_ = 0;
    int grownFrom_ = -1;
};

template <typename F>
void PaneModel::forEachStretch(int line, qsizetype from, qsizetype to, F&& f) const {
    if (line < 0 || line >= lineCount())
        return;
    const qsizetype base = lineBegin(line);
    qsizetype at = base + std::max<qsizetype>(from, 0);
    const qsizetype stop = std::min(base + to, lineEnd(line));
    if (at >= stop)
        return;
    size_t p = pieceAt(at);
    while (at < stop) {
        const qsizetype pieceEnd =
            p + 1 < pieces_.size() ? std::min(pieces_[p + 1].start, stop) : stop;
        if (pieces_[p].kind == Kind::Wide) {
            // A unit may straddle two chunks: hand the units over in a copy.
            uint8_t copy[512];
            while (at + 1 < pieceEnd) {
                const qsizetype n =
                    std::min<qsizetype>(sizeof copy, (pieceEnd - at) & ~qsizetype(1));
                for (qsizetype i = 0; i < n; ++i)
                    copy[i] = store_[at + i];
                f(Kind::Wide, static_cast<const uint8_t*>(copy), n);
                at += n;
            }
            at = pieceEnd;
        }
        while (at < pieceEnd) {
            qsizetype n = 0;
            const uint8_t* data = store_.run(at, n);
            n = std::min(n, pieceEnd - at);
            f(pieces_[p].kind, data, n);
            at += n;
        }
        ++p;
    }
}

}  // namespace trelmo
