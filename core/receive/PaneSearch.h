#pragma once
// Finding text or bytes in the receive pane.
//
// What matches.
// - Text: the characters the pane shows, line by line, as a copy of the pane gives them: a
//   byte shown by name matches as its name ("<CR>"), a byte shown in hex as its digits and
//   blank ("0x41 "), a message as its text. So "CR>" is found in "<CR>" and "41 0x42" across
//   two hex units. A match lies within one line. Case is folded (QChar::toCaseFolded, one
//   character for one) unless the search is case-sensitive. Time stamps are no part of it.
// - Bytes (typed as hex, "0D 0A", or as a command string with "#hh" escapes, "#0D#0A"): the
//   received bytes in the order they arrived, line feeds included, in whatever mode they were
//   shown; message lines and the echo of sent bytes are no part of them. A match may span lines: it
//   covers the units of its bytes, and a line feed the pane does not show stands at the end of the
//   line it ended (a match ending on one ends at the next line's start). "0D 0A" therefore finds
//   every CR LF, shown as "<CR>" and a line break or as "0x0D " and a line starting "0x0A ".
// Matches may overlap ("aa" is found twice in "aaa"); they are visited and numbered in the
// order of their starts (all matches of a search have the same length, so that is also the
// order of their ends).
//
// How. The pattern is compiled into a Knuth-Morris-Pratt automaton over characters or bytes
// and, for each 8-bit display kind, into a table that takes one stored unit (a byte with all
// the characters it shows) a step. A scan reads the pane's store stretch by stretch (each
// stretch one piece of memory of one kind), carrying the partial match across chunk and piece
// ends (and, for bytes, across line ends). Where a scan hits, the match's exact place is found
// by walking only the units just before the hit (from a mark of the finder's own PaneLayout).
// Counting goes in slices (countSome) and leaves checkpoints, so a large capture never holds
// the window up and the number of a match is found from the checkpoint before it. Highlights
// are asked for the columns in view only.
//
// The finder follows its model: counting goes on over what arrives; a model emptied or shown
// anew (UTF-8 switched) drops every match and the count (cleared()). For the GUI thread only.

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/receive/PaneLayout.h"
#include "core/receive/PaneModel.h"
#include "core/receive/PaneSelection.h"

namespace trelmo {

// What the user asks to find.
struct FindQuery {
    enum class Input {
        Text,     // the characters shown
        Hex,      // bytes as pairs of hex digits: "0D 0A", "0d0a", "0x0D,0x0A"
        Escapes,  // bytes as a command string: characters and "#hh"
    };
    Input input = Input::Text;
    QString typed;
    bool caseSensitive = false;  // text only
};

// Why a query has nothing to look for.
enum class FindError {
    None,
    Empty,       // nothing typed
    NotHex,      // not pairs of hex digits
    NotEscapes,  // a "#" without two hex digits
    TooLong,     // more than kMaxPattern characters or bytes
};

// A match: its first character, and the place after its last one.
struct PaneMatch {
    PanePosition start;
    PanePosition end;
    bool operator==(const PaneMatch&) const = default;
};

// The part of one line a match covers: columns [from, to) and, when it goes on to the next
// line, the line break (`to` is then past any column).
struct MatchSpan {
    qsizetype from = 0;
    qsizetype to = 0;
    bool lineBreak = false;
    bool operator==(const MatchSpan&) const = default;
};

// The bytes a query in Hex or Escapes stands for; nullopt with the reason when it is not one.
std::optional<QByteArray> findBytesOf(const FindQuery& query, FindError* error = nullptr);

class PaneFinder : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxPattern = 256;

    // The model searched (not owned; it must outlive the finder).
    explicit PaneFinder(const PaneModel& model, QObject* parent = nullptr);
    ~PaneFinder() override;

    // What to look for: compiled, the count started again. A query with an error looks for
    // nothing (every answer is "none").
    FindError setQuery(const FindQuery& query);
    void clearQuery();
    bool hasPattern() const { return m_ > 0; }
    // Characters (text) or bytes of the pattern.
    int patternLength() const { return m_; }

    // ---- Finding ----------------------------------------------------------------------------
    // The first match starting at `from` or after it (strictly after, when strict); with
    // wrap, when none is left, the first one from the top (wrapped is then set).
    std::optional<PaneMatch> findNext(PanePosition from, bool strict, bool wrap = true,
                                      bool* wrapped = nullptr) const;
    // The last match starting before `before`; with wrap, when there is none, the last one of
    // all (wrapped is then set).
    std::optional<PaneMatch> findPrevious(PanePosition before, bool wrap = true,
                                          bool* wrapped = nullptr) const;

    // ---- Counting ---------------------------------------------------------------------------
    // Counts on for about budgetNs nanoseconds (at least one stretch); true when the count has
    // caught up with the model (until more arrives).
    bool countSome(int64_t budgetNs);
    bool counted() const;
    // Matches counted so far.
    qsizetype count() const { return count_.total; }
    // A match's number (1-based) once the count has passed it; nullopt before that, or for
    // a place that is no match.
    std::optional<qsizetype> numberOf(const PaneMatch& match) const;

    // ---- Highlighting -----------------------------------------------------------------------
    // The parts of line `line` that matches cover, of those touching columns [fromColumn,
    // toColumn); `out` is filled anew. Looks only at the units around those columns.
    void spansOnLine(int line, qsizetype fromColumn, qsizetype toColumn,
                     std::vector<MatchSpan>& out) const;

  signals:
    // The model was emptied: every match and the count are gone.
    void cleared();

  private:
    using Kind = PaneModel::Kind;
    using Mark = PaneLayout::Mark;
    // Where a scan or count stands: a line, a unit offset in it (lineBytes: its units are
    // done, the line's end not yet), the automaton's state.
    struct Point {
        int line = 0;
        qsizetype offset = 0;
        uint32_t state = 0;
    };
    struct Checkpoint {
        Point at;
        qsizetype before = 0;  // matches ending before `at`
    };
    // A match found by walking: its place, and the unit (offset; lineBytes for a line feed
    // at the line's end) and character in it where it ends.
    struct Found {
        PaneMatch match;
        int endLine = 0;
        qsizetype endOffset = 0;
        int endChar = 0;
    };

    void onGrown(int firstLine);
    void onCleared();
    void resetCount();

    // The automaton.
    char16_t fold(char16_t c) const;
    uint32_t charStep(uint32_t state, char16_t c) const;
    uint32_t byteStep(uint32_t state, uint8_t b) const { return delta_[state * 256 + b]; }
    // The unit table of an 8-bit kind: for each state and byte, the next state | (matches
    // ending in the unit) << 16; and the bytes that leave state 0 (or end a match there), so
    // a scan in state 0 can skip the others (with memchr when there is only one).
    struct UnitTable {
        std::vector<uint32_t> next;
        std::array<bool, 256> starts{};
        int single = -1;  // the one byte that starts, or kSeveral, or kNone
    };
    static constexpr int kSeveral = -1;
    static constexpr int kNone = -2;
    const UnitTable& unitTable(Kind kind) const;
    static constexpr uint32_t kStateMask = 0xFFFF;
    static constexpr int kHitShift = 16;

    // Scans the units of `line` from offset `from` (a unit start) to `to`, from `state`, at
    // most about `budget` bytes; onHit(offset, hits) for each unit where matches end (false
    // stops the scan after it). Returns the offset reached (a unit start) and sets state.
    template <typename OnHit>
    qsizetype scanLine(int line, qsizetype from, qsizetype to, uint32_t& state, qsizetype budget,
                       OnHit&& onHit, bool& stopped) const;
    // A line's end for the automaton: bytes take the line feed that ended it (onHit with
    // offset lineBytes), text starts over. Only for a line that has ended.
    template <typename OnHit>
    void scanLineEnd(int line, uint32_t& state, OnHit&& onHit, bool& stopped) const;
    // Scans from p on to the model's end, or past line `lastLine`; onHit(line, offset,
    // hits). Returns where it stopped.
    template <typename OnHit>
    Point scan(Point p, int lastLine, OnHit&& onHit) const;

    // Walks from `from` (a unit start of `line`, state 0) to the end of unit (stopLine,
    // stopOffset), or of the line's end for stopOffset == lineBytes, and calls f(Found) for
    // every match that ends on the way (false stops).
    template <typename F>
    void walk(int line, Mark from, int stopLine, qsizetype stopOffset, F&& f) const;
    // The matches that end in the unit (line, offset) a scan hit, in order.
    std::vector<Found> locate(int line, qsizetype offset) const;
    // The first match from p's unit on that starts at or after `from` (after, when strict),
    // looking no further than line `lastLine`.
    std::optional<PaneMatch> firstFrom(PanePosition from, bool strict, int lastLine) const;
    // The unit and character where a match ends.
    bool endOf(const PaneMatch& m, int& line, qsizetype& offset, int& ch) const;

    const PaneModel& model_;
    PaneLayout layout_;  // columns and offsets (no widths)

    // The compiled pattern.
    bool text_ = true;
    int m_ = 0;
    bool caseSensitive_ = false;
    std::array<uint16_t, 256> latinClass_{};
    std::unordered_map<char16_t, uint16_t> otherClass_;
    int classes_ = 1;
    std::vector<uint32_t> delta_;  // (m + 1) x classes (text) or x 256 (bytes)
    mutable std::array<UnitTable, 4> unitTables_;

    // The count.
    struct Count {
        Point at;
        qsizetype total = 0;
        qsizetype sinceCheckpoint = 0;  // bytes scanned since the last checkpoint
        int linesSinceCheckpoint = 0;
        std::vector<Checkpoint> checkpoints;
    } count_;
};

}  // namespace trelmo
