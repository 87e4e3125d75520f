#pragma once
// The selection of the receive pane: an anchor and a caret, each a line and a character
// column of the text the PaneLayout lays out. The selection runs from the earlier of the two
// to the later; it is empty when they meet. Positions stay where they are while lines grow
// or are added (the text before them never changes), so a selection stays on its text while
// bytes arrive; the owner resets it when the pane is emptied.
//
// Besides the positions it knows the moves of the keys (by character across line ends, by
// line, by page, to either end of a line or of the text), a word's extent, and the selected
// text. Nothing here draws or scrolls: that is the view's.

#include <QString>
#include <algorithm>
#include <compare>
#include <functional>

#include "core/receive/PaneLayout.h"

namespace trelmo {

// A place in the pane's text: a line and a character column in it.
struct PanePosition {
    int line = 0;
    qsizetype column = 0;
    auto operator<=>(const PanePosition&) const = default;
};

class PaneSelection {
  public:
    using Position = PanePosition;
    // What a key does to the caret.
    enum class Move {
        NextChar,      // on the next line's start from a line's end
        PreviousChar,  // on the previous line's end from a line's start
        NextLine,
        PreviousLine,
        NextPage,
        PreviousPage,
        StartOfLine,
        EndOfLine,
        StartOfText,
        EndOfText,
    };
    // The selected columns [from, to) of one line, and whether its line break is selected.
    struct LineSpan {
        qsizetype from = 0;
        qsizetype to = 0;
        bool lineBreak = false;
    };

    explicit PaneSelection(const PaneLayout& layout) : layout_(layout) {}

    Position anchor() const { return anchor_; }
    Position caret() const { return caret_; }
    bool hasSelection() const { return anchor_ != caret_; }
    Position start() const { return std::min(anchor_, caret_); }
    Position end() const { return std::max(anchor_, caret_); }
    // The selection's part of line `line` (empty for a line outside it). A line before the
    // selection's last goes on to its end: `to` is then past any column.
    LineSpan spanOn(int line) const;

    // The nearest position in the text: the line clamped to the lines, the column to the
    // line's characters (the start of an empty text).
    Position clamp(Position p) const;
    // Selects from anchor to caret, both clamped.
    void select(Position anchor, Position caret);
    void selectAll();
    // Drops the selection, keeping the caret.
    void deselect() { anchor_ = caret_; }
    // Both at the start: the text was emptied.
    void reset() { anchor_ = caret_ = Position{}; }
    // Puts the caret on a position of the text (one hit-tested, say); with extend the anchor
    // stays, otherwise it comes along.
    void setCaret(Position p, bool extend);
    // Moves the caret as a key does; a page is `page` lines.
    void move(Move move, int page, bool extend);
    // Selects the word around p: a run of characters other than white space, looked for at
    // most a few hundred characters either side. On white space or past the line's end,
    // only the caret moves there.
    void selectWordAt(Position p);

    // The selected text, lines joined by "\n". lead (when set) gives a text put before each line
    // the selection takes from its start (the line's time stamp, say); nothing goes before a
    // line of which nothing is selected.
    QString text(const std::function<QString(int line)>& lead = {}) const;

  private:
    int lineCount() const;

    const PaneLayout& layout_;
    Position anchor_;
    Position caret_;
};

}  // namespace trelmo
