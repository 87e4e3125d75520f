#include "terminal/ReceivePaneView.h"

#include <QClipboard>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <climits>
#include <cmath>

#include "widgets/FollowBottom.h"

namespace trelmo {
namespace {

// The short name of a control character that has a picture (BEL, ESC, DEL, ...).
QString controlName(char16_t c) {
    static const char* const kNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                         "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                         "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "ETB", "SYN",
                                         "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    if (c == 0x7F)
        return QStringLiteral("DEL");
    return c < 0x20 ? QString::fromLatin1(kNames[c]) : QString();
}

// Whether the font, with the fonts the system falls back on, has a glyph for every control
// picture.
bool fontHasPictures(const QFont& font) {
    QString all;
    for (char16_t c = 0; c <= 0x7F; ++c)
        if (PaneLayout::hasControlPicture(c))
            all += QChar(PaneLayout::controlPicture(c));
    QTextLayout layout(all, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    qsizetype glyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (const quint32 glyph : run.glyphIndexes())
            if (glyph == 0)
                return false;  // the missing glyph
        glyphs += run.glyphIndexes().size();
    }
    return glyphs == all.size();
}

}  // namespace

ReceivePaneView::ReceivePaneView(QWidget* parent) : QAbstractScrollArea(parent) {
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    timer_.setSingleShot(true);
    timer_.setInterval(25);
    connect(&timer_, &QTimer::timeout, this, &ReceivePaneView::flush);
    autoScrollTimer_.setInterval(50);
    connect(&autoScrollTimer_, &QTimer::timeout, this, &ReceivePaneView::autoScroll);
    fontChanged();
}

ReceivePaneView::~ReceivePaneView() = default;

void ReceivePaneView::setModel(PaneModel* model) {
    if (model_)
        disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    layout_.setModel(model);
    if (model_) {
        connect(model_, &PaneModel::grown, this, &ReceivePaneView::onGrown);
        connect(model_, &PaneModel::cleared, this, &ReceivePaneView::onCleared);
        connect(model_, &PaneModel::reshown, this, &ReceivePaneView::onReshown);
    }
    onCleared();
}

QString ReceivePaneView::toPlainText() const {
    if (!model_)
        return QString();
    if (!prefix_)
        return model_->text();
    QString out;
    for (int i = 0; i < model_->lineCount(); ++i) {
        if (i > 0)
            out += u'\n';
        out += prefix_(i);
        out += model_->line(i);
    }
    return out;
}

// ---- Line prefix and highlights -------------------------------------------------------------

void ReceivePaneView::setLinePrefix(LinePrefix prefix, const QString& widest) {
    prefix_ = std::move(prefix);
    prefixWidest_ = prefix_ ? widest : QString();
    measurePrefix();
    // Every line moves: measured again and drawn again, now.
    reset_ = true;
    flush();
}

void ReceivePaneView::measurePrefix() {
    prefixWidth_ = 0;
    if (prefix_) {
        const QFontMetricsF fm(viewport()->font());
        qreal digit = 0;
        for (char16_t d = u'0'; d <= u'9'; ++d)
            digit = std::max(digit, fm.horizontalAdvance(QChar(d)));
        qreal w = 0;
        for (QChar c : prefixWidest_)
            w += c.isDigit() ? digit : fm.horizontalAdvance(c);
        prefixWidth_ = static_cast<Width>(std::ceil(w * 64));
    }
    if (prefix_)
        layout_.setPrefix([w = prefixWidth_](int) { return w; });
    else
        layout_.setPrefix({});
}

void ReceivePaneView::setHighlighter(Highlighter highlighter) {
    highlighter_ = std::move(highlighter);
    viewport()->update();
}

QColor ReceivePaneView::highlightColor() {
    return QColor(255, 220, 90);
}

std::vector<MatchSpan> ReceivePaneView::highlightsInView(int line) const {
    std::vector<MatchSpan> out;
    const int first = firstVisibleLine();
    if (!highlighter_ || !model_ || line < first || line > first + visibleLineCount() ||
        line >= model_->lineCount())
        return out;
    PaneLayout::Visible shown;
    const Width left = leftEdgeX();
    layout_.visible(line, left, left + Width(viewport()->width()) * 64, shown);
    highlighter_(line, shown.column, shown.column + qsizetype(shown.glyphs.size()) + 1, out);
    return out;
}

// ---- Following the model ------------------------------------------------------------------

void ReceivePaneView::schedule() {
    if (!timer_.isActive())
        timer_.start();
}

void ReceivePaneView::onGrown(int firstLine) {
    layout_.linesChanged(firstLine);
    if (grownFrom_ < 0 || firstLine < grownFrom_)
        grownFrom_ = firstLine;
    schedule();
}

void ReceivePaneView::onCleared() {
    layout_.reset();
    selection_.reset();
    grownFrom_ = -1;
    reset_ = true;
    schedule();
}

void ReceivePaneView::onReshown() {
    // Columns mean other characters now: the selection goes, everything is laid out again.
    layout_.reset();
    selection_.reset();
    grownFrom_ = -1;
    reset_ = true;
    flush();
}

QColor ReceivePaneView::dimmed(const QColor& text, const QColor& base) {
    QColor dim = text;
    dim.setRgbF(text.redF() * 0.5f + base.redF() * 0.5f,
                text.greenF() * 0.5f + base.greenF() * 0.5f,
                text.blueF() * 0.5f + base.blueF() * 0.5f);
    return dim;
}

QColor ReceivePaneView::sentColor() {
    return QColor(0, 110, 160);
}

void ReceivePaneView::flush() {
    timer_.stop();
    bool repaint = reset_;
    followBottom(*verticalScrollBar(), [&] {
        reset_ = false;
        if (grownFrom_ >= 0)
            repaint = repaint || grownFrom_ <= firstVisibleLine() + visibleLineCount() + 1;
        grownFrom_ = -1;
        layout_.measureNew();
        updateScrollBars();
    });
    if (repaint)
        viewport()->update();
}

void ReceivePaneView::updateScrollBars() {
    const int lines = model_ ? model_->lineCount() : 0;
    const int page = std::max(1, visibleLineCount());
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, lines - page));
    v->setPageStep(page);
    v->setSingleStep(1);

    const qint64 total = (layout_.widestLine() + 63) / 64 + 2 * kMargin;
    const qint64 excess = std::max<qint64>(0, total - viewport()->width());
    constexpr qint64 kMaxRange = INT_MAX / 2;
    const int oldScale = hScale_;
    hScale_ = excess > kMaxRange ? static_cast<int>((excess + kMaxRange - 1) / kMaxRange) : 1;
    QScrollBar* h = horizontalScrollBar();
    const qint64 oldX = qint64(h->value()) * oldScale;
    h->setRange(0, static_cast<int>(excess / hScale_));
    h->setPageStep(std::max(1, viewport()->width() / hScale_));
    h->setSingleStep(std::max(1, 20 / hScale_));
    if (oldScale != hScale_)
        h->setValue(static_cast<int>(oldX / hScale_));
}

int ReceivePaneView::firstVisibleLine() const {
    return verticalScrollBar()->value();
}

int ReceivePaneView::visibleLineCount() const {
    return std::max(1, viewport()->height() / lineHeight_);
}

bool ReceivePaneView::atBottom() const {
    return showsBottom(*verticalScrollBar());
}

int ReceivePaneView::contentWidth() const {
    return static_cast<int>(std::min<qint64>(INT_MAX, (layout_.widestLine() + 63) / 64));
}

ReceivePaneView::Width ReceivePaneView::leftEdgeX() const {
    return Width(horizontalScrollBar()->value()) * hScale_ * 64 - Width(kMargin) * 64;
}

void ReceivePaneView::fontChanged() {
    // Advances add up exactly when nothing is kerned or shaped: a line can then be measured
    // and drawn from any column.
    QFont f = font();
    f.setKerning(false);
    f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
    viewport()->setFont(f);
    const QFontMetricsF fm(f);
    lineHeight_ = std::max(1, static_cast<int>(std::ceil(fm.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(fm.ascent()));
    // The control pictures come from the font when it (or a font it falls back on) has them;
    // otherwise the view draws each as its short name in small letters in a thin frame.
    pictureGlyphs_ = fontHasPictures(f);
    pictureFont_ = f;
    pictureFont_.setPixelSize(std::max(6, static_cast<int>(std::lround(fm.height() * 0.5))));
    const QFontMetricsF small(pictureFont_);
    // Every line is measured again with the new font.
    layout_.setAdvance([fm, small, glyphs = pictureGlyphs_](char16_t c) {
        qreal advance = fm.horizontalAdvance(QChar(c));
        if (!glyphs && c >= 0x2400 && c <= 0x2421) {
            const auto control = static_cast<char16_t>(c == 0x2421 ? 0x7F : c - 0x2400);
            advance = small.horizontalAdvance(controlName(control)) + 6;  // in its frame
        }
        return static_cast<Width>(std::llround(advance * 64));
    });
    measurePrefix();
    reset_ = true;
    schedule();
}

// ---- Painting -----------------------------------------------------------------------------

void ReceivePaneView::paintEvent(QPaintEvent*) {
    if (!model_)
        return;
    QPainter p(viewport());
    const int lines = model_->lineCount();
    const int first = firstVisibleLine();
    const int rows = viewport()->height() / lineHeight_ + 2;
    const Width left = leftEdgeX();
    const Width right = left + Width(viewport()->width()) * 64;
    PaneLayout::Visible shown;
    for (int i = 0; i < rows && first + i < lines; ++i)
        paintLine(p, first + i, i * lineHeight_, left, right, shown);
    // The caret, while the pane has the focus.
    const Position caret = selection_.caret();
    if (hasFocus() && caret.line >= first && caret.line < first + rows && caret.line < lines) {
        const qreal cx = (layout_.xOfColumn(caret.line, caret.column) - left) / 64.0;
        const int cy = (caret.line - first) * lineHeight_;
        p.setPen(palette().color(QPalette::Text));
        p.drawLine(QPointF(cx, cy), QPointF(cx, cy + lineHeight_ - 1));
    }
}

void ReceivePaneView::paintLine(QPainter& p, int line, int y, Width left, Width right,
                                PaneLayout::Visible& shown) {
    auto px = [left](Width x) { return static_cast<qreal>(x - left) / 64.0; };
    layout_.visible(line, left, right, shown);
    const auto& glyphs = shown.glyphs;
    const qsizetype shownFrom = shown.column;
    const qsizetype shownTo = shown.column + qsizetype(glyphs.size());
    auto xAt = [&](qsizetype col) {
        col = std::max(col, shownFrom);
        return col < shownTo ? glyphs[size_t(col - shownFrom)].x : shown.end;
    };
    // The right edge of a part that goes on past the columns in view (or over the line break).
    auto xAfter = [&](qsizetype to, bool lineBreak) {
        if (to <= shownTo)
            return xAt(to);
        return shown.more ? right : shown.end + (lineBreak ? layout_.charWidth(u' ') : 0);
    };
    // The matches in view, under everything else.
    if (highlighter_) {
        highlighter_(line, shownFrom, shownTo + 1, spans_);
        for (const MatchSpan& m : spans_) {
            const Width x0 = xAt(m.from);
            const Width x1 = xAfter(m.to, m.lineBreak);
            if (x1 > x0)
                p.fillRect(QRectF(px(x0), y, (x1 - x0) / 64.0, lineHeight_), highlightColor());
        }
    }
    // The selection's part of the line, under its characters; from the line's start, the
    // prefix (copied with it) too.
    const PaneSelection::LineSpan sel = selection_.spanOn(line);
    const bool prefixSelected = prefix_ && sel.from == 0 && sel.to > 0;
    if (sel.from < sel.to) {
        const qsizetype a = std::max(sel.from, shownFrom);
        const qsizetype b = std::min(sel.to, shownTo);
        if (a <= b) {
            const Width x0 = prefixSelected && a == 0 ? 0 : xAt(a);
            const Width x1 = xAfter(sel.to, sel.lineBreak);
            if (x1 > x0)
                p.fillRect(QRectF(px(x0), y, (x1 - x0) / 64.0, lineHeight_), palette().highlight());
        }
    }
    // The prefix, dimmer than the text.
    if (prefix_ && prefixWidth_ > left) {
        const QString text = prefix_(line);
        if (!text.isEmpty()) {
            const QPalette& pal = palette();
            p.setPen(prefixSelected ? pal.color(QPalette::HighlightedText)
                                    : dimmed(pal.color(QPalette::Text), pal.color(QPalette::Base)));
            p.drawText(QPointF(px(0), y + ascent_), text);
        }
    }
    // The characters, in stretches of one style and look; blanks are gaps. An echo of sent
    // bytes has a colour of its own; control pictures are dimmer than the text.
    const bool sent = model_->isSentLine(line);
    auto styleAt = [&](size_t g) {
        const qsizetype col = shownFrom + qsizetype(g);
        return col >= sel.from && col < sel.to ? Style::Selected : Style::Plain;
    };
    QString stretch;
    size_t g = 0;
    while (g < glyphs.size()) {
        const PaneLayout::Look look = glyphs[g].look;
        if (look == PaneLayout::Look::Blank) {
            ++g;
            continue;
        }
        const Style style = styleAt(g);
        const Width x0 = glyphs[g].x;
        stretch.clear();
        if (look == PaneLayout::Look::Picture) {
            // One at a time, each at its own place (its width is the picture's).
            const char16_t c = glyphs[g].c;
            ++g;
            if (!pictureGlyphs_) {
                const QRectF cell(px(x0), y, layout_.charWidth(c) / 64.0, lineHeight_);
                drawControlName(p, c, cell, style, sent);
                continue;
            }
            stretch += QChar(PaneLayout::controlPicture(c));
        } else {
            while (g < glyphs.size() && glyphs[g].look == look && styleAt(g) == style)
                stretch += QChar(glyphs[g++].c);
        }
        drawStretch(p, stretch, px(x0), y, style, look == PaneLayout::Look::Picture, sent);
    }
}

void ReceivePaneView::drawStretch(QPainter& p, const QString& text, qreal x, int y, Style style,
                                  bool picture, bool sent) {
    const QPalette& pal = palette();
    QColor pen = pal.color(QPalette::Text);
    if (style == Style::Selected)
        pen = pal.color(QPalette::HighlightedText);
    else if (sent)
        pen = sentColor();
    if (picture && style != Style::Selected)
        pen = dimmed(pen, pal.color(QPalette::Base));
    p.setPen(pen);
    p.drawText(QPointF(x, y + ascent_), text);
}

void ReceivePaneView::drawControlName(QPainter& p, char16_t c, const QRectF& cell, Style style,
                                      bool sent) {
    const QPalette& pal = palette();
    QColor pen = style == Style::Selected ? pal.color(QPalette::HighlightedText)
                 : sent                   ? sentColor()
                                          : pal.color(QPalette::Text);
    if (style != Style::Selected)
        pen = dimmed(pen, pal.color(QPalette::Base));
    p.save();
    p.setPen(pen);
    const QRectF frame = cell.adjusted(1, 2, -1, -2);  // a pixel apart from its neighbours
    p.drawRect(frame.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setFont(pictureFont_);
    p.drawText(frame, Qt::AlignCenter, controlName(c));
    p.restore();
}

void ReceivePaneView::resizeEvent(QResizeEvent* event) {
    followBottom(*verticalScrollBar(), [&] {
        QAbstractScrollArea::resizeEvent(event);
        updateScrollBars();
    });
}

void ReceivePaneView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fontChanged();
    else if (event->type() == QEvent::PaletteChange)
        viewport()->update();
}

void ReceivePaneView::scrollContentsBy(int, int) {
    viewport()->update();
}

// ---- Selection and positions --------------------------------------------------------------

void ReceivePaneView::setSelection(Position anchor, Position caret) {
    selection_.select(anchor, caret);
    viewport()->update();
}

void ReceivePaneView::selectAll() {
    selection_.selectAll();
    viewport()->update();
}

void ReceivePaneView::clearSelection() {
    selection_.deselect();
    viewport()->update();
}

void ReceivePaneView::copy() const {
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

ReceivePaneView::Position ReceivePaneView::positionAt(const QPoint& point) const {
    const int lines = model_ ? model_->lineCount() : 0;
    if (lines == 0)
        return Position{};
    Position pos;
    pos.line = std::clamp(firstVisibleLine() + (point.y() < 0 ? -1 : point.y() / lineHeight_), 0,
                          lines - 1);
    pos.column = layout_.columnAt(pos.line, leftEdgeX() + Width(point.x()) * 64);
    return pos;
}

QPoint ReceivePaneView::pointOf(Position p) const {
    p = selection_.clamp(p);
    const Width x = layout_.xOfColumn(p.line, p.column) - leftEdgeX();
    return QPoint(static_cast<int>(std::floor(x / 64.0)),
                  (p.line - firstVisibleLine()) * lineHeight_ + lineHeight_ / 2);
}

void ReceivePaneView::ensureVisible(Position p) {
    QScrollBar* v = verticalScrollBar();
    const int visible = visibleLineCount();
    if (p.line < v->value())
        v->setValue(p.line);
    else if (p.line >= v->value() + visible)
        v->setValue(p.line - visible + 1);
    if (!model_ || model_->lineCount() == 0)
        return;
    const qint64 x = (layout_.xOfColumn(p.line, p.column) + 63) / 64 + kMargin;
    QScrollBar* h = horizontalScrollBar();
    const qint64 left = qint64(h->value()) * hScale_;
    const qint64 width = viewport()->width();
    if (x < left + kMargin)
        h->setValue(static_cast<int>(std::max<qint64>(0, x - kMargin - width / 4) / hScale_));
    else if (x > left + width - kMargin)
        h->setValue(static_cast<int>((x - width + width / 4) / hScale_));
}

// ---- Keys and mouse -----------------------------------------------------------------------

void ReceivePaneView::moveCaret(PaneSelection::Move move, bool extend) {
    selection_.move(move, visibleLineCount(), extend);
    ensureVisible(selection_.caret());
    viewport()->update();
}

void ReceivePaneView::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (e->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (!model_ || model_->lineCount() == 0) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    using Move = PaneSelection::Move;
    struct Key {
        QKeySequence::StandardKey move, select;
        Move what;
    };
    static const Key kKeys[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Move::NextChar},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Move::PreviousChar},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Move::NextLine},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Move::PreviousLine},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Move::NextPage},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Move::PreviousPage},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Move::StartOfLine},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Move::EndOfLine},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         Move::StartOfText},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Move::EndOfText},
    };
    for (const Key& k : kKeys) {
        const bool extend = e->matches(k.select);
        if (extend || e->matches(k.move)) {
            moveCaret(k.what, extend);
            return;
        }
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void ReceivePaneView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    lastMouse_ = e->position().toPoint();
    selection_.setCaret(positionAt(lastMouse_), e->modifiers() & Qt::ShiftModifier);
    selecting_ = true;
    viewport()->update();
}

void ReceivePaneView::mouseMoveEvent(QMouseEvent* e) {
    if (!selecting_ || !(e->buttons() & Qt::LeftButton))
        return;
    lastMouse_ = e->position().toPoint();
    if (viewport()->rect().contains(lastMouse_))
        autoScrollTimer_.stop();
    else if (!autoScrollTimer_.isActive())
        autoScrollTimer_.start();
    selection_.setCaret(positionAt(lastMouse_), true);
    viewport()->update();
}

void ReceivePaneView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !selecting_) {
        QAbstractScrollArea::mouseReleaseEvent(e);
        return;
    }
    selecting_ = false;
    autoScrollTimer_.stop();
    offerSelection();
}

void ReceivePaneView::offerSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void ReceivePaneView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(e);
        return;
    }
    selection_.selectWordAt(positionAt(e->position().toPoint()));
    viewport()->update();
    selecting_ = false;
    offerSelection();
}

void ReceivePaneView::autoScroll() {
    if (!selecting_) {
        autoScrollTimer_.stop();
        return;
    }
    const QRect area = viewport()->rect();
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    if (lastMouse_.y() < area.top())
        v->setValue(v->value() - 1 - (area.top() - lastMouse_.y()) / lineHeight_);
    else if (lastMouse_.y() > area.bottom())
        v->setValue(v->value() + 1 + (lastMouse_.y() - area.bottom()) / lineHeight_);
    if (lastMouse_.x() < area.left())
        h->setValue(h->value() - std::max(1, (area.left() - lastMouse_.x()) / hScale_));
    else if (lastMouse_.x() > area.right())
        h->setValue(h->value() + std::max(1, (lastMouse_.x() - area.right()) / hScale_));
    selection_.setCaret(positionAt(QPoint(std::clamp(lastMouse_.x(), area.left(), area.right()),
                                          std::clamp(lastMouse_.y(), area.top(), area.bottom()))),
                        true);
    viewport()->update();
}

void ReceivePaneView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReceivePaneView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

}  // namespace trelmo
