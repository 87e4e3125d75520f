#include "core/receive/PaneSearch.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

#include "core/commands/CommandString.h"
#include "core/receive/TimeStamps.h"

namespace trelmo {
namespace {

using Kind = PaneModel::Kind;

constexpr qsizetype kPastAny = std::numeric_limits<qsizetype>::max();
// Counting leaves a checkpoint every so many bytes or lines, and looks at the clock after
// every stretch of at most kSliceBytes or every kClockLines line ends.
constexpr qsizetype kCheckpointBytes = 256 * 1024;
constexpr int kCheckpointLines = 4096;
constexpr qsizetype kSliceBytes = 256 * 1024;
constexpr int kClockLines = 256;

bool isMessage(Kind k) {
    return k == Kind::Literal || k == Kind::Wide;
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Pairs of hex digits, in tokens parted by blanks, commas or semicolons; a token may start
// with "0x".
std::optional<QByteArray> hexBytes(QStringView typed) {
    QByteArray out;
    qsizetype i = 0;
    auto separator = [](QChar c) { return c.isSpace() || c == u',' || c == u';'; };
    while (i < typed.size()) {
        if (separator(typed[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < typed.size() && !separator(typed[end]))
            ++end;
        QStringView token = typed.sliced(i, end - i);
        if (token.size() > 2 && token[0] == u'0' && (token[1] == u'x' || token[1] == u'X'))
            token = token.sliced(2);
        if (token.size() % 2 != 0)
            return std::nullopt;
        for (qsizetype k = 0; k < token.size(); k += 2) {
            const int hi = hexDigit(token[k]);
            const int lo = hexDigit(token[k + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.append(static_cast<char>(hi * 16 + lo));
        }
        i = end;
    }
    return out;
}

}  // namespace

std::optional<QByteArray> findBytesOf(const FindQuery& query, FindError* error) {
    auto fail = [error](FindError e) -> std::optional<QByteArray> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    if (error)
        *error = FindError::None;
    std::optional<QByteArray> bytes;
    switch (query.input) {
        case FindQuery::Input::Text:
            return std::nullopt;
        case FindQuery::Input::Hex:
            bytes = hexBytes(query.typed);
            if (!bytes)
                return fail(FindError::NotHex);
            break;
        case FindQuery::Input::Escapes:
            bytes = parseCommandString(query.typed);
            if (!bytes)
                return fail(FindError::NotEscapes);
            break;
    }
    if (bytes->isEmpty())
        return fail(FindError::Empty);
    if (bytes->size() > PaneFinder::kMaxPattern)
        return fail(FindError::TooLong);
    return bytes;
}

PaneFinder::PaneFinder(const PaneModel& model, QObject* parent) : QObject(parent), model_(model) {
    layout_.setModel(&model);
    connect(&model, &PaneModel::grown, this, &PaneFinder::onGrown);
    connect(&model, &PaneModel::cleared, this, &PaneFinder::onCleared);
    // Shown anew (UTF-8 switched): the matches and the count are those of another text.
    connect(&model, &PaneModel::reshown, this, &PaneFinder::onCleared);
}

PaneFinder::~PaneFinder() = default;

// ---- The pattern --------------------------------------------------------------------------

void PaneFinder::clearQuery() {
    m_ = 0;
    delta_.clear();
    otherClass_.clear();
    latinClass_.fill(0);
    classes_ = 1;
    for (auto& t : unitTables_)
        t = UnitTable{};
    resetCount();
}

FindError PaneFinder::setQuery(const FindQuery& query) {
    clearQuery();
    if (query.typed.isEmpty())
        return FindError::Empty;
    if (query.input == FindQuery::Input::Text) {
        if (query.typed.size() > kMaxPattern)
            return FindError::TooLong;
        text_ = true;
        caseSensitive_ = query.caseSensitive;
        std::vector<uint16_t> pattern;
        for (QChar qc : query.typed) {
            const char16_t c = fold(qc.unicode());
            uint16_t cls = 0;
            if (c < 256) {
                if (!latinClass_[c])
                    latinClass_[c] = static_cast<uint16_t>(classes_++);
                cls = latinClass_[c];
            } else {
                auto it = otherClass_.find(c);
                if (it == otherClass_.end())
                    it = otherClass_.emplace(c, static_cast<uint16_t>(classes_++)).first;
                cls = it->second;
            }
            pattern.push_back(cls);
        }
        const int m = static_cast<int>(pattern.size());
        const int n = classes_;
        delta_.assign(size_t(m + 1) * n, 0);
        // The Knuth-Morris-Pratt automaton: x is the state the text so far would be in
        // without its first character.
        delta_[pattern[0]] = 1;
        uint32_t x = 0;
        for (int j = 1; j <= m; ++j) {
            for (int c = 0; c < n; ++c)
                delta_[size_t(j) * n + c] = delta_[size_t(x) * n + c];
            if (j < m) {
                delta_[size_t(j) * n + pattern[j]] = j + 1;
                x = delta_[size_t(x) * n + pattern[j]];
            }
        }
        m_ = m;
        return FindError::None;
    }
    FindError error = FindError::None;
    const std::optional<QByteArray> bytes = findBytesOf(query, &error);
    if (!bytes)
        return error;
    text_ = false;
    const int m = static_cast<int>(bytes->size());
    auto at = [&](int j) { return static_cast<uint8_t>((*bytes)[j]); };
    delta_.assign(size_t(m + 1) * 256, 0);
    delta_[at(0)] = 1;
    uint32_t x = 0;
    for (int j = 1; j <= m; ++j) {
        for (int c = 0; c < 256; ++c)
            delta_[size_t(j) * 256 + c] = delta_[size_t(x) * 256 + c];
        if (j < m) {
            delta_[size_t(j) * 256 + at(j)] = j + 1;
            x = delta_[size_t(x) * 256 + at(j)];
        }
    }
    m_ = m;
    return FindError::None;
}

char16_t PaneFinder::fold(char16_t c) const {
    return caseSensitive_ ? c : QChar(c).toCaseFolded().unicode();
}

uint32_t PaneFinder::charStep(uint32_t state, char16_t c) const {
    c = fold(c);
    uint16_t cls = 0;
    if (c < 256) {
        cls = latinClass_[c];
    } else {
        const auto it = otherClass_.find(c);
        cls = it == otherClass_.end() ? 0 : it->second;
    }
    return delta_[size_t(state) * classes_ + cls];
}

const PaneFinder::UnitTable& PaneFinder::unitTable(Kind kind) const {
    const int r = text_ ? PaneModel::byteKindIndex(kind) : 0;
    UnitTable& t = unitTables_[r];
    if (t.next.empty()) {
        t.next.resize(size_t(m_ + 1) * 256);
        for (int s = 0; s <= m_; ++s)
            for (int b = 0; b < 256; ++b) {
                uint32_t state = static_cast<uint32_t>(s);
                uint32_t hits = 0;
                if (text_) {
                    for (QChar c : PaneModel::unitText(kind, static_cast<uint8_t>(b))) {
                        state = charStep(state, c.unicode());
                        hits += state == uint32_t(m_);
                    }
                } else {
                    state = byteStep(state, static_cast<uint8_t>(b));
                    hits = state == uint32_t(m_);
                }
                t.next[size_t(s) * 256 + b] = state | (hits << kHitShift);
            }
        int starting = 0;
        for (int b = 0; b < 256; ++b) {
            t.starts[b] = t.next[b] != 0;
            if (t.starts[b]) {
                t.single = b;
                ++starting;
            }
        }
        if (starting == 0)
            t.single = kNone;
        else if (starting > 1)
            t.single = kSeveral;
    }
    return t;
}

// ---- Scanning -----------------------------------------------------------------------------

template <typename OnHit>
qsizetype PaneFinder::scanLine(int line, qsizetype from, qsizetype to, uint32_t& state,
                               qsizetype budget, OnHit&& onHit, bool& stopped) const {
    qsizetype at = from;
    qsizetype scanned = 0;
    bool halt = false;
    // An echo of sent bytes holds no received byte.
    const bool noBytes = !text_ && model_.isSentLine(line);
    const bool utf8 = text_ && model_.utf8();
    model_.forEachStretch(line, from, to, [&](Kind kind, const uint8_t* data, qsizetype n) {
        if (halt)
            return;
        if (noBytes) {
            at += n;
            return;
        }
        if (utf8 && kind == Kind::Text) {
            // Read as UTF-8: a byte of 0x80 or more shows what the bytes around it make of it,
            // so those go one by one through the characters' automaton.
            const UnitTable& unit = unitTable(kind);
            const uint32_t* table = unit.next.data();
            uint32_t s = state;
            char16_t buffer[2];
            for (qsizetype i = 0; i < n; ++i) {
                int hits = 0;
                if (data[i] < 0x80) {
                    if (s == 0 && !unit.starts[data[i]])
                        continue;
                    const uint32_t e = table[(size_t(s) << 8) | data[i]];
                    s = e & kStateMask;
                    hits = static_cast<int>(e >> kHitShift);
                } else {
                    for (QChar c : model_.textUnitAt(line, at + i, buffer)) {
                        s = charStep(s, c.unicode());
                        hits += s == uint32_t(m_);
                    }
                }
                if (hits != 0 && !onHit(at + i, hits)) {
                    state = s;
                    at += i + 1;
                    halt = stopped = true;
                    return;
                }
            }
            state = s;
            at += n;
            scanned += n;
            if (scanned >= budget)
                halt = true;
            return;
        }
        if (isMessage(kind)) {
            if (text_ && kind == Kind::Wide) {
                uint32_t s = state;
                for (qsizetype i = 0; i + 1 < n; i += 2) {
                    s = charStep(s, static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
                    if (s == uint32_t(m_) && !onHit(at + i, 1)) {
                        state = s;
                        at += i + 2;
                        halt = stopped = true;
                        return;
                    }
                }
                state = s;
                at += n;
                return;
            }
            if (!text_) {  // messages are no part of the received bytes
                at += n;
                return;
            }
        }
        const UnitTable& unit = unitTable(kind);
        const uint32_t* table = unit.next.data();
        uint32_t s = state;
        for (qsizetype i = 0; i < n; ++i) {
            if (s == 0) {
                // Bytes that leave state 0 as it is go by unread by the automaton.
                if (unit.single >= 0) {
                    const void* p = std::memchr(data + i, unit.single, size_t(n - i));
                    if (!p)
                        break;
                    i = static_cast<const uint8_t*>(p) - data;
                } else if (unit.single == kNone) {
                    break;
                } else {
                    while (i < n && !unit.starts[data[i]])
                        ++i;
                    if (i == n)
                        break;
                }
            }
            const uint32_t e = table[(size_t(s) << 8) | data[i]];
            s = e & kStateMask;
            if ((e >> kHitShift) != 0 && !onHit(at + i, static_cast<int>(e >> kHitShift))) {
                state = s;
                at += i + 1;
                halt = stopped = true;
                return;
            }
        }
        state = s;
        at += n;
        scanned += n;
        if (scanned >= budget)
            halt = true;
    });
    return at;
}

template <typename OnHit>
void PaneFinder::scanLineEnd(int line, uint32_t& state, OnHit&& onHit, bool& stopped) const {
    if (text_) {
        state = 0;
        return;
    }
    if (!model_.endsWithLineFeed(line))
        return;
    state = byteStep(state, 10);
    if (state == uint32_t(m_) && !onHit(model_.lineBytes(line), 1))
        stopped = true;
}

template <typename OnHit>
PaneFinder::Point PaneFinder::scan(Point p, int lastLine, OnHit&& onHit) const {
    bool stopped = false;
    while (!stopped) {
        const int lines = model_.lineCount();
        if (p.line >= lines)
            break;
        const int line = p.line;
        auto hit = [&](qsizetype offset, int hits) { return onHit(line, offset, hits); };
        const qsizetype bytes = model_.lineBytes(line);
        if (p.offset < bytes)
            p.offset = scanLine(line, p.offset, bytes, p.state, kPastAny, hit, stopped);
        // The last line's end is not known yet.
        if (stopped || line + 1 >= lines || line >= lastLine)
            break;
        scanLineEnd(line, p.state, hit, stopped);
        ++p.line;
        p.offset = 0;
    }
    return p;
}

template <typename F>
void PaneFinder::walk(int line, Mark from, int stopLine, qsizetype stopOffset, F&& f) const {
    if (m_ == 0)
        return;
    uint32_t s = 0;
    if (text_) {
        qsizetype column = from.column;
        for (PaneModel::Reader r(model_, line, from.offset); !r.atEnd() && r.offset() <= stopOffset;
             r.next()) {
            const QStringView t = r.text();
            for (qsizetype j = 0; j < t.size(); ++j) {
                s = charStep(s, t[j].unicode());
                if (s == uint32_t(m_)) {
                    const qsizetype end = column + j + 1;
                    const Found found{PaneMatch{{line, end - m_}, {line, end}}, line, r.offset(),
                                      static_cast<int>(j)};
                    if (!f(found))
                        return;
                }
            }
            column += t.size();
        }
        return;
    }
    // Bytes: the places of the last m bytes, for the start of a match ending at the newest.
    std::vector<PanePosition> ring(static_cast<size_t>(m_));
    qsizetype taken = 0;
    auto take = [&](PanePosition at, uint8_t b) {
        ring[size_t(taken % m_)] = at;
        ++taken;
        s = byteStep(s, b);
        return s == uint32_t(m_);
    };
    auto startOfMatch = [&] { return ring[size_t((taken - m_) % m_)]; };
    const int lines = model_.lineCount();
    for (int l = line; l <= stopLine && l < lines; ++l) {
        const qsizetype last = l == stopLine ? stopOffset : kPastAny;
        qsizetype column = l == line ? from.column : 0;
        const bool sentLine = model_.isSentLine(l);
        PaneModel::Reader r(model_, l, l == line ? from.offset : 0);
        for (; !r.atEnd() && r.offset() <= last; r.next()) {
            const qsizetype width = r.text().size();
            if (sentLine || isMessage(r.kind())) {
                column += width;
                continue;
            }
            const bool hit = take(PanePosition{l, column}, static_cast<uint8_t>(r.value()));
            column += width;
            if (hit && !f(Found{PaneMatch{startOfMatch(), {l, column}}, l, r.offset(), 0}))
                return;
        }
        const qsizetype bytes = model_.lineBytes(l);
        if (!r.atEnd() || last < bytes || l + 1 >= lines)
            return;
        if (model_.endsWithLineFeed(l) && take(PanePosition{l, column}, 10) &&
            !f(Found{PaneMatch{startOfMatch(), {l + 1, 0}}, l, bytes, 0}))
            return;
    }
}

std::vector<PaneFinder::Found> PaneFinder::locate(int line, qsizetype offset) const {
    std::vector<Found> out;
    auto collect = [&](const Found& f) {
        if (f.endLine == line && f.endOffset == offset)
            out.push_back(f);
        return true;
    };
    if (text_) {
        // A match's characters lie in at most m units of its line, each of one or two bytes.
        walk(line, layout_.markBefore(line, std::max<qsizetype>(0, offset - 2 * m_)), line, offset,
             collect);
        return out;
    }
    // Bytes: a walk from a start finds the match ending here if it starts after that start;
    // the starts go back until one does (m bytes back in the same line, almost always).
    const qsizetype reach = offset - 2 * qsizetype(m_) - 16;
    if (reach > 0) {
        walk(line, layout_.markBefore(line, reach), line, offset, collect);
        if (!out.empty())
            return out;
    }
    for (int back = 0, l = line;;) {
        walk(l, Mark{}, line, offset, collect);
        if (!out.empty() || l == 0)
            return out;
        back = back * 2 + 1;
        l = std::max(0, line - back);
    }
}

std::optional<PaneMatch> PaneFinder::firstFrom(PanePosition from, bool strict, int lastLine) const {
    if (m_ == 0 || from.line >= model_.lineCount())
        return std::nullopt;
    if (from.line < 0)
        from = PanePosition{};
    const Mark mark = layout_.markAtColumn(from.line, std::max<qsizetype>(from.column, 0));
    std::optional<PaneMatch> result;
    scan(Point{from.line, mark.offset, 0}, lastLine, [&](int line, qsizetype offset, int) {
        for (const Found& f : locate(line, offset)) {
            if (strict ? f.match.start > from : f.match.start >= from) {
                result = f.match;
                return false;
            }
        }
        return true;
    });
    return result;
}

std::optional<PaneMatch> PaneFinder::findNext(PanePosition from, bool strict, bool wrap,
                                              bool* wrapped) const {
    if (wrapped)
        *wrapped = false;
    std::optional<PaneMatch> found = firstFrom(from, strict, INT_MAX);
    if (found || !wrap || (from <= PanePosition{} && !strict))
        return found;
    // From the top, up to where the first look started.
    const int last = text_ ? from.line : from.line + m_ + 1;
    found = firstFrom(PanePosition{}, false, last);
    if (found && (found->start < from || (strict && found->start == from))) {
        if (wrapped)
            *wrapped = true;
        return found;
    }
    return std::nullopt;
}

std::optional<PaneMatch> PaneFinder::findPrevious(PanePosition before, bool wrap,
                                                  bool* wrapped) const {
    if (wrapped)
        *wrapped = false;
    const int lines = model_.lineCount();
    if (m_ == 0 || lines == 0)
        return std::nullopt;
    // The last match starting before p: looked for in windows before p that grow, first in
    // p's line, then over lines; the first window that holds one has the last.
    // A window holds the matches from its start to the start of the window before it (which
    // held none), so every part is scanned about once.
    auto lastBefore = [&](PanePosition p) -> std::optional<PaneMatch> {
        const int pl = std::min(p.line, lines - 1);
        const qsizetype u =
            p.line >= lines ? model_.lineBytes(pl) : layout_.markAtColumn(pl, p.column).offset;
        PanePosition bound = p;
        auto lastIn = [&](PanePosition start) {
            const int limit =
                text_ ? std::min(bound.line, lines - 1) : std::min(lines - 1, bound.line + m_ + 1);
            std::optional<PaneMatch> last;
            std::optional<PaneMatch> f = firstFrom(start, false, limit);
            while (f && f->start < bound) {
                last = f;
                f = firstFrom(f->start, true, limit);
            }
            bound = start;
            return last;
        };
        for (qsizetype w = 64;; w *= 16) {
            const qsizetype off = u - 2 * qsizetype(m_) - w;
            if (off <= 0)
                break;
            if (auto last = lastIn(PanePosition{pl, layout_.markBefore(pl, off).column}))
                return last;
        }
        for (int back = 0, l = pl;;) {
            if (auto last = lastIn(PanePosition{l, 0}))
                return last;
            if (l == 0)
                return std::nullopt;
            back = back * 2 + 1;
            l = std::max(0, pl - back);
        }
    };
    std::optional<PaneMatch> found = lastBefore(before);
    if (found || !wrap)
        return found;
    found = lastBefore(PanePosition{lines, 0});
    if (found && wrapped)
        *wrapped = true;
    return found;
}

// ---- Counting -----------------------------------------------------------------------------

void PaneFinder::resetCount() {
    count_ = Count{};
}

bool PaneFinder::counted() const {
    const int lines = model_.lineCount();
    if (m_ == 0 || lines == 0)
        return true;
    return count_.at.line >= lines - 1 && count_.at.offset >= model_.lineBytes(lines - 1);
}

bool PaneFinder::countSome(int64_t budgetNs) {
    if (m_ == 0)
        return true;
    const int64_t start = steadyNowNs();
    Count& c = count_;
    bool stopped = false;
    auto add = [&c](qsizetype, int hits) {
        c.total += hits;
        return true;
    };
    int lineEnds = 0;
    auto checkpoint = [&c] {
        if (c.checkpoints.empty() || c.sinceCheckpoint >= kCheckpointBytes ||
            c.linesSinceCheckpoint >= kCheckpointLines) {
            c.checkpoints.push_back(Checkpoint{c.at, c.total});
            c.sinceCheckpoint = 0;
            c.linesSinceCheckpoint = 0;
        }
    };
    for (;;) {
        const int lines = model_.lineCount();
        if (c.at.line >= lines)
            return true;
        const qsizetype bytes = model_.lineBytes(c.at.line);
        if (c.at.offset < bytes) {
            checkpoint();
            const qsizetype from = c.at.offset;
            c.at.offset = scanLine(c.at.line, from, bytes, c.at.state, kSliceBytes, add, stopped);
            c.sinceCheckpoint += c.at.offset - from;
        } else {
            if (c.at.line + 1 >= lines)
                return true;
            scanLineEnd(c.at.line, c.at.state, add, stopped);
            ++c.at.line;
            c.at.offset = 0;
            ++c.linesSinceCheckpoint;
            if (++lineEnds % kClockLines != 0)
                continue;
        }
        if (steadyNowNs() - start >= budgetNs)
            return counted();
    }
}

bool PaneFinder::endOf(const PaneMatch& m, int& line, qsizetype& offset, int& ch) const {
    ch = 0;
    if (!text_ && m.end.column == 0) {
        // Ends on the line feed that ended the line before.
        line = m.end.line - 1;
        if (line < 0 || line >= model_.lineCount())
            return false;
        offset = model_.lineBytes(line);
        return true;
    }
    line = m.end.line;
    if (line < 0 || line >= model_.lineCount() || m.end.column <= 0)
        return false;
    const Mark mark = layout_.markAtColumn(line, m.end.column - 1);
    offset = mark.offset;
    ch = static_cast<int>(m.end.column - 1 - mark.column);
    return offset < model_.lineBytes(line);
}

std::optional<qsizetype> PaneFinder::numberOf(const PaneMatch& match) const {
    int line = 0;
    qsizetype offset = 0;
    int ch = 0;
    if (m_ == 0 || !endOf(match, line, offset, ch))
        return std::nullopt;
    const Point& at = count_.at;
    if (at.line < line || (at.line == line && at.offset <= offset))
        return std::nullopt;  // not counted so far
    const std::vector<Found> here = locate(line, offset);
    if (std::none_of(here.begin(), here.end(), [&](const Found& f) { return f.match == match; }))
        return std::nullopt;
    // From the last checkpoint before the match's end, count the matches ending before it.
    const auto& cps = count_.checkpoints;
    auto it = std::upper_bound(cps.begin(), cps.end(), std::make_pair(line, offset),
                               [](const std::pair<int, qsizetype>& v, const Checkpoint& cp) {
                                   return v < std::make_pair(cp.at.line, cp.at.offset);
                               });
    if (it == cps.begin())
        return std::nullopt;
    --it;
    Point p = it->at;
    qsizetype before = it->before;
    bool stopped = false;
    auto add = [&before](qsizetype, int hits) {
        before += hits;
        return true;
    };
    while (p.line < line) {
        const qsizetype bytes = model_.lineBytes(p.line);
        if (p.offset < bytes)
            scanLine(p.line, p.offset, bytes, p.state, kPastAny, add, stopped);
        scanLineEnd(p.line, p.state, add, stopped);
        ++p.line;
        p.offset = 0;
    }
    if (p.offset < offset)
        scanLine(line, p.offset, offset, p.state, kPastAny, add, stopped);
    if (text_) {
        // Matches ending earlier in the same unit.
        PaneModel::Reader r(model_, line, offset);
        const QStringView t = r.text();
        uint32_t s = p.state;
        for (int j = 0; j < ch && j < t.size(); ++j) {
            s = charStep(s, t[j].unicode());
            before += s == uint32_t(m_);
        }
    }
    return before + 1;
}

// ---- Highlighting -------------------------------------------------------------------------

void PaneFinder::spansOnLine(int line, qsizetype fromColumn, qsizetype toColumn,
                             std::vector<MatchSpan>& out) const {
    out.clear();
    const int lines = model_.lineCount();
    if (m_ == 0 || line < 0 || line >= lines || toColumn <= fromColumn)
        return;
    fromColumn = std::max<qsizetype>(fromColumn, 0);
    if (text_) {
        const Mark from = layout_.markAtColumn(line, std::max<qsizetype>(0, fromColumn - m_));
        const qsizetype stop = layout_.markAtColumn(line, toColumn + m_).offset;
        walk(line, from, line, stop, [&](const Found& f) {
            if (f.match.end.column > fromColumn && f.match.start.column < toColumn)
                out.push_back(MatchSpan{f.match.start.column, f.match.end.column, false});
            return true;
        });
        return;
    }
    // Bytes: from enough bytes before the columns (on earlier lines if need be) to enough
    // after them (on later lines if need be), so matches reaching into them are whole.
    const qsizetype need = 2 * qsizetype(m_) + 16;
    const qsizetype uFrom = layout_.markAtColumn(line, fromColumn).offset;
    int startLine = line;
    Mark start;
    if (uFrom > need) {
        start = layout_.markBefore(line, uFrom - need);
    } else {
        qsizetype left = need - uFrom;
        while (startLine > 0 && left > 0 && line - startLine < 64) {
            --startLine;
            left -= model_.lineBytes(startLine) + 1;
        }
        if (left < 0)
            start = layout_.markBefore(startLine, -left);
    }
    int stopLine = line;
    qsizetype stopOffset = model_.lineBytes(line);
    const qsizetype uTo = layout_.markAtColumn(line, toColumn).offset;
    if (uTo + need < stopOffset) {
        stopOffset = uTo + need;
    } else {
        qsizetype left = m_ + 1;
        while (left > 0 && stopLine + 1 < lines && stopLine - line < 64) {
            ++stopLine;
            const qsizetype bytes = model_.lineBytes(stopLine);
            stopOffset = std::min(bytes, left);
            left -= bytes + 1;
        }
    }
    walk(startLine, start, stopLine, stopOffset, [&](const Found& f) {
        const PaneMatch& m = f.match;
        if (m.start.line > line)
            return false;
        if (m.end.line < line)
            return true;
        MatchSpan span;
        span.from = m.start.line == line ? m.start.column : 0;
        if (m.end.line == line) {
            span.to = m.end.column;
        } else {
            span.to = kPastAny;
            span.lineBreak = true;
        }
        if (span.to > span.from && span.from < toColumn && span.to > fromColumn)
            out.push_back(span);
        return true;
    });
}

// ---- Following the model ------------------------------------------------------------------

void PaneFinder::onGrown(int firstLine) {
    // Lines only grow at the end: the count goes on from where it stands.
    layout_.linesChanged(firstLine);
}

void PaneFinder::onCleared() {
    layout_.reset();
    resetCount();
    emit cleared();
}

}  // namespace trelmo
