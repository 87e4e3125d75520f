#include "core/receive/PaneLayout.h"

#include <algorithm>

namespace trelmo {
namespace {

bool isSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

void PaneLayout::setModel(const PaneModel* model) {
    model_ = model;
    reset();
}

void PaneLayout::setAdvance(Advance advance) {
    advance_ = std::move(advance);
    auto measure = [this](char16_t c) { return advance_ ? advance_(c) : Width(0); };
    const Width space = measure(u' ');
    // A control character without a name takes its picture's width (a tab too).
    for (int c = 0; c < 256; ++c) {
        const auto ch = static_cast<char16_t>(c);
        latinWidths_[c] = hasControlPicture(ch) ? measure(controlPicture(ch))
                          : showsBlank(ch)      ? space
                                                : measure(ch);
    }
    otherWidths_.clear();
    for (int r = 0; r < 4; ++r)
        for (int b = 0; b < 256; ++b) {
            Width w = 0;
            for (QChar c : PaneModel::unitText(PaneModel::kByteKinds[r], static_cast<uint8_t>(b)))
                w += charWidth(c.unicode());
            unitWidths_[r][b] = w;
        }
    reset();
}

void PaneLayout::setPrefix(Prefix prefix) {
    prefix_ = std::move(prefix);
    reset();
}

// ---- Following the model ------------------------------------------------------------------

void PaneLayout::linesChanged(int firstLine) {
    // Lines only grow at the end: the walks stay right as they are (a walk goes on from where
    // it stopped). Measuring goes on from the line measured last, which the model's growth
    // never passes; a line before it would be measured again from its start.
    if (firstLine < measuredLine_) {
        measuredLine_ = firstLine;
        measuredBytes_ = 0;
        measuredWidth_ = 0;
    }
}

void PaneLayout::reset() {
    walks_.clear();
    widest_ = 0;
    measuredLine_ = 0;
    measuredBytes_ = 0;
    measuredWidth_ = 0;
}

void PaneLayout::measureNew() {
    const int lines = model_ ? model_->lineCount() : 0;
    for (int line = measuredLine_; line < lines; ++line) {
        const qsizetype bytes = model_->lineBytes(line);
        const qsizetype from = line == measuredLine_ ? measuredBytes_ : 0;
        Width width = line == measuredLine_ ? measuredWidth_ : 0;
        if (bytes > from)
            width += stretchWidth(line, from, bytes);
        widest_ = std::max(widest_, prefixWidth(line) + width);
        if (line == lines - 1) {
            measuredLine_ = line;
            measuredBytes_ = bytes;
            measuredWidth_ = width;
        }
    }
}

// ---- Widths -------------------------------------------------------------------------------

bool PaneLayout::showsBlank(char16_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

PaneLayout::Look PaneLayout::lookOf(char16_t c) {
    if (hasControlPicture(c))
        return Look::Picture;
    return showsBlank(c) ? Look::Blank : Look::Shown;
}

PaneLayout::Width PaneLayout::charWidth(char16_t c) const {
    if (c < 256)
        return latinWidths_[c];
    if (showsBlank(c))
        return latinWidths_[' '];
    if (isSurrogate(c))
        c = 0xFFFD;
    auto it = otherWidths_.find(c);
    if (it != otherWidths_.end())
        return it->second;
    const Width w = advance_ ? advance_(c) : 0;
    otherWidths_.emplace(c, w);
    return w;
}

PaneLayout::Width PaneLayout::unitWidth(Kind kind, char16_t value) const {
    if (kind == Kind::Wide)
        return charWidth(value);
    return unitWidths_[PaneModel::byteKindIndex(kind)][value & 0xFF];
}

PaneLayout::Width PaneLayout::unitWidth(const PaneModel::Reader& r) const {
    if (!r.decoded())
        return unitWidth(r.kind(), r.value());
    Width w = 0;
    for (QChar c : r.text())
        w += charWidth(c.unicode());
    return w;
}

PaneLayout::Width PaneLayout::stretchWidth(int line, qsizetype from, qsizetype to) const {
    Width w = 0;
    const bool utf8 = model_->utf8();
    qsizetype at = from;
    model_->forEachStretch(line, from, to, [&](Kind kind, const uint8_t* data, qsizetype n) {
        if (kind == Kind::Wide) {
            for (qsizetype i = 0; i + 1 < n; i += 2)
                w += unitWidth(kind, static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
            at += n;
            return;
        }
        const auto& table = unitWidths_[PaneModel::byteKindIndex(kind)];
        Width sum = 0;
        if (utf8 && kind == Kind::Text) {
            // A byte of 0x80 or more shows what the bytes around it make of it.
            char16_t buffer[2];
            for (qsizetype i = 0; i < n; ++i) {
                if (data[i] < 0x80) {
                    sum += table[data[i]];
                    continue;
                }
                for (QChar c : model_->textUnitAt(line, at + i, buffer))
                    sum += charWidth(c.unicode());
            }
        } else {
            for (qsizetype i = 0; i < n; ++i)
                sum += table[data[i]];
        }
        w += sum;
        at += n;
    });
    return w;
}

PaneLayout::Width PaneLayout::lineWidth(int line) const {
    if (!model_ || line < 0 || line >= model_->lineCount())
        return 0;
    const qsizetype bytes = model_->lineBytes(line);
    const Width text =
        bytes > kMarkEvery ? walk(line, kWalkAll, kWalkAll).end.x : stretchWidth(line, 0, bytes);
    return prefixWidth(line) + text;
}

// ---- Walking long lines -------------------------------------------------------------------

const PaneLayout::Walk& PaneLayout::walk(int line, Width x, qsizetype column,
                                         qsizetype offset) const {
    if (walks_.size() > 64 && !walks_.count(line))
        walks_.clear();
    Walk& w = walks_[line];
    const qsizetype bytes = model_->lineBytes(line);
    // Walked far enough: to the end, or to a mark past what is asked for.
    auto beyond = [&](const Mark& m) { return m.x > x && m.column > column && m.offset > offset; };
    if (w.end.offset >= bytes || (!w.marks.empty() && beyond(w.marks.back())))
        return w;
    PaneModel::Reader r(*model_, line, w.end.offset);
    Mark m = w.end;
    qsizetype next = w.marks.empty() ? 0 : w.marks.back().offset + kMarkEvery;
    while (!r.atEnd()) {
        if (m.offset >= next) {
            w.marks.push_back(m);
            next = m.offset + kMarkEvery;
            if (beyond(m))
                break;
        }
        m.x += unitWidth(r);
        m.column += r.text().size();
        r.next();
        m.offset = r.offset();
    }
    w.end = m;
    return w;
}

const PaneLayout::Walk* PaneLayout::walked(int line) const {
    auto it = walks_.find(line);
    return it == walks_.end() ? nullptr : &it->second;
}

PaneLayout::Mark PaneLayout::markBefore(int line, qsizetype offset) const {
    Mark m;
    if (!model_ || line < 0 || line >= model_->lineCount() || model_->lineBytes(line) <= kMarkEvery)
        return m;
    const auto& marks = walk(line, -1, -1, offset).marks;
    auto it = std::upper_bound(marks.begin(), marks.end(), offset,
                               [](qsizetype v, const Mark& mk) { return v < mk.offset; });
    if (it != marks.begin())
        m = *(it - 1);
    return m;
}

PaneLayout::Mark PaneLayout::startForX(int line, Width x) const {
    Mark m;
    if (!model_)
        return m;
    if (model_->lineBytes(line) > kMarkEvery) {
        const auto& marks = walk(line, x, -1).marks;
        auto it = std::upper_bound(marks.begin(), marks.end(), x,
                                   [](Width v, const Mark& mk) { return v < mk.x; });
        if (it != marks.begin())
            m = *(it - 1);
    }
    PaneModel::Reader r(*model_, line, m.offset);
    while (!r.atEnd()) {
        const Width w = unitWidth(r);
        if (m.x + w > x)
            break;
        m.x += w;
        m.column += r.text().size();
        r.next();
        m.offset = r.offset();
    }
    return m;
}

PaneLayout::Mark PaneLayout::startForColumn(int line, qsizetype column) const {
    Mark m;
    if (!model_)
        return m;
    if (model_->lineBytes(line) > kMarkEvery) {
        const auto& marks = walk(line, -1, column).marks;
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
        m.x += unitWidth(r);
        m.column += n;
        r.next();
        m.offset = r.offset();
    }
    return m;
}

// ---- Columns and x ------------------------------------------------------------------------

qsizetype PaneLayout::lineLength(int line) const {
    if (!model_ || line < 0 || line >= model_->lineCount())
        return 0;
    if (model_->lineBytes(line) > kMarkEvery)
        return walk(line, kWalkAll, kWalkAll).end.column;
    qsizetype n = 0;
    for (PaneModel::Reader r(*model_, line); !r.atEnd(); r.next())
        n += r.text().size();
    return n;
}

QString PaneLayout::lineText(int line, qsizetype from, qsizetype count) const {
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

PaneLayout::Width PaneLayout::textXOfColumn(int line, qsizetype column) const {
    if (!model_)
        return 0;
    Mark m = startForColumn(line, column);
    PaneModel::Reader r(*model_, line, m.offset);
    if (!r.atEnd()) {
        // Inside a unit of several characters: on to the column's character.
        const QStringView t = r.text();
        for (qsizetype i = 0; i < t.size() && m.column < column; ++i, ++m.column)
            m.x += charWidth(t[i].unicode());
    }
    return m.x;
}

PaneLayout::Width PaneLayout::xOfColumn(int line, qsizetype column) const {
    return prefixWidth(line) + textXOfColumn(line, column);
}

qsizetype PaneLayout::columnAt(int line, Width x) const {
    if (!model_)
        return 0;
    x -= prefixWidth(line);
    Mark m = startForX(line, std::max<Width>(x, 0));
    qsizetype column = m.column;
    PaneModel::Reader r(*model_, line, m.offset);
    if (!r.atEnd()) {
        // Inside the unit: the nearer side of the character under x.
        for (QChar c : r.text()) {
            const Width w = charWidth(c.unicode());
            if (m.x + w / 2 > x)
                break;
            m.x += w;
            ++column;
        }
    }
    return column;
}

void PaneLayout::visible(int line, Width left, Width right, Visible& out) const {
    out.glyphs.clear();
    out.more = false;
    const Width prefix = prefixWidth(line);
    const Mark start = startForX(line, std::max<Width>(left - prefix, 0));
    out.column = start.column;
    Width x = start.x;
    const Width stop = right - prefix;
    if (model_) {
        for (PaneModel::Reader r(*model_, line, start.offset); !r.atEnd(); r.next()) {
            if (x >= stop) {
                out.more = true;
                break;
            }
            for (QChar qc : r.text()) {
                const char16_t c = qc.unicode();
                out.glyphs.push_back(
                    Glyph{isSurrogate(c) ? char16_t(0xFFFD) : c, lookOf(c), prefix + x});
                x += charWidth(c);
            }
        }
    }
    out.end = prefix + x;
}

}  // namespace trelmo
