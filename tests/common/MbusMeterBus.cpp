#include "tests/common/MbusMeterBus.h"

#include <algorithm>

namespace trelmo::test {

namespace {

uint8_t sum(QByteArrayView bytes) {
    unsigned s = 0;
    for (char c : bytes)
        s += static_cast<uint8_t>(c);
    return static_cast<uint8_t>(s);
}

int nibble(QChar c) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - u'0';
    return 0xF;
}

// 8 id characters from 4 selection bytes (low byte first); F nibbles stay F.
QString idOfBytes(QByteArrayView b) {
    QString out;
    for (int i = 3; i >= 0; --i) {
        const uint8_t v = static_cast<uint8_t>(b[i]);
        out += QChar::fromLatin1("0123456789ABCDEF"[v >> 4]);
        out += QChar::fromLatin1("0123456789ABCDEF"[v & 0xF]);
    }
    return out;
}

}  // namespace

void MbusMeterBus::addMeter(SimMeter meter) {
    State s;
    s.meter = std::move(meter);
    meters_.push_back(std::move(s));
}

QByteArray MbusMeterBus::replyFrame(const SimMeter& m, std::size_t index, uint8_t access) {
    QByteArray body;
    body.append(char(0x08));
    body.append(char(m.primary));
    body.append(char(0x72));
    for (int i = 3; i >= 0; --i)
        body.append(char((nibble(m.id[2 * i]) << 4) | nibble(m.id[2 * i + 1])));
    body.append(char(m.manufacturer & 0xFF));
    body.append(char(m.manufacturer >> 8));
    body.append(char(m.version));
    body.append(char(m.medium));
    body.append(char(access));
    body.append(char(m.status));
    body.append(char(0));
    body.append(char(0));
    if (index < m.telegrams.size())
        body.append(m.telegrams[index]);
    QByteArray out;
    out.append(char(0x68));
    out.append(char(body.size()));
    out.append(char(body.size()));
    out.append(char(0x68));
    out.append(body);
    out.append(char(sum(body)));
    out.append(char(0x16));
    return out;
}

QByteArray MbusMeterBus::write(QByteArrayView bytes) {
    pending_.append(bytes);
    QByteArray answer;
    for (;;) {
        if (pending_.isEmpty())
            break;
        const uint8_t start = static_cast<uint8_t>(pending_[0]);
        qsizetype len = 0;
        if (start == 0x10) {
            len = 5;
        } else if (start == 0x68) {
            if (pending_.size() < 2)
                break;
            len = static_cast<uint8_t>(pending_[1]) + 6;
        } else {
            pending_.remove(0, 1);  // not a request start: the meters wait for one
            continue;
        }
        if (pending_.size() < len)
            break;
        const QByteArray frame = pending_.left(len);
        pending_.remove(0, len);
        ++requests_;
        log_.push_back(frame);
        answer.append(handle(frame));
    }
    return answer;
}

std::vector<MbusMeterBus::State*> MbusMeterBus::addressed(uint8_t address) {
    std::vector<State*> out;
    for (State& s : meters_) {
        const bool hit = address == 0xFE || address == 0xFF ||
                         (address == 0xFD ? s.selected : s.meter.primary == address);
        if (hit)
            out.push_back(&s);
    }
    return out;
}

QByteArray MbusMeterBus::handle(QByteArrayView f) {
    const uint8_t start = static_cast<uint8_t>(f[0]);
    std::vector<QByteArray> answers;
    const QByteArray ack(1, char(0xE5));
    if (start == 0x10) {
        const uint8_t c = static_cast<uint8_t>(f[1]);
        const uint8_t a = static_cast<uint8_t>(f[2]);
        if (static_cast<uint8_t>(f[3]) != uint8_t(c + a) || static_cast<uint8_t>(f[4]) != 0x16)
            return {};
        if (c == 0x40) {
            for (State* s : addressed(a)) {
                s->fresh = true;
                if (a == 0xFD)
                    s->selected = false;
                answers.push_back(ack);
            }
        } else if ((c & 0xCF) == 0x4B) {  // REQ_UD2, FCV set, FCB either way
            const bool fcb = c & 0x20;
            for (State* s : addressed(a)) {
                if (s->fresh) {
                    s->index = 0;
                    s->fresh = false;
                } else if (fcb != s->lastFcb && !s->meter.telegrams.empty()) {
                    s->index = (s->index + 1) % s->meter.telegrams.size();
                }
                s->lastFcb = fcb;
                answers.push_back(replyFrame(s->meter, s->index, ++s->access));
            }
        }
        if (a == 0xFF)
            return {};
    } else {
        const int l = static_cast<uint8_t>(f[1]);
        if (l < 3 || f[2] != f[1] || static_cast<uint8_t>(f[3]) != 0x68 ||
            static_cast<uint8_t>(f[4 + l]) != sum(f.sliced(4, l)) ||
            static_cast<uint8_t>(f[5 + l]) != 0x16)
            return {};
        const uint8_t c = static_cast<uint8_t>(f[4]);
        const uint8_t a = static_cast<uint8_t>(f[5]);
        const uint8_t ci = static_cast<uint8_t>(f[6]);
        const QByteArrayView data = f.sliced(7, l - 3);
        if ((c & 0xDF) != 0x53)
            return {};
        if (ci == 0x52 && a == 0xFD && data.size() == 8) {
            const QString mask = idOfBytes(data.first(4));
            const uint16_t man =
                static_cast<uint8_t>(data[4]) | (static_cast<uint8_t>(data[5]) << 8);
            const uint8_t ver = static_cast<uint8_t>(data[6]);
            const uint8_t med = static_cast<uint8_t>(data[7]);
            for (State& s : meters_) {
                bool match = true;
                for (int i = 0; i < 8; ++i)
                    if (mask[i] != QLatin1Char('F') && mask[i] != s.meter.id[i])
                        match = false;
                match = match && (man == 0xFFFF || man == s.meter.manufacturer) &&
                        (ver == 0xFF || ver == s.meter.version) &&
                        (med == 0xFF || med == s.meter.medium);
                s.selected = match;
                if (match) {
                    s.fresh = true;
                    answers.push_back(ack);
                }
            }
        } else if (ci == 0x50) {
            for (State* s : addressed(a)) {
                s->fresh = true;
                answers.push_back(ack);
            }
            if (a == 0xFF)
                return {};
        }
    }
    return combine(answers);
}

QByteArray MbusMeterBus::combine(const std::vector<QByteArray>& answers) const {
    if (answers.empty())
        return {};
    if (answers.size() == 1)
        return answers.front();
    const bool allAcks = std::all_of(answers.begin(), answers.end(), [](const QByteArray& a) {
        return a.size() == 1 && static_cast<uint8_t>(a[0]) == 0xE5;
    });
    if (allAcks && !mergeAcks_)
        return QByteArray(static_cast<qsizetype>(answers.size()), char(0xE5));
    QByteArray out = answers.front();
    for (std::size_t k = 1; k < answers.size(); ++k) {
        const QByteArray& a = answers[k];
        if (a.size() > out.size())
            out.append(a.sliced(out.size()));
        for (qsizetype i = 0; i < a.size(); ++i)
            out[i] = char(static_cast<uint8_t>(out[i]) & static_cast<uint8_t>(a[i]));
    }
    return out;
}

}  // namespace trelmo::test
