#pragma once
// Where the receive pane's characters lie along their lines, without any widget: the width
// of every unit, the x of a column and the column at an x, the width of a line and of the
// widest line, and which characters of a line fall between two x. The view gives it the
// advances of its font (kerning and shaping are off in the pane, so advances add up and a
// line can be measured and drawn from any column); tests give made-up advances.
//
// Units and columns. A line of the PaneModel is a run of stored units; a unit shows as one
// or more characters and a column counts characters. The control characters that have no name
// in the pane (0x07 to 0x0C, 0x0E to 0x1F, DEL; a tab among them) are drawn as their pictures
// of the U+2400 block (DEL as U+2421), in the picture's width; their text stays the real
// character. The other characters without a glyph of their own (C1 controls, line and
// paragraph separators, and the C0 controls that only a message line can hold) take the width
// of a blank and are drawn as nothing; a lone surrogate shows as U+FFFD. Every width question
// about a unit goes through unitWidth() (through the unit's text for a byte the model reads as
// UTF-8).
//
// Long lines. A line of more than kMarkEvery units gets a mark every kMarkEvery units (its
// offset, first column and x), walked only as far as a question needs; an answer then walks
// at most kMarkEvery units from the mark before its place, however long the line. Marks are
// kept for a few dozen lines at a time. No answer costs more than that: nothing here walks
// over the whole model, and measuring takes only what arrived since it last measured.
//
// Coordinates. Widths are in 1/64 pixel. A line's x runs from its left edge: the line's
// prefix (a width per line, none unless set) comes first and its text after it.
//
// The layout follows the model through the calls of its owner (linesChanged, reset,
// measureNew), made as the model signals its changes. Answers are cached as they are walked,
// so even the const questions are for the GUI thread only.

#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <unordered_map>
#include <vector>

#include "core/receive/PaneModel.h"

namespace trelmo {

class PaneLayout {
  public:
    using Width = int64_t;  // 1/64 pixel
    using Kind = PaneModel::Kind;
    // The advance of one character.
    using Advance = std::function<Width(char16_t)>;
    // The width of what comes before a line's text.
    using Prefix = std::function<Width(int line)>;

    // Where a walk along a line stands: a unit's store offset from the line's start, its
    // first column, and its x from the start of the line's text.
    struct Mark {
        qsizetype offset = 0;
        qsizetype column = 0;
        Width x = 0;
        bool operator==(const Mark&) const = default;
    };
    // The marks of a long line walked so far, and where the walk stands.
    struct Walk {
        std::vector<Mark> marks;
        Mark end;
    };
    static constexpr qsizetype kMarkEvery = 4096;

    // How a character is drawn.
    enum class Look : uint8_t {
        Shown,    // its glyph (c)
        Blank,    // nothing, in its width
        Picture,  // its control picture (controlPicture(c)), dimmer than the text
    };
    // One character of a line in view: what is drawn, how, and its x in the line.
    struct Glyph {
        char16_t c;
        Look look;
        Width x;
    };
    // The characters of a line from the unit under one x to the first unit past another.
    struct Visible {
        qsizetype column = 0;  // the column of glyphs[0]
        std::vector<Glyph> glyphs;
        Width end = 0;      // x right of the last glyph (of the prefix on an empty line)
        bool more = false;  // the line goes on past the stretch asked for
    };

    PaneLayout() = default;

    // The model laid out (not owned; nullptr lays out nothing). Forgets what was measured.
    void setModel(const PaneModel* model);
    const PaneModel* model() const { return model_; }
    // The advances of the characters (none set: every width is 0). Everything is measured
    // again.
    void setAdvance(Advance advance);
    // The prefix of every line (none set: no prefix). Everything is measured again.
    void setPrefix(Prefix prefix);
    // Whether a character has a control picture (0x07 to 0x0C, 0x0E to 0x1F, DEL), and the
    // picture (U+2407 to U+241F, U+2421).
    static bool hasControlPicture(char16_t c) {
        return (c >= 0x07 && c <= 0x0C) || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
    }
    static char16_t controlPicture(char16_t c) { return c == 0x7F ? 0x2421 : 0x2400 + c; }

    // ---- Following the model --------------------------------------------------------------
    // Lines from firstLine on grew or were added (PaneModel::grown); measuring starts again
    // from it if it was measured.
    void linesChanged(int firstLine);
    // Forgets every walk and measurement (the model was emptied or replaced).
    void reset();
    // Measures what arrived since the last call: the rest of the line measured last, then
    // every line after it; the widest line grows to match.
    void measureNew();
    // The widest line measured since the last reset, prefix included.
    Width widestLine() const { return widest_; }

    // ---- Widths ---------------------------------------------------------------------------
    // Whether a character is drawn as nothing (in a blank's width), control pictures aside.
    static bool showsBlank(char16_t c);
    // How a character is drawn.
    static Look lookOf(char16_t c);
    // The width a character takes in a line.
    Width charWidth(char16_t c) const;
    // The width of a unit: a byte of an 8-bit kind, or a UTF-16 code of a Wide piece.
    Width unitWidth(Kind kind, char16_t value) const;
    // The width of the unit a reader stands on.
    Width unitWidth(const PaneModel::Reader& r) const;
    Width prefixWidth(int line) const { return prefix_ ? prefix_(line) : 0; }
    // The width of line `line`, prefix included (walked to the end for a long line).
    Width lineWidth(int line) const;

    // ---- Columns and x --------------------------------------------------------------------
    // The characters of line `line` (0 for a line out of range).
    qsizetype lineLength(int line) const;
    // The text of line `line` from column `from` on, at most `count` characters (-1: all).
    QString lineText(int line, qsizetype from = 0, qsizetype count = -1) const;
    // The x of a column's left edge (the line's end for a column past it).
    Width xOfColumn(int line, qsizetype column) const;
    // Hit testing: the column whose left edge is nearest to x in the character under x (the
    // line's end past it, 0 before the text).
    qsizetype columnAt(int line, Width x) const;
    // The characters of line `line` from the one under x = left (or the first) to the first
    // unit that starts at or past x = right; `out` is filled anew (its storage is reused).
    void visible(int line, Width left, Width right, Visible& out) const;
    // The walk of a long line so far; nullptr when it was not walked (or was forgotten).
    const Walk* walked(int line) const;

    // ---- Units and columns ----------------------------------------------------------------
    // The unit of line `line` that holds a column (the line's end past it): its offset, first
    // column and x.
    Mark markAtColumn(int line, qsizetype column) const { return startForColumn(line, column); }
    // The last mark of line `line` at or before a store offset (the line's start for a line
    // without marks): a unit start to walk on from, at most kMarkEvery units before it.
    Mark markBefore(int line, qsizetype offset) const;

  private:
    static constexpr qsizetype kWalkAll = std::numeric_limits<qsizetype>::max();
    // Widths of the stored units [from, to) of a line, its text only.
    Width stretchWidth(int line, qsizetype from, qsizetype to) const;
    // The walk of a long line, taken at least to a mark past x, column and offset, or to the
    // line's end (kWalkAll for x and column).
    const Walk& walk(int line, Width x, qsizetype column, qsizetype offset = -1) const;
    // The last mark at or before a text x or a column, then on unit by unit to the unit
    // under it (the line's end past it).
    Mark startForX(int line, Width x) const;
    Mark startForColumn(int line, qsizetype column) const;
    // x of a column from the start of the line's text.
    Width textXOfColumn(int line, qsizetype column) const;

    QPointer<const PaneModel> model_;
    Advance advance_;
    Prefix prefix_;
    // Widths of every byte's text in each 8-bit kind (in kByteKinds' order), of the first
    // 256 characters, and of others as met.
    std::array<std::array<Width, 256>, 4> unitWidths_{};
    std::array<Width, 256> latinWidths_{};
    mutable std::unordered_map<char16_t, Width> otherWidths_;
    mutable std::unordered_map<int, Walk> walks_;
    // The widest line so far and how far lines have been measured.
    Width widest_ = 0;
    int measuredLine_ = 0;
    qsizetype measuredBytes_ = 0;
    Width measuredWidth_ = 0;
};

}  // namespace trelmo
