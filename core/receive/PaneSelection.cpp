#include "core/receive/PaneSelection.h"

#include <algorithm>
#include <limits>

namespace trelmo {

int PaneSelection::lineCount() const {
    const PaneModel* model = layout_.model();
    return model ? model->lineCount() : 0;
}

PaneSelection::LineSpan PaneSelection::spanOn(int line) const {
    const Position s0 = start();
    const Position s1 = end();
    if (!hasSelection() || line < s0.line || line > s1.line)
        return LineSpan{};
    return LineSpan{line == s0.line ? s0.column : 0,
                    line == s1.line ? s1.column : std::numeric_limits<qsizetype>::max(),
                    line < s1.line};
}

PaneSelection::Position PaneSelection::clamp(Position p) const {
    const int lines = lineCount();
    if (lines == 0)
        return Position{};
    p.line = std::clamp(p.line, 0, lines - 1);
    p.column = std::clamp<qsizetype>(p.column, 0, layout_.lineLength(p.line));
    return p;
}

void PaneSelection::select(Position anchor, Position caret) {
    anchor_ = clamp(anchor);
    caret_ = clamp(caret);
}

void PaneSelection::selectAll() {
    const int lines = lineCount();
    if (lines == 0)
        return;
    select(Position{}, Position{lines - 1, layout_.lineLength(lines - 1)});
}

void PaneSelection::setCaret(Position p, bool extend) {
    caret_ = p;
    if (!extend)
        anchor_ = p;
}

void PaneSelection::move(Move move, int page, bool extend) {
    const int lines = lineCount();
    Position p = caret_;
    switch (move) {
        case Move::NextChar:
            if (p.column < layout_.lineLength(p.line))
                ++p.column;
            else if (p.line + 1 < lines)
                p = Position{p.line + 1, 0};
            break;
        case Move::PreviousChar:
            if (p.column > 0)
                --p.column;
            else if (p.line > 0)
                p = Position{p.line - 1, layout_.lineLength(p.line - 1)};
            break;
        case Move::NextLine:
            p.line = std::min(p.line + 1, lines - 1);
            break;
        case Move::PreviousLine:
            p.line = std::max(p.line - 1, 0);
            break;
        case Move::NextPage:
            p.line = std::min(p.line + page, lines - 1);
            break;
        case Move::PreviousPage:
            p.line = std::max(p.line - page, 0);
            break;
        case Move::StartOfLine:
            p.column = 0;
            break;
        case Move::EndOfLine:
            p.column = layout_.lineLength(p.line);
            break;
        case Move::StartOfText:
            p = Position{};
            break;
        case Move::EndOfText:
            p = Position{lines - 1, layout_.lineLength(lines - 1)};
            break;
    }
    setCaret(clamp(p), extend);
}

void PaneSelection::selectWordAt(Position p) {
    constexpr qsizetype kReach = 512;
    const qsizetype from = std::max<qsizetype>(0, p.column - kReach);
    const QString around = layout_.lineText(p.line, from, 2 * kReach);
    const qsizetype at = p.column - from;
    if (at >= around.size() || around[at].isSpace()) {
        select(p, p);
        return;
    }
    qsizetype a = at, b = at;
    while (a > 0 && !around[a - 1].isSpace())
        --a;
    while (b < around.size() && !around[b].isSpace())
        ++b;
    select(Position{p.line, from + a}, Position{p.line, from + b});
}

QString PaneSelection::text(const std::function<QString(int line)>& lead) const {
    if (!hasSelection() || !layout_.model())
        return QString();
    const Position s0 = start();
    const Position s1 = end();
    QString out;
    for (int line = s0.line; line <= s1.line; ++line) {
        const qsizetype from = line == s0.line ? s0.column : 0;
        const qsizetype count = line == s1.line ? s1.column - from : -1;
        if (lead && from == 0 && count != 0)
            out += lead(line);
        out += layout_.lineText(line, from, count);
        if (line < s1.line)
            out += u'\n';
    }
    return out;
}

}  // namespace trelmo
