#pragma once
// The receive pane's view (Memo_receive): a read-only view of a PaneModel that paints only
// the visible lines and, of a long line, only the visible columns, so the cost of a repaint
// grows neither with the capture nor with the length of a line.
//
// The view is the widget around two parts that know no widgets: a PaneLayout (where the
// characters lie: widths, columns, x, the widest line, the marks of long lines) and a
// PaneSelection (anchor, caret, key moves, words, the selected text). The view gives the
// layout its font's advances and passes the model's changes on; it paints, scrolls, turns
// events into calls of the two parts, and talks to the clipboard.
//
// - Model changes are taken on a short timer (coalesced); the model itself is always exact,
//   and plainText reads it directly (the lines joined by "\n").
// - The view follows new lines only while the user is at the bottom; a selection stays on
//   its text while bytes arrive.
// - Mouse selection (drag, shift-click, double-click for a word), keyboard selection (the
//   arrows, Home/End, PageUp/PageDown with Shift), select all and copy (the platform's keys;
//   a finished mouse selection also goes to the X11 selection).
// - Characters that have no glyph of their own (C0 and C1 controls, DEL, line and paragraph
//   separators) are shown as blanks, except the control characters without a name in the
//   pane (0x07 to 0x0C, 0x0E to 0x1F, DEL; a tab too), drawn as their pictures (U+2407 ...,
//   U+2421) in a dimmer colour; copied and saved text keeps the real characters.
// - The echo of sent bytes (lines the model marks as sent) is drawn in a colour of its own.
// - A model shown anew (UTF-8 switched) is laid out and drawn again at once.
// - Horizontal scrolling is in pixels of the widest line seen; vertical scrolling in lines.
// - A line prefix (the time stamps) may stand before every line: drawn in a dimmer colour in a
//   column of its own, and part of plainText and of copies (a line copied from its start
//   carries its prefix). Setting or dropping it redraws the whole pane at once.
// - A highlighter (the find bar's) marks the matches of the lines in view; it is asked only
//   about the columns in view.

#include <QAbstractScrollArea>
#include <QFont>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

#include "core/receive/PaneLayout.h"
#include "core/receive/PaneModel.h"
#include "core/receive/PaneSearch.h"
#include "core/receive/PaneSelection.h"

class QPainter;

namespace trelmo {

class ReceivePaneView : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(QString plainText READ toPlainText)
  public:
    // A place in the text: a line and a character column in it.
    using Position = PanePosition;

    explicit ReceivePaneView(QWidget* parent = nullptr);
    ~ReceivePaneView() override;

    // The model shown (not owned; nullptr shows nothing).
    void setModel(PaneModel* model);
    PaneModel* model() const { return model_; }

    // The whole text: the model's lines (each behind its prefix, when one is set) joined by
    // "\n".
    QString toPlainText() const;

    // ---- Line prefix and highlights -------------------------------------------------------
    // The text before each line (an empty function: none). `widest` is measured for the
    // column the prefixes take, its digits at the font's widest digit.
    using LinePrefix = std::function<QString(int line)>;
    void setLinePrefix(LinePrefix prefix, const QString& widest);
    bool hasLinePrefix() const { return bool(prefix_); }
    // The parts of a line to highlight among the columns [from, to) in view (an empty
    // function: none).
    using Highlighter =
        std::function<void(int line, qsizetype from, qsizetype to, std::vector<MatchSpan>& out)>;
    void setHighlighter(Highlighter highlighter);
    // The highlighted parts of line `line` among its columns in view now (none for a line out
    // of view).
    std::vector<MatchSpan> highlightsInView(int line) const;
    // The colour of highlighted matches, under their characters.
    static QColor highlightColor();
    // The colour of the echo of sent bytes.
    static QColor sentColor();

    // ---- Selection ----------------------------------------------------------------------------
    bool hasSelection() const { return selection_.hasSelection(); }
    Position selectionStart() const { return selection_.start(); }
    Position selectionEnd() const { return selection_.end(); }
    Position caret() const { return selection_.caret(); }
    // Selects from anchor to caret (both clamped to the text).
    void setSelection(Position anchor, Position caret);
    void selectAll();
    void clearSelection();
    // The selected text; a line taken from its start carries its prefix.
    QString selectedText() const { return selection_.text(prefix_); }
    // Puts the selected text on the clipboard (nothing when nothing is selected).
    void copy() const;

    // ---- Updates and scrolling --------------------------------------------------------------
    // Takes pending model changes now.
    void flush();
    bool hasPending() const { return timer_.isActive(); }
    int firstVisibleLine() const;
    // Lines that fit in the viewport entirely.
    int visibleLineCount() const;
    // True while the view shows the last line (new lines are followed).
    bool atBottom() const;
    // The text position under a viewport point, and the viewport point of a position (its
    // left edge, at the middle of its line).
    Position positionAt(const QPoint& viewportPoint) const;
    QPoint pointOf(Position p) const;
    // Scrolls so that a position is in view.
    void ensureVisible(Position p);
    // Width of the widest line seen since the last clear, in pixels.
    int contentWidth() const;
    // The width a character takes in a line, in pixels (a control character's: its picture's).
    qreal characterWidth(char16_t c) const { return layout_.charWidth(c) / 64.0; }
    // Characters of line `line`.
    qsizetype lineLength(int line) const { return layout_.lineLength(line); }
    // The text of one line from column `from` on, at most `count` characters (-1: all).
    QString lineText(int line, qsizetype from = 0, qsizetype count = -1) const {
        return layout_.lineText(line, from, count);
    }

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
    using Width = PaneLayout::Width;
    // How a stretch of characters is drawn.
    enum class Style { Plain, Selected };

    void schedule();
    void onGrown(int firstLine);
    void onCleared();
    void onReshown();
    void fontChanged();
    // A colour halfway between the text's and the background's.
    static QColor dimmed(const QColor& text, const QColor& base);
    void updateScrollBars();
    // The width of the prefix column for the current font.
    void measurePrefix();
    // The layout's x at the viewport's left edge.
    Width leftEdgeX() const;
    void paintLine(QPainter& p, int line, int y, Width left, Width right,
                   PaneLayout::Visible& shown);
    void drawStretch(QPainter& p, const QString& text, qreal x, int y, Style style, bool picture,
                     bool sent);
    // A control character's picture drawn by the view (the font has none): its short name.
    void drawControlName(QPainter& p, char16_t c, const QRectF& cell, Style style, bool sent);
    void moveCaret(PaneSelection::Move move, bool extend);
    void autoScroll();
    // Puts a selection made with the mouse into the X11 selection (middle-click paste).
    void offerSelection();

    static constexpr int kMargin = 4;

    QPointer<PaneModel> model_;
    PaneLayout layout_;
    PaneSelection selection_{layout_};
    QTimer timer_;
    QTimer autoScrollTimer_;
    int grownFrom_ = -1;
    bool reset_ = true;
    int lineHeight_ = 16;
    int ascent_ = 12;
    int hScale_ = 1;  // pixels per horizontal scroll step
    // Whether the font shows the control pictures; the small font the view draws them in when
    // it does not.
    bool pictureGlyphs_ = false;
    QFont pictureFont_;
    bool selecting_ = false;
    QPoint lastMouse_;
    LinePrefix prefix_;
    QString prefixWidest_;
    Width prefixWidth_ = 0;
    Highlighter highlighter_;
    mutable std::vector<MatchSpan> spans_;
};

}  // namespace trelmo
