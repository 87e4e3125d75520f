#include "terminal/ReceivePaneView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cmath>

namespace trelmo {
namespace {

using Kind = PaneModel::Kind;

bool isSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// One character on its way to the screen.
struct Glyph {
    char16_t c;
    bool blank;
    qint64 x;  // 1/64 pixel, from the line's start
};

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
    if (model_) {
        connect(model_, &PaneModel::grown, this, &ReceivePaneView::onGrown);
        connect(model_, &PaneModel::cleared, this, &ReceivePaneView::onCleared);
    }
    onCleared();
}

QString ReceivePaneView::toPlainText() const {
    return model_ ? model_->text() : QString();
}

// ---- Following the model ------------------------------------------------------------------

void ReceivePaneView::schedule() {
    if (!timer_.isActive())
        timer_.start();
}

void ReceivePaneView::onGrown(int firstLine) {
    // Lines after firstLine are new or written anew: what was walked of them is void.
    for (auto it = marks_.begin(); it != marks_.end();)
        it = it->first > firstLine ? marks_.erase(it) : std::next(it);
    if (grownFrom_ < 0 || firstLine < grownFrom_)
        grownFrom_ = firstLine;
    schedule();
}

void ReceivePaneView::onCleared() {
    marks_.clear();
    maxWidth_ = 0;
    measuredLine_ = 0;
    measuredBytes_ = 0;
    measuredWidth_ = 0;
    grownFrom_ = -1;
    anchor_ = caret_ = Position{};
    reset_ = true;
    schedule();
}

void ReceivePaneView::flush() {
    timer_.stop();
    const bool follow = atBottom();
    const int lines = model_ ? model_->lineCount() : 0;
    bool repaint = reset_;
    reset_ = false;
    if (grownFrom_ >= 0) {
        repaint = repaint || grownFrom_ <= firstVisibleLine() + visibleLineCount() + 1;
        if (grownFrom_ < measuredLine_) {
            measuredLine_ = grownFrom_;
            measuredBytes_ = 0;
            measuredWidth_ = 0;
        }
        grownFrom_ = -1;
    }
    // Measure what is new: the rest of the last measured line, then every line after it.
    for (int line = measuredLine_; line < lines; ++line) {
        const qsizetype bytes = model_->lineBytes(line);
        const qsizetype from = line == measuredLine_ ? measuredBytes_ : 0;
        Width width = line == measuredLine_ ? measuredWidth_ : 0;
        if (bytes > from)
            width += stretchWidth(line, from, bytes);
        maxWidth_ = std::max(maxWidth_, width);
        if (line == lines - 1) {
            measuredLine_ = line;
            measuredBytes_ = bytes;
            measuredWidth_ = width;
        }
    }
    updateScrollBars();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
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

    const qint64 total = (maxWidth_ + 63) / 64 + 2 * kMargin;
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
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int ReceivePaneView::contentWidth() const {
    return static_cast<int>(std::min<qint64>(INT_MAX, (maxWidth_ + 63) / 64));
}

ReceivePaneView::Width ReceivePaneView::scrollX() const {
    return Width(horizontalScrollBar()->value()) * hScale_ * 64;
}

// ---- Widths -------------------------------------------------------------------------------

bool ReceivePaneView::blank(char16_t c) const {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029;
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
    auto advance = [&fm](QChar c) {
        return static_cast<Width>(std::llround(fm.horizontalAdvance(c) * 64));
    };
    const Width space = advance(QLatin1Char(' '));
    for (int c = 0; c < 256; ++c)
        latinWidths_[c] = blank(static_cast<char16_t>(c)) ? space : advance(QChar(c));
    latinWidths_['\t'] = 4 * space;
    otherWidths_.clear();
    otherWidths_[0xFFFD] = advance(QChar(0xFFFD));
    for (int r = 0; r < 4; ++r)
        for (int b = 0; b < 256; ++b) {
            Width w = 0;
            for (QChar c : PaneModel::unitText(PaneModel::kByteKinds[r], static_cast<uint8_t>(b)))
                w += charWidth(c.unicode());
            unitWidths_[r][b] = w;
        }
    // Every line is measured again with the new font.
    marks_.clear();
    maxWidth_ = 0;
    measuredLine_ = 0;
    measuredBytes_ = 0;
    measuredWidth_ = 0;
    reset_ = true;
    schedule();
}

ReceivePaneView::Width ReceivePaneView::charWidth(char16_t c) {
    if (c < 256)
        return latinWidths_[c];
    if (blank(c))
        return latinWidths_[' '];
    if (isSurrogate(c))
        c = 0xFFFD;
    auto it = otherWidths_.find(c);
    if (it != otherWidths_.end())
        return it->second;
    const Width w = static_cast<Width>(
        std::llround(QFontMetricsF(viewport()->font()).horizontalAdvance(QChar(c)) * 64));
    otherWidths_.emplace(c, w);
    return w;
}

ReceivePaneView::Width ReceivePaneView::unitWidth(Kind kind, char16_t value) {
    if (kind == Kind::Wide)
        return charWidth(value);
    return unitWidths_[PaneModel::byteKindIndex(kind)][value & 0xFF];
}

ReceivePaneView::Width ReceivePaneView::stretchWidth(int line, qsizetype from, qsizetype to) {
    Width w = 0;
    model_->forEachStretch(line, from, to, [&](Kind kind, const uint8_t* data, qsizetype n) {
        if (kind == Kind::Wide) {
            for (qsizetype i = 0; i + 1 < n; i += 2)
                w += charWidth(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
            return;
        }
        const auto& table = unitWidths_[PaneModel::byteKindIndex(kind)];
        Width sum = 0;
        for (qsizetype i = 0; i < n; ++i)
            sum += table[data[i]];
        w += sum;
    });
    return w;
}

const ReceivePaneView::LineMarks& ReceivePaneView::marksOf(int line, Width x, qsizetype column) {
    if (marks_.size() > 64 && !marks_.count(line))
        marks_.clear();
    LineMarks& lm = marks_[line];
    const qsizetype bytes = model_->lineBytes(line);
    // Walked far enough: to the end, or to a mark past what is asked for.
    auto beyond = [&](const Mark& m) { return m.x > x && m.column > column; };
    if (lm.end.offset >= bytes || (!lm.marks.empty() && beyond(lm.marks.back())))
        return lm;
    PaneModel::Reader r(*model_, line, lm.end.offset);
    Mark m = lm.end;
    qsizetype next = lm.marks.empty() ? 0 : lm.marks.back().offset + kMarkEvery;
    while (!r.atEnd()) {
        if (m.offset >= next) {
            lm.marks.push_back(m);
            next = m.offset + kMarkEvery;
            if (beyond(m))
                break;
        }
        m.x += unitWidth(r.kind(), r.value());
        m.column += r.text().size();
        r.next();
        m.offset = r.offset();
    }
    lm.end = m;
    return lm;
}

ReceivePaneView::Mark ReceivePaneView::startForX(int line, Width x) {
    Mark m;
    if (!model_)
        return m;
    if (model_->lineBytes(line) > kMarkEvery) {
        const auto& marks = marksOf(line, x, -1).marks;
        auto it = std::upper_bound(marks.begin(), marks.end(), x,
                                   [](Width v, const Mark& mk) { return v < mk.x; });
        if (it != marks.begin())
            m = *(it - 1);
    }
    PaneModel::Reader r(*model_, line, m.offset);
    while (!r.atEnd()) {
        const Width w = unitWidth(r.kind(), r.value());
        if (m.x + w > x)
            break;
        m.x += w;
        m.column += r.text().size();
        r.next();
        m.offset = r.offset();
    }
    return m;
}

ReceivePaneView::Mark ReceivePaneView::startForColumn(int line, qsizetype column) {
    Mark m;
    if (!model_)
        return m;
    if (model_->lineBytes(line) > kMarkEvery) {
        const auto& marks = marksOf(line, -1, column).marks;
        auto it = std::upper_bound(marks.begin(), marks.end(), column,
                                   [](qsizetype v, const Mark& mk) { return v < mk.column; });
        if (it != marks.begin())
            m = *(it - 1);
    }
    PaneModel::Reader r(*model_, line, m.offset);
    while (!r.atEnd()) {
        const qsizetype n = r.text().size();
        if (m.column + n > column)
            break;
        m.x += unitWidth(r.kind(), r.value());
        m.column += n;
        r.next();
        m.offset = r.offset();
    }
    return m;
}

ReceivePaneView::Width ReceivePaneView::xOfColumn(int line, qsizetype column) {
    Mark m = startForColumn(line, column);
    PaneModel::Reader r(*model_, line, m.offset);
    if (!r.atEnd()) {
        const QStringView t = r.text();
        for (qsizetype i = 0; i < t.size() && m.column < column; ++i, ++m.column)
            m.x += charWidth(t[i].unicode());
    }
    return m.x;
}

qsizetype ReceivePaneView::lineLength(int line) {
    if (!model_ || line < 0 || line >= model_->lineCount())
        return 0;
    const qsizetype bytes = model_->lineBytes(line);
    if (bytes > kMarkEvery)
        return marksOf(line, kWalkAll, kWalkAll).end.column;
    qsizetype n = 0;
    for (PaneModel::Reader r(*model_, line); !r.atEnd(); r.next())
        n += r.text().size();
    return n;
}

QString ReceivePaneView::lineText(int line, qsizetype from, qsizetype count) {
    if (!model_ || line < 0 || line >= model_->lineCount())
        return QString();
    from = std::max<qsizetype>(from, 0);
    if (from == 0 && count < 0)
        return model_->line(line);
    QString out;
    const Mark m = startForColumn(line, from);
    qsizetype column = m.column;
    for (PaneModel::Reader r(*model_, line, m.offset); !r.atEnd(); r.next()) {
        for (QChar c : r.text()) {
            if (count >= 0 && out.size() >= count)
                return out;
            if (column++ >= from)
                out += c;
        }
    }
    return out;
}

// ---- Painting -----------------------------------------------------------------------------

void ReceivePaneView::paintEvent(QPaintEvent*) {
    if (!model_)
        return;
    QPainter p(viewport());
    const QPalette& pal = palette();
    const int lines = model_->lineCount();
    const int first = firstVisibleLine();
    const int rows = viewport()->height() / lineHeight_ + 2;
    const Width left = scrollX() - Width(kMargin) * 64;  // line x at the viewport's left edge
    const Width right = left + Width(viewport()->width()) * 64;
    const Position s0 = selectionStart();
    const Position s1 = selectionEnd();
    const bool selection = hasSelection();
    auto px = [left](Width x) { return static_cast<qreal>(x - left) / 64.0; };

    std::vector<Glyph> glyphs;
    QString run;
    for (int i = 0; i < rows && first + i < lines; ++i) {
        const int line = first + i;
        const int y = i * lineHeight_;
        // The visible characters of the line, from the unit under the left edge on.
        const Mark start = startForX(line, std::max<Width>(left, 0));
        glyphs.clear();
        Width x = start.x;
        bool more = false;
        for (PaneModel::Reader r(*model_, line, start.offset); !r.atEnd(); r.next()) {
            if (x >= right) {
                more = true;
                break;
            }
            for (QChar qc : r.text()) {
                const char16_t c = qc.unicode();
                glyphs.push_back(Glyph{isSurrogate(c) ? char16_t(0xFFFD) : c, blank(c), x});
                x += charWidth(c);
            }
        }
        const Width end = x;
        // The selection's part of this line, as a column range.
        qsizetype selFrom = 0, selTo = 0;
        bool selectedBreak = false;
        if (selection && line >= s0.line && line <= s1.line) {
            selFrom = line == s0.line ? s0.column : 0;
            selTo = line == s1.line ? s1.column : LLONG_MAX;
            selectedBreak = line < s1.line;
        }
        auto selected = [&](size_t g) {
            const qsizetype col = start.column + qsizetype(g);
            return col >= selFrom && col < selTo;
        };
        if (selFrom < selTo) {
            const qsizetype shownFrom = start.column;
            const qsizetype shownTo = start.column + qsizetype(glyphs.size());
            const qsizetype a = std::max(selFrom, shownFrom);
            const qsizetype b = std::min(selTo, shownTo);
            auto xAt = [&](qsizetype col) {
                return col < shownTo ? glyphs[size_t(col - shownFrom)].x : end;
            };
            if (a <= b) {
                const Width x0 = xAt(a);
                Width x1 = xAt(b);
                if (selTo > shownTo)  // on past the right edge, or over the line break
                    x1 = more ? right : x1 + (selectedBreak ? latinWidths_[' '] : 0);
                if (x1 > x0)
                    p.fillRect(QRectF(px(x0), y, (x1 - x0) / 64.0, lineHeight_), pal.highlight());
            }
        }
        // The characters, in runs of one colour; blanks are gaps.
        size_t g = 0;
        while (g < glyphs.size()) {
            if (glyphs[g].blank) {
                ++g;
                continue;
            }
            const bool sel = selected(g);
            const Width x0 = glyphs[g].x;
            run.clear();
            while (g < glyphs.size() && !glyphs[g].blank && selected(g) == sel)
                run += QChar(glyphs[g++].c);
            p.setPen(sel ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
            p.drawText(QPointF(px(x0), y + ascent_), run);
        }
    }
    // The caret, while the pane has the focus.
    if (hasFocus() && caret_.line >= first && caret_.line < first + rows && caret_.line < lines) {
        const qreal cx = px(xOfColumn(caret_.line, caret_.column));
        const int cy = (caret_.line - first) * lineHeight_;
        p.setPen(pal.color(QPalette::Text));
        p.drawLine(QPointF(cx, cy), QPointF(cx, cy + lineHeight_ - 1));
    }
}

void ReceivePaneView::resizeEvent(QResizeEvent* event) {
    const bool follow = atBottom();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
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

// ---- Selection ----------------------------------------------------------------------------

qsizetype ReceivePaneView::clampColumn(int line, qsizetype column) {
    return std::clamp<qsizetype>(column, 0, lineLength(line));
}

ReceivePaneView::Position ReceivePaneView::clamp(Position p) {
    const int lines = model_ ? model_->lineCount() : 0;
    if (lines == 0)
        return Position{};
    p.line = std::clamp(p.line, 0, lines - 1);
    p.column = clampColumn(p.line, p.column);
    return p;
}

void ReceivePaneView::setSelection(Position anchor, Position caret) {
    anchor_ = clamp(anchor);
    caret_ = clamp(caret);
    viewport()->update();
}

void ReceivePaneView::selectAll() {
    const int lines = model_ ? model_->lineCount() : 0;
    if (lines == 0)
        return;
    setSelection(Position{}, Position{lines - 1, lineLength(lines - 1)});
}

void ReceivePaneView::clearSelection() {
    anchor_ = caret_;
    viewport()->update();
}

QString ReceivePaneView::selectedText() const {
    if (!hasSelection() || !model_)
        return QString();
    auto* self = const_cast<ReceivePaneView*>(this);  // walking a line caches its marks
    const Position s0 = selectionStart();
    const Position s1 = selectionEnd();
    QString out;
    for (int line = s0.line; line <= s1.line; ++line) {
        const qsizetype from = line == s0.line ? s0.column : 0;
        const qsizetype count = line == s1.line ? s1.column - from : -1;
        out += self->lineText(line, from, count);
        if (line < s1.line)
            out += u'\n';
    }
    return out;
}

void ReceivePaneView::copy() const {
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

ReceivePaneView::Position ReceivePaneView::positionAt(const QPoint& point) {
    const int lines = model_ ? model_->lineCount() : 0;
    if (lines == 0)
        return Position{};
    Position pos;
    pos.line = std::clamp(firstVisibleLine() + (point.y() < 0 ? -1 : point.y() / lineHeight_), 0,
                          lines - 1);
    const Width x = scrollX() - Width(kMargin) * 64 + Width(point.x()) * 64;
    Mark m = startForX(pos.line, std::max<Width>(x, 0));
    pos.column = m.column;
    PaneModel::Reader r(*model_, pos.line, m.offset);
    if (!r.atEnd()) {
        // Inside the unit: the nearer side of the character under x.
        for (QChar c : r.text()) {
            const Width w = charWidth(c.unicode());
            if (m.x + w / 2 > x)
                break;
            m.x += w;
            ++pos.column;
        }
    }
    return pos;
}

QPoint ReceivePaneView::pointOf(Position p) {
    p = clamp(p);
    const Width x = xOfColumn(p.line, p.column) - (scrollX() - Width(kMargin) * 64);
    return QPoint(static_cast<int>(std::floor(x / 64.0)),
                  (p.line - firstVisibleLine()) * lineHeight_ + lineHeight_ / 2);
}

void ReceivePaneView::moveCaret(Position to, bool extend) {
    caret_ = clamp(to);
    if (!extend)
        anchor_ = caret_;
    ensureVisible(caret_);
    viewport()->update();
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
    const qint64 x = (xOfColumn(p.line, p.column) + 63) / 64 + kMargin;
    QScrollBar* h = horizontalScrollBar();
    const qint64 left = qint64(h->value()) * hScale_;
    const qint64 width = viewport()->width();
    if (x < left + kMargin)
        h->setValue(static_cast<int>(std::max<qint64>(0, x - kMargin - width / 4) / hScale_));
    else if (x > left + width - kMargin)
        h->setValue(static_cast<int>((x - width + width / 4) / hScale_));
}

void ReceivePaneView::selectWordAt(Position p) {
    // Words are runs of non-blank characters; look at most a few hundred characters around.
    constexpr qsizetype kReach = 512;
    const qsizetype from = std::max<qsizetype>(0, p.column - kReach);
    const QString around = lineText(p.line, from, 2 * kReach);
    qsizetype at = p.column - from;
    if (at >= around.size() || around[at].isSpace()) {
        setSelection(p, p);
        return;
    }
    qsizetype a = at, b = at;
    while (a > 0 && !around[a - 1].isSpace())
        --a;
    while (b < around.size() && !around[b].isSpace())
        ++b;
    setSelection(Position{p.line, from + a}, Position{p.line, from + b});
}

// ---- Keys and mouse -----------------------------------------------------------------------

void ReceivePaneView::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (e->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    const int lines = model_ ? model_->lineCount() : 0;
    if (lines == 0) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    Position p = caret_;
    const int page = visibleLineCount();
    struct Move {
        QKeySequence::StandardKey move, select;
        int kind;
    };
    static const Move kMoves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, 0},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, 1},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, 2},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, 3},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, 4},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, 5},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, 6},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, 7},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, 8},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, 9},
    };
    for (const Move& m : kMoves) {
        const bool extend = e->matches(m.select);
        if (!extend && !e->matches(m.move))
            continue;
        switch (m.kind) {
            case 0:
                if (p.column < lineLength(p.line))
                    ++p.column;
                else if (p.line + 1 < lines)
                    p = Position{p.line + 1, 0};
                break;
            case 1:
                if (p.column > 0)
                    --p.column;
                else if (p.line > 0)
                    p = Position{p.line - 1, lineLength(p.line - 1)};
                break;
            case 2:
                p.line = std::min(p.line + 1, lines - 1);
                break;
            case 3:
                p.line = std::max(p.line - 1, 0);
                break;
            case 4:
                p.line = std::min(p.line + page, lines - 1);
                break;
            case 5:
                p.line = std::max(p.line - page, 0);
                break;
            case 6:
                p.column = 0;
                break;
            case 7:
                p.column = lineLength(p.line);
                break;
            case 8:
                p = Position{};
                break;
            case 9:
                p = Position{lines - 1, lineLength(lines - 1)};
                break;
        }
        moveCaret(p, extend);
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void ReceivePaneView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    const Position p = positionAt(e->position().toPoint());
    caret_ = p;
    if (!(e->modifiers() & Qt::ShiftModifier))
        anchor_ = p;
    selecting_ = true;
    lastMouse_ = e->position().toPoint();
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
    caret_ = positionAt(lastMouse_);
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
    selectWordAt(positionAt(e->position().toPoint()));
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
    caret_ = positionAt(QPoint(std::clamp(lastMouse_.x(), area.left(), area.right()),
                               std::clamp(lastMouse_.y(), area.top(), area.bottom())));
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
