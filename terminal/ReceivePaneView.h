#pragma once
// The receive pane's view (Memo_receive): a read-only view of a PaneModel that paints only
// the visible lines and, of a long line, only the visible columns, so the cost of a repaint
// grows neither with the capture nor with the length of a line.
//
// - Model changes are taken on a short timer (coalesced); the model itself is always exact,
//   and plainText reads it directly (the lines joined by "\n").
// - The view follows new lines only while the user is at the bottom; a selection stays on
//   its text while bytes arrive.
// - Mouse selection (drag, shift-click, double-click for a word), keyboard selection (the
//   arrows, Home/End, PageUp/PageDown with Shift), select all and copy (the platform's keys;
//   a finished mouse selection also goes to the X11 selection).
// - Characters that have no glyph of their own (C0 and C1 controls, DEL, line and paragraph
//   separators) are shown as blanks (a tab as four); copied and saved text keeps them.
// - Horizontal scrolling is in pixels of the widest line seen; vertical scrolling in lines.

#include <QAbstractScrollArea>
#include <QPointer>
#include <QTimer>
#include <array>
#include <limits>
#include <unordered_map>
#include <vector>

#include "core/receive/PaneModel.h"

namespace trelmo {

class ReceivePaneView : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(QString plainText READ toPlainText)
  public:
    // A place in the text: a line and a character column in it.
    struct Position {
        int line = 0;
        qsizetype column = 0;
        auto operator<=>(const Position&) const = default;
    };

    explicit ReceivePaneView(QWidget* parent = nullptr);
    ~ReceivePaneView() override;

    // The model shown (not owned; nullptr shows nothing).
    void setModel(PaneModel* model);
    PaneModel* model() const { return model_; }

    // The whole text: the model's lines joined by "\n".
    QString toPlainText() const;

    // ---- Selection ----------------------------------------------------------------------------
    bool hasSelection() const { return anchor_ != caret_; }
    Position selectionStart() const { return std::min(anchor_, caret_); }
    Position selectionEnd() const { return std::max(anchor_, caret_); }
    Position caret() const { return caret_; }
    // Selects from anchor to caret (both clamped to the text).
    void setSelection(Position anchor, Position caret);
    void selectAll();
    void clearSelection();
    QString selectedText() const;
    // Puts the selected text on the clipboard (nothing when nothing is selected).
    void copy() const;

    // ---- Updates and scrolling --------------------------------------------------------------
    // Takes pending model changes now.
    void flush();
    bool hasPending() const { return timer_.isActive(); }
    // Delay between a change and its display, in milliseconds (default 25).
    void setUpdateInterval(int ms) { timer_.setInterval(ms); }
    int firstVisibleLine() const;
    // Lines that fit in the viewport entirely.
    int visibleLineCount() const;
    // True while the view shows the last line (new lines are followed).
    bool atBottom() const;
    // The text position under a viewport point, and the viewport point of a position (its
    // left edge, at the middle of its line).
    Position positionAt(const QPoint& viewportPoint);
    QPoint pointOf(Position p);
    // Scrolls so that a position is in view.
    void ensureVisible(Position p);
    // Width of the widest line seen since the last clear, in pixels.
    int contentWidth() const;
    // Characters of line `line`.
    qsizetype lineLength(int line);
    // The text of one line from column `from` on, at most `count` characters (-1: all).
    QString lineText(int line, qsizetype from = 0, qsizetype count = -1);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    using Width = int64_t;  // 1/64 pixel
    // Where a walk along a line stands: a unit's store offset, its first column and x.
    struct Mark {
        qsizetype offset = 0;
        qsizetype column = 0;
        Width x = 0;
    };
    // Marks every few thousand units of a long line, and how far the line was walked.
    struct LineMarks {
        std::vector<Mark> marks;
        Mark end;  // the walk reached this far
    };

    void schedule();
    void onGrown(int firstLine);
    void onCleared();
    void fontChanged();
    void updateScrollBars();
    int lineHeight() const { return lineHeight_; }
    Width charWidth(char16_t c);
    bool blank(char16_t c) const;
    Width unitWidth(PaneModel::Kind kind, char16_t value);
    // Widths of the stored units [from, to) of a line.
    Width stretchWidth(int line, qsizetype from, qsizetype to);
    // The marks of a line (longer than kMarkEvery), walked at least to a mark past both x
    // and column, or to the line's end (kWalkAll for both).
    const LineMarks& marksOf(int line, Width x, qsizetype column);
    static constexpr qsizetype kWalkAll = std::numeric_limits<qsizetype>::max();
    // The last mark at or before the given x or column (a line start for short lines).
    Mark startForX(int line, Width x);
    Mark startForColumn(int line, qsizetype column);
    // x of a column in a line (the line's end for a column past it).
    Width xOfColumn(int line, qsizetype column);
    qsizetype clampColumn(int line, qsizetype column);
    Position clamp(Position p);
    void moveCaret(Position to, bool extend);
    void autoScroll();
    void selectWordAt(Position p);
    // Puts a selection made with the mouse into the X11 selection (middle-click paste).
    void offerSelection();
    Width scrollX() const;

    static constexpr qsizetype kMarkEvery = 4096;
    static constexpr int kMargin = 4;

    QPointer<PaneModel> model_;
    QTimer timer_;
    QTimer autoScrollTimer_;
    int grownFrom_ = -1;
    bool reset_ = true;
    // The widest line so far and how far lines have been measured.
    Width maxWidth_ = 0;
    int measuredLine_ = 0;
    qsizetype measuredBytes_ = 0;
    Width measuredWidth_ = 0;
    std::unordered_map<int, LineMarks> marks_;
    // Widths of every byte's text in each 8-bit kind, and of other characters as met.
    std::array<std::array<Width, 256>, 4> unitWidths_{};
    std::array<Width, 256> latinWidths_{};
    std::unordered_map<char16_t, Width> otherWidths_;
    int lineHeight_ = 16;
    int ascent_ = 12;
    int hScale_ = 1;  // pixels per horizontal scroll step
    Position anchor_;
    Position caret_;
    bool selecting_ = false;
    QPoint lastMouse_;
};

}  // namespace trelmo
