#include "core/mbus/MbusRecords.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/mbus/MbusTables.h"

namespace trelmo::mbus::inline records {

namespace {

QString hex2(int value) {
    return QStringLiteral("0x") +
           QString::number(value & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString hexBytes(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

// A number as mantissa x 10^exponent while that is exact; a double past that (a product
// that would overflow 64 bits).
struct Number {
    qint64 m = 0;
    int e = 0;
    bool exact = true;
    double d = 0;

    static Number of(qint64 mantissa) { return Number{mantissa, 0, true, 0}; }
    void scale(int exponent) {
        if (exact)
            e += exponent;
        else
            d *= std::pow(10.0, exponent);
    }
    void multiply(qint64 factor) {
        if (!exact) {
            d *= static_cast<double>(factor);
            return;
        }
        qint64 product = 0;
        if (__builtin_mul_overflow(m, factor, &product)) {
            d = static_cast<double>(m) * std::pow(10.0, e) * static_cast<double>(factor);
            exact = false;
            return;
        }
        m = product;
    }
    QString text() const {
        if (exact)
            return decimalText(m, e);
        if (!std::isfinite(d))
            return d != d ? QStringLiteral("NaN")
                          : (d > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity"));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
};

// The shortest decimal that reads back as `value`, as a Number.
Number fromFloat(float value) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    const char* p = buf;
    const char* end = res.ptr;
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    qint64 m = 0;
    int e = 0;
    bool point = false;
    for (; p < end && *p != 'e'; ++p) {
        if (*p == '.') {
            point = true;
            continue;
        }
        m = m * 10 + (*p - '0');
        if (point)
            --e;
    }
    if (p < end && *p == 'e') {
        ++p;
        int sign = 1;
        if (*p == '-' || *p == '+') {
            sign = *p == '-' ? -1 : 1;
            ++p;
        }
        int x = 0;
        for (; p < end; ++p)
            x = x * 10 + (*p - '0');
        e += sign * x;
    }
    return Number{negative ? -m : m, e, true, 0};
}

constexpr qint64 kTimeFactor[4] = {1, 60, 3600, 86400};
const char* const kTimeUnitName[4] = {"s", "min", "h", "d"};

struct DateResult {
    QString text;
    bool invalid = false;
    QString note;
    QString type;
};

int fullYear(int year7, int hundreds) {
    if (hundreds > 0)
        return 1900 + 100 * hundreds + year7;
    return year7 <= 80 ? 2000 + year7 : 1900 + year7;
}

QString two(int v) {
    return QString::number(v).rightJustified(2, QLatin1Char('0'));
}

// Dates and times by the size of the data: type G (2 bytes), J (3), F (4), I (6).
// `b` holds the bytes low byte first.
std::optional<DateResult> decodeDate(const uint8_t* b, int n) {
    DateResult r;
    QStringList notes;
    if (n == 2) {
        const int day = b[0] & 0x1F;
        const int month = b[1] & 0x0F;
        const int year7 = ((b[0] >> 5) & 0x07) | ((b[1] >> 4) << 3);
        r.type = QStringLiteral("date");
        r.text = QStringLiteral("%1-%2-%3").arg(fullYear(year7, 0)).arg(two(month), two(day));
        r.invalid = day == 0 || month == 0 || month > 12 || year7 > 99;
    } else if (n == 4) {
        const int minute = b[0] & 0x3F;
        const bool iv = b[0] & 0x80;
        const int hour = b[1] & 0x1F;
        const int hundreds = (b[1] >> 5) & 0x03;
        const bool summer = b[1] & 0x80;
        const int day = b[2] & 0x1F;
        const int month = b[3] & 0x0F;
        const int year7 = ((b[2] >> 5) & 0x07) | ((b[3] >> 4) << 3);
        r.type = QStringLiteral("datetime");
        r.text = QStringLiteral("%1-%2-%3T%4:%5:00")
                     .arg(fullYear(year7, hundreds))
                     .arg(two(month), two(day), two(hour), two(minute));
        r.invalid =
            iv || day == 0 || month == 0 || month > 12 || year7 > 99 || hour > 23 || minute > 59;
        if (iv)
            notes << QStringLiteral("time marked invalid");
        if (summer)
            notes << QStringLiteral("summer time");
    } else if (n == 6) {
        const int second = b[0] & 0x3F;
        const int minute = b[1] & 0x3F;
        const bool summer = b[1] & 0x40;
        const bool iv = b[1] & 0x80;
        const int hour = b[2] & 0x1F;
        const int weekday = (b[2] >> 5) & 0x07;
        const int day = b[3] & 0x1F;
        const int month = b[4] & 0x0F;
        const int year7 = ((b[3] >> 5) & 0x07) | ((b[4] >> 4) << 3);
        const int week = b[5] & 0x3F;
        r.type = QStringLiteral("datetime");
        r.text = QStringLiteral("%1-%2-%3T%4:%5:%6")
                     .arg(fullYear(year7, 0))
                     .arg(two(month), two(day), two(hour), two(minute), two(second));
        r.invalid = iv || day == 0 || month == 0 || month > 12 || year7 > 99 || hour > 23 ||
                    minute > 59 || second > 59;
        if (iv)
            notes << QStringLiteral("time marked invalid");
        if (summer)
            notes << QStringLiteral("summer time");
        if (weekday)
            notes << QStringLiteral("day of week %1").arg(weekday);
        if (week)
            notes << QStringLiteral("week %1").arg(week);
    } else if (n == 3) {
        const int second = b[0] & 0x3F;
        const int minute = b[1] & 0x3F;
        const int hour = b[2] & 0x1F;
        r.type = QStringLiteral("time");
        r.text = QStringLiteral("%1:%2:%3").arg(two(hour), two(minute), two(second));
        r.invalid = hour > 23 || minute > 59 || second > 59;
    } else {
        return std::nullopt;
    }
    if (r.invalid)
        notes.prepend(QStringLiteral("invalid date"));
    r.note = notes.join(QStringLiteral("; "));
    return r;
}

// What the value information block of one record says.
struct Vib {
    QString quantity;
    QString unit;
    QString unitSuffix;
    int exponent = 0;    // of the VIF (Scaled)
    int correction = 0;  // of the combinable VIFEs
    ValueRule rule = ValueRule::Plain;
    int timeUnit = 0;  // Duration / LongDuration / DurationOf
    QString meaning;   // a combinable VIFE that changes what the value is
    bool countOf = false;
    bool durationOf = false;
    bool dateOf = false;
};

class Decoder {
  public:
    Decoder(QByteArrayView in, Telegram& t) : in_(in), t_(t) {
        t_.bytes = in.toByteArray();
        t_.roles = QByteArray(in.size(), char(ByteRole::Unknown));
    }

    void frame() {
        FrameParse fp = parseFrame(in_);
        t_.frame = fp.frame;
        for (DecodeError& e : fp.errors)
            t_.errors.push_back(std::move(e));
        const Frame& f = t_.frame;
        const int size = static_cast<int>(in_.size());
        switch (f.type) {
            case FrameType::None:
                return;
            case FrameType::Ack:
                role(0, 1, ByteRole::Ack);
                role(1, size - 1, ByteRole::Trailing);
                return;
            case FrameType::Short:
                role(0, 1, ByteRole::Start);
                role(1, 1, ByteRole::Control);
                role(2, 1, ByteRole::Address);
                role(3, 1, ByteRole::Checksum);
                role(4, 1, ByteRole::Stop);
                role(5, size - 5, ByteRole::Trailing);
                return;
            case FrameType::Control:
            case FrameType::Long:
                break;
        }
        role(0, 1, ByteRole::Start);
        role(1, 2, ByteRole::Length);
        role(3, 1, ByteRole::Start);
        if (f.lField >= 1)
            role(4, 1, ByteRole::Control);
        if (f.lField >= 2)
            role(5, 1, ByteRole::Address);
        if (f.lField >= 0) {
            role(4 + f.lField, 1, ByteRole::Checksum);
            role(5 + f.lField, 1, ByteRole::Stop);
            role(6 + f.lField, size - (6 + f.lField), ByteRole::Trailing);
        }
        if (f.ci >= 0)
            application(6, f.userEnd);
    }

    void userData() {
        if (in_.isEmpty()) {
            error(0, QStringLiteral("empty input"));
            return;
        }
        t_.frame.ci = b(0);
        application(0, static_cast<int>(in_.size()));
    }

  private:
    uint8_t b(int i) const { return static_cast<uint8_t>(in_[i]); }

    void role(int from, int count, ByteRole r) {
        const int size = static_cast<int>(t_.roles.size());
        const int begin = std::max(from, 0);
        const int end = std::min(from + count, size);
        if (begin < end)
            std::memset(t_.roles.data() + begin, char(r), static_cast<std::size_t>(end - begin));
    }

    void error(int offset, QString reason) { t_.errors.push_back({offset, std::move(reason)}); }

    // An error about bytes [from, end) left undecoded: the reason and the bytes (the first 32).
    void undecoded(int offset, int from, int end, const QString& reason) {
        const int n = std::max(0, end - from);
        QString bytes = hexBytes(in_.sliced(from, std::min(n, 32)));
        if (n > 32)
            bytes += QStringLiteral("...");
        error(offset, n > 0 ? QStringLiteral("%1 [%2]").arg(reason, bytes) : reason);
    }

    // Reads `n` bytes at `p` as an unsigned number, in the telegram's byte order.
    quint64 unsignedAt(int p, int n) const {
        quint64 v = 0;
        for (int i = 0; i < n; ++i) {
            const int k = t_.highByteFirst ? i : n - 1 - i;
            v = (v << 8) | b(p + k);
        }
        return v;
    }

    // The bytes at `p`, low byte first (reversed when the telegram sends the high byte first).
    void lowFirst(int p, int n, uint8_t* out) const {
        for (int i = 0; i < n; ++i)
            out[i] = t_.highByteFirst ? b(p + n - 1 - i) : b(p + i);
    }

    // 4 BCD bytes as 8 digits (a nibble above 9 as its hex digit).
    QString idDigits(int p) const {
        const quint64 v = unsignedAt(p, 4);
        return QString::number(v, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    }

    void application(int ciOffset, int end) {
        const int ci = b(ciOffset);
        role(ciOffset, 1, ByteRole::Ci);
        t_.ciText = ciName(ci);
        int pos = ciOffset + 1;
        switch (ci) {
            case 0x76:
                t_.highByteFirst = true;
                [[fallthrough]];
            case 0x72:
                if (!longHeader(pos, end))
                    return;
                pos += 12;
                break;
            case 0x7A:
                if (!shortHeader(pos, end))
                    return;
                pos += 4;
                break;
            case 0x78:
            case 0x79:
                break;
            case 0x77:
                t_.highByteFirst = true;
                [[fallthrough]];
            case 0x73:
                fixedStructure(pos, end);
                return;
            case 0x70:
                applicationErrorReply(pos, end);
                return;
            default:
                role(pos, end - pos, ByteRole::Undecoded);
                undecoded(
                    ciOffset, pos, end,
                    QStringLiteral("CI %1 (%2): user data not decoded").arg(hex2(ci), t_.ciText));
                return;
        }
        if (t_.header.signature > 0) {
            const int mode = (t_.header.signature >> 8) & 0x1F;
            if (mode == 5 || mode == 7 || mode == 13) {
                role(pos, end - pos, ByteRole::Undecoded);
                undecoded(pos, pos, end,
                          QStringLiteral("user data encrypted (security mode %1): not decoded")
                              .arg(mode));
                return;
            }
        }
        records(pos, end);
    }

    bool headerCut(int pos, int end, int need) {
        if (end - pos >= need)
            return false;
        role(pos, end - pos, ByteRole::Undecoded);
        error(end,
              QStringLiteral("header cut: %1 of %2 bytes").arg(std::max(end - pos, 0)).arg(need));
        return true;
    }

    bool longHeader(int pos, int end) {
        if (headerCut(pos, end, 12))
            return false;
        Header& h = t_.header;
        h.kind = HeaderKind::Long;
        h.idRaw = static_cast<quint32>(unsignedAt(pos, 4));
        h.id = idDigits(pos);
        h.manufacturerCode = static_cast<uint16_t>(unsignedAt(pos + 4, 2));
        h.manufacturer = manufacturerText(h.manufacturerCode);
        h.version = b(pos + 6);
        h.medium = b(pos + 7);
        h.mediumText = mediumName(h.medium);
        h.access = b(pos + 8);
        h.status = b(pos + 9);
        h.statusTexts = statusTexts(h.status);
        h.signature = static_cast<int>(unsignedAt(pos + 10, 2));
        role(pos, 4, ByteRole::HeaderId);
        role(pos + 4, 2, ByteRole::HeaderManufacturer);
        role(pos + 6, 1, ByteRole::HeaderVersion);
        role(pos + 7, 1, ByteRole::HeaderMedium);
        role(pos + 8, 1, ByteRole::HeaderAccess);
        role(pos + 9, 1, ByteRole::HeaderStatus);
        role(pos + 10, 2, ByteRole::HeaderSignature);
        return true;
    }

    bool shortHeader(int pos, int end) {
        if (headerCut(pos, end, 4))
            return false;
        Header& h = t_.header;
        h.kind = HeaderKind::Short;
        h.access = b(pos);
        h.status = b(pos + 1);
        h.statusTexts = statusTexts(h.status);
        h.signature = static_cast<int>(unsignedAt(pos + 2, 2));
        role(pos, 1, ByteRole::HeaderAccess);
        role(pos + 1, 1, ByteRole::HeaderStatus);
        role(pos + 2, 2, ByteRole::HeaderSignature);
        return true;
    }

    void applicationErrorReply(int pos, int end) {
        if (pos >= end) {
            t_.applicationErrorText = QStringLiteral("application error without a code");
            error(pos, t_.applicationErrorText);
            return;
        }
        t_.applicationError = b(pos);
        t_.applicationErrorText = applicationErrorName(t_.applicationError);
        role(pos, 1, ByteRole::ApplicationError);
        if (end - pos > 1) {
            role(pos + 1, end - pos - 1, ByteRole::Undecoded);
            undecoded(pos + 1, pos + 1, end,
                      QStringLiteral("%1 bytes after the application error code not decoded")
                          .arg(end - pos - 1));
        }
    }

    // CI 0x73 / 0x77: id, access number, status, medium and units, two counters.
    void fixedStructure(int pos, int end) {
        if (headerCut(pos, end, 16))
            return;
        Header& h = t_.header;
        h.kind = HeaderKind::Fixed;
        h.idRaw = static_cast<quint32>(unsignedAt(pos, 4));
        h.id = idDigits(pos);
        h.access = b(pos + 4);
        h.status = b(pos + 5);
        const uint8_t mu1 = b(pos + 6);
        const uint8_t mu2 = b(pos + 7);
        h.medium = ((mu2 >> 6) << 2) | (mu1 >> 6);
        h.mediumText = fixedMediumName(h.medium);
        const bool binary = h.status & 0x01;
        const bool historic = h.status & 0x02;
        h.statusTexts << (binary ? QStringLiteral("counters binary")
                                 : QStringLiteral("counters BCD"));
        if (historic)
            h.statusTexts << QStringLiteral("counters stored at fixed date");
        if (h.status & 0x04)
            h.statusTexts << QStringLiteral("power low");
        if (h.status & 0x08)
            h.statusTexts << QStringLiteral("permanent error");
        if (h.status & 0x10)
            h.statusTexts << QStringLiteral("temporary error");
        for (int bit = 5; bit < 8; ++bit)
            if (h.status & (1 << bit))
                h.statusTexts << QStringLiteral("manufacturer bit %1").arg(bit);
        role(pos, 4, ByteRole::HeaderId);
        role(pos + 4, 1, ByteRole::HeaderAccess);
        role(pos + 5, 1, ByteRole::HeaderStatus);
        role(pos + 6, 2, ByteRole::FixedMediumUnit);
        const FixedUnitEntry* first = nullptr;
        for (int k = 0; k < 2; ++k) {
            const int p = pos + 8 + 4 * k;
            Record r;
            r.offset = p;
            r.length = 4;
            r.dataOffset = p;
            r.dataLength = 4;
            const int unitCode = (k == 0 ? mu1 : mu2) & 0x3F;
            const FixedUnitEntry* u = fixedUnit(unitCode);
            bool storedAtDate = historic;
            if (k == 1 && unitCode == 0x3E) {
                u = first;
                storedAtDate = true;
            }
            if (k == 0)
                first = u;
            r.storage = storedAtDate ? 1 : 0;
            const quint64 v = unsignedAt(p, 4);
            Number n;
            if (binary) {
                r.type = QStringLiteral("uint32");
                n = Number::of(static_cast<qint64>(v));
                r.raw = static_cast<qint64>(v);
            } else {
                r.type = QStringLiteral("bcd8");
                const QString digits =
                    QString::number(v, 16).toUpper().rightJustified(8, QLatin1Char('0'));
                bool ok = false;
                const qint64 value = digits.toLongLong(&ok, 10);
                if (ok) {
                    n = Number::of(value);
                    r.raw = value;
                } else {
                    r.invalid = true;
                    r.note = QStringLiteral("BCD with digits A-F");
                    r.valueType = ValueType::Text;
                    r.value = digits;
                }
            }
            r.quantity = QStringLiteral("Counter %1").arg(k + 1);
            if (u) {
                r.quantity += QStringLiteral(": ") + QString::fromUtf8(u->quantity);
                r.unit = QString::fromUtf8(u->unit);
                n.scale(u->exponent);
            } else {
                r.note = QStringLiteral("unit code %1 not known").arg(hex2(unitCode));
            }
            if (r.valueType != ValueType::Text) {
                r.valueType = ValueType::Number;
                r.value = n.text();
                r.number = r.value.toDouble();
            }
            role(p, 4, ByteRole::Data);
            t_.records.push_back(std::move(r));
        }
        if (end > pos + 16) {
            role(pos + 16, end - pos - 16, ByteRole::Undecoded);
            undecoded(pos + 16, pos + 16, end,
                      QStringLiteral("%1 bytes after the fixed data structure not decoded")
                          .arg(end - pos - 16));
        }
    }

    void records(int pos, int end) {
        while (pos < end) {
            const uint8_t dif = b(pos);
            if (dif == 0x2F) {
                role(pos, 1, ByteRole::Filler);
                ++pos;
                continue;
            }
            if (dif == 0x0F || dif == 0x1F) {
                manufacturerData(pos, end);
                return;
            }
            if ((dif & 0x0F) == 0x0F && dif != 0x7F) {
                role(pos, end - pos, ByteRole::Undecoded);
                undecoded(
                    pos, pos, end,
                    QStringLiteral("reserved DIF %1: the rest is not decoded").arg(hex2(dif)));
                return;
            }
            if (!record(pos, end))
                return;
        }
    }

    void manufacturerData(int pos, int end) {
        Record r;
        r.offset = pos;
        r.length = end - pos;
        r.dif = b(pos);
        r.function = r.dif == 0x1F ? Function::More : Function::Manufacturer;
        r.dataOffset = pos + 1;
        r.dataLength = end - pos - 1;
        r.type = QStringLiteral("manufacturer");
        r.quantity = QStringLiteral("Manufacturer specific data");
        r.valueType = ValueType::Text;
        r.value = hexBytes(in_.sliced(pos + 1, end - pos - 1));
        role(pos, 1, ByteRole::Dif);
        role(pos + 1, end - pos - 1, ByteRole::ManufacturerData);
        t_.moreRecordsFollow = r.dif == 0x1F;
        t_.records.push_back(std::move(r));
    }

    // The end of a chain of extension bytes starting at `p` (the byte before had its
    // extension bit `ext`), or -1 when the input ends inside it.
    int chainEnd(int p, bool ext, int end) const {
        while (ext) {
            if (p >= end)
                return -1;
            ext = b(p) & 0x80;
            ++p;
        }
        return p;
    }

    bool printable(int p, int n) const {
        for (int i = 0; i < n; ++i)
            if (b(p + i) < 0x20 || b(p + i) > 0x7E)
                return false;
        return true;
    }

    QString latin1Text(int p, int n, bool reversed) const {
        QString s;
        s.reserve(n);
        for (int i = 0; i < n; ++i)
            s += QChar(b(reversed ? p + n - 1 - i : p + i));
        return s;
    }

    bool cut(int start, int at, const QString& where) {
        error(at, QStringLiteral("record at %1 cut %2").arg(start).arg(where));
        return false;
    }

    // One data record at `pos`; false when decoding cannot go on.
    bool record(int& pos, int end) {
        const int start = pos;
        Record r;
        r.offset = start;
        r.dif = b(pos);
        r.function = static_cast<Function>((r.dif >> 4) & 0x03);
        r.storage = (r.dif >> 6) & 0x01;
        role(pos, 1, ByteRole::Dif);
        ++pos;
        QStringList notes;
        bool ext = r.dif & 0x80;
        int difes = 0;
        while (ext) {
            if (pos >= end)
                return cut(start, pos, QStringLiteral("inside its DIFEs"));
            const uint8_t d = b(pos);
            r.dife.append(char(d));
            role(pos, 1, ByteRole::Dife);
            if (difes < 10) {
                r.storage |= static_cast<quint64>(d & 0x0F) << (1 + 4 * difes);
                r.tariff |= static_cast<quint32>((d >> 4) & 0x03) << (2 * difes);
                r.subunit |= static_cast<quint32>((d >> 6) & 0x01) << difes;
            }
            ++difes;
            ext = d & 0x80;
            ++pos;
        }
        if (difes > 10)
            notes << QStringLiteral(
                "more than 10 DIFEs: storage, tariff and subunit from the "
                "first 10");

        if (r.dif == 0x7F) {
            // Global readout request: no VIF, no data.
            r.length = pos - start;
            r.type = QStringLiteral("none");
            r.quantity = QStringLiteral("Global readout request");
            r.note = notes.join(QStringLiteral("; "));
            t_.records.push_back(std::move(r));
            return true;
        }

        if (pos >= end)
            return cut(start, pos, QStringLiteral("before its VIF"));
        r.vifOffset = pos;
        r.vif = b(pos);
        role(pos, 1, ByteRole::Vif);
        ++pos;
        const uint8_t vifCode = r.vif & 0x7F;
        const bool vifExt = r.vif & 0x80;

        if (vifCode == 0x7C) {
            // The unit as text: by the rule after the VIFEs ("length, characters"); some
            // meters put it right after the VIF, which is tried when the rule's reading
            // does not fit.
            int vifeFrom = pos, vifeTo = -1, textAt = -1, textLen = 0;
            const int stdEnd = chainEnd(pos, vifExt, end);
            if (stdEnd >= 0 && stdEnd < end && stdEnd + 1 + b(stdEnd) <= end &&
                printable(stdEnd + 1, b(stdEnd))) {
                vifeTo = stdEnd;
                textAt = stdEnd;
                textLen = b(stdEnd);
            } else if (pos < end && pos + 1 + b(pos) <= end && printable(pos + 1, b(pos))) {
                const int afterText = pos + 1 + b(pos);
                const int altEnd = chainEnd(afterText, vifExt, end);
                if (altEnd >= 0) {
                    textAt = pos;
                    textLen = b(pos);
                    vifeFrom = afterText;
                    vifeTo = altEnd;
                    notes << QStringLiteral("unit text placed before the VIFEs");
                }
            }
            if (textAt < 0) {
                role(pos, end - pos, ByteRole::Undecoded);
                error(pos, QStringLiteral("record at %1: its plain-text unit does not fit in the "
                                          "telegram")
                               .arg(start));
                return false;
            }
            for (int i = vifeFrom; i < vifeTo; ++i)
                r.vife.append(char(b(i)));
            role(vifeFrom, vifeTo - vifeFrom, ByteRole::Vife);
            role(textAt, 1 + textLen, ByteRole::UnitText);
            r.unitText = latin1Text(textAt + 1, textLen, !t_.highByteFirst);
            pos = std::max(vifeTo, textAt + 1 + textLen);
        } else {
            bool more = vifExt;
            while (more) {
                if (pos >= end)
                    return cut(start, pos, QStringLiteral("inside its VIFEs"));
                r.vife.append(char(b(pos)));
                role(pos, 1, ByteRole::Vife);
                more = b(pos) & 0x80;
                ++pos;
            }
        }
        if (r.vife.size() > 10)
            notes << QStringLiteral("more than 10 VIFEs");

        Vib vib = describe(r, notes);

        // The data.
        const DataFieldEntry& df = dataField(r.dif);
        int len = df.length;
        const int nibble = r.dif & 0x0F;
        if (nibble == 0x0D) {
            if (pos >= end)
                return cut(start, pos, QStringLiteral("before its LVAR byte"));
            r.lvar = b(pos);
            role(pos, 1, ByteRole::Lvar);
            ++pos;
            len = lvarLength(r.lvar);
            if (len < 0) {
                role(pos, end - pos, ByteRole::Undecoded);
                undecoded(pos - 1, pos, end,
                          QStringLiteral("record at %1: reserved LVAR %2, length unknown: the "
                                         "rest is not decoded")
                              .arg(start)
                              .arg(hex2(r.lvar)));
                return false;
            }
        }
        if (pos + len > end) {
            role(pos, end - pos, ByteRole::Data);
            return cut(start, end,
                       QStringLiteral("inside its data: %1 of %2 bytes").arg(end - pos).arg(len));
        }
        r.dataOffset = pos;
        r.dataLength = len;
        role(pos, len, ByteRole::Data);
        pos += len;
        r.length = pos - start;

        value(r, vib, notes);
        if (!r.note.isEmpty())
            notes.prepend(r.note);
        r.note = notes.join(QStringLiteral("; "));
        t_.records.push_back(std::move(r));
        return true;
    }

    static int lvarLength(int lvar) {
        if (lvar <= 0xBF)
            return lvar;
        if (lvar >= 0xC0 && lvar <= 0xC9)
            return lvar - 0xC0;
        if (lvar >= 0xD0 && lvar <= 0xD9)
            return lvar - 0xD0;
        if (lvar >= 0xE0 && lvar <= 0xEF)
            return lvar - 0xE0;
        if (lvar >= 0xF0 && lvar <= 0xF4)
            return 4 * (lvar - 0xEC);
        if (lvar == 0xF5)
            return 48;
        if (lvar == 0xF6)
            return 64;
        return -1;
    }

    // The meaning of the VIF and its VIFEs.
    Vib describe(Record& r, QStringList& notes) const {
        Vib v;
        const uint8_t code = r.vif & 0x7F;
        int firstCombinable = 0;
        bool manufacturer = false;
        const VifEntry* e = nullptr;
        if (code == 0x7B || code == 0x7D) {
            if (r.vife.isEmpty()) {
                v.quantity = QStringLiteral("VIF extension without its code");
                v.rule = ValueRule::Reserved;
                notes << QStringLiteral("VIF %1 without the VIFE naming the code").arg(hex2(r.vif));
                return v;
            }
            const uint8_t ext = static_cast<uint8_t>(r.vife[0]) & 0x7F;
            e = findVif(code == 0x7D ? extensionFdTable() : extensionFbTable(), ext);
            firstCombinable = 1;
            if (e)
                fromEntry(v, *e, ext);
        } else if (code == 0x7C) {
            v.quantity = QStringLiteral("Plain-text unit");
            v.unit = r.unitText;
            v.rule = ValueRule::Scaled;
        } else {
            e = findVif(primaryVifTable(), code);
            if (e)
                fromEntry(v, *e, code);
            manufacturer = code == 0x7F;
        }
        if (!e && code != 0x7C && v.quantity.isEmpty()) {
            v.quantity = QStringLiteral("Unknown VIF %1").arg(hex2(r.vif));
            v.rule = ValueRule::Reserved;
        }
        if (v.rule == ValueRule::Reserved)
            notes << QStringLiteral("reserved VIF code");

        bool extension = false;
        for (int i = firstCombinable; i < r.vife.size(); ++i) {
            const uint8_t c = static_cast<uint8_t>(r.vife[i]) & 0x7F;
            if (manufacturer) {
                r.vifeTexts << QStringLiteral("manufacturer specific %1").arg(hex2(c));
                continue;
            }
            if (extension) {
                r.vifeTexts << QStringLiteral("combinable extension code %1").arg(hex2(c));
                extension = false;
                continue;
            }
            const VifeEntry* x = findVife(c);
            if (!x)
                continue;
            const QString text = QString::fromUtf8(x->text);
            switch (x->action) {
                case VifeAction::RecordError:
                    r.recordError = c;
                    if (c != 0)
                        r.invalid = true;
                    r.vifeTexts << QStringLiteral("error: ") + recordErrorName(c);
                    break;
                case VifeAction::PerUnit:
                case VifeAction::TimesUnit:
                    v.unitSuffix += QString::fromUtf8(x->unit);
                    r.vifeTexts << text;
                    break;
                case VifeAction::Exponent: {
                    const int k = x->exponent + (c - x->first);
                    v.correction += k;
                    r.vifeTexts << QStringLiteral("%1 10^%2").arg(text).arg(k);
                    break;
                }
                case VifeAction::Additive: {
                    const int k = x->exponent + (c - x->first);
                    v.correction += k;
                    v.meaning = QStringLiteral("additive correction constant");
                    r.vifeTexts << QStringLiteral("%1 10^%2").arg(text).arg(k);
                    break;
                }
                case VifeAction::DateOf:
                    v.dateOf = true;
                    v.meaning = text;
                    r.vifeTexts << text;
                    break;
                case VifeAction::DurationOf:
                    v.durationOf = true;
                    v.timeUnit = c & 0x03;
                    v.meaning = text;
                    r.vifeTexts << QStringLiteral("%1 (%2)").arg(
                        text, QString::fromLatin1(kTimeUnitName[c & 0x03]));
                    break;
                case VifeAction::CountOf:
                    v.countOf = true;
                    v.meaning = text;
                    r.vifeTexts << text;
                    break;
                case VifeAction::Extension:
                    extension = true;
                    r.vifeTexts << text;
                    break;
                case VifeAction::Manufacturer:
                    manufacturer = true;
                    r.vifeTexts << text;
                    break;
                case VifeAction::Note:
                    r.vifeTexts << text;
                    break;
                case VifeAction::Reserved:
                    r.vifeTexts << QStringLiteral("reserved VIFE %1").arg(hex2(c));
                    break;
            }
        }
        if (!v.meaning.isEmpty())
            v.quantity =
                v.quantity.isEmpty() ? v.meaning : v.quantity + QStringLiteral(", ") + v.meaning;
        return v;
    }

    static void fromEntry(Vib& v, const VifEntry& e, uint8_t code) {
        v.quantity = QString::fromUtf8(e.quantity);
        v.unit = QString::fromUtf8(e.unit);
        v.rule = e.rule;
        if (e.rule == ValueRule::Scaled)
            v.exponent = e.exponent + (code - e.first);
        if (e.rule == ValueRule::Duration || e.rule == ValueRule::LongDuration)
            v.timeUnit = code & 0x03;
        if (e.rule == ValueRule::Reserved)
            v.quantity = QStringLiteral("%1 %2").arg(v.quantity, hex2(code));
    }

    // Reads the data and turns it into the quantity the VIB names.
    void value(Record& r, const Vib& v, QStringList& notes) {
        r.quantity = v.quantity;
        const int nibble = r.dif & 0x0F;
        const int p = r.dataOffset;
        const int n = r.dataLength;
        std::optional<Number> num;

        const bool wantsDate =
            (v.rule == ValueRule::Date && !v.durationOf && !v.countOf) || v.dateOf;
        const bool integerField = nibble == 0x1 || nibble == 0x2 || nibble == 0x3 ||
                                  nibble == 0x4 || nibble == 0x6 || nibble == 0x7;
        if (wantsDate && integerField) {
            uint8_t buf[8] = {};
            lowFirst(p, n, buf);
            if (auto d = decodeDate(buf, n)) {
                r.type = d->type;
                r.valueType = ValueType::Text;
                r.value = d->text;
                r.invalid = r.invalid || d->invalid;
                if (!d->note.isEmpty())
                    notes << d->note;
                return;
            }
            notes << QStringLiteral("a date in a %1-byte field").arg(n);
        } else if (wantsDate && nibble != 0x0 && nibble != 0x8) {
            notes << QStringLiteral("a date in a %1 field")
                         .arg(QString::fromUtf8(dataField(r.dif).name));
        }

        switch (nibble) {
            case 0x0:
            case 0x8:
                r.type = nibble == 0 ? QStringLiteral("none") : QStringLiteral("selection");
                r.unit = QString();
                return;
            case 0x1:
            case 0x2:
            case 0x3:
            case 0x4:
            case 0x6:
            case 0x7: {
                const quint64 u = unsignedAt(p, n);
                const int bits = 8 * n;
                const qint64 s = bits == 64 ? static_cast<qint64>(u)
                                            : static_cast<qint64>(u << (64 - bits)) >> (64 - bits);
                r.type = QStringLiteral("int%1").arg(bits);
                r.raw = s;
                num = Number::of(s);
                break;
            }
            case 0x5: {
                const quint32 u = static_cast<quint32>(unsignedAt(p, 4));
                float f;
                std::memcpy(&f, &u, sizeof f);
                r.type = QStringLiteral("real32");
                if (!std::isfinite(f)) {
                    r.valueType = ValueType::Text;
                    r.value = std::isnan(f) ? QStringLiteral("NaN")
                                            : (f > 0 ? QStringLiteral("Infinity")
                                                     : QStringLiteral("-Infinity"));
                    r.invalid = true;
                    notes << QStringLiteral("real value not finite");
                    r.unit = unitOf(v);
                    return;
                }
                num = fromFloat(f);
                break;
            }
            case 0x9:
            case 0xA:
            case 0xB:
            case 0xC:
            case 0xE: {
                r.type = QStringLiteral("bcd%1").arg(2 * n);
                num = bcd(r, p, n, true, false, notes);
                if (!num)
                    return;
                break;
            }
            case 0xD:
                if (!variable(r, v, notes, num))
                    return;
                break;
            default:
                return;
        }
        // A number: scaled into the unit the VIB names.
        Number x = *num;
        if (v.countOf) {
            r.unit = QString();
        } else if (v.durationOf) {
            x.multiply(kTimeFactor[v.timeUnit]);
            r.unit = QStringLiteral("s");
        } else {
            switch (v.rule) {
                case ValueRule::Scaled:
                    x.scale(v.exponent);
                    break;
                case ValueRule::Duration:
                    x.multiply(kTimeFactor[v.timeUnit]);
                    break;
                case ValueRule::LongDuration:
                    if (v.timeUnit <= 1)
                        x.multiply(v.timeUnit == 0 ? 3600 : 86400);
                    break;
                default:
                    break;
            }
            x.scale(v.correction);
            r.unit = unitOf(v);
        }
        r.value = x.text();
        bool ok = false;
        const double d = r.value.toDouble(&ok);
        if (!ok || !std::isfinite(d)) {
            // Stacked correction factors can leave the range of a double, where JSON readers
            // give up: such a number goes out as text.
            r.valueType = ValueType::Text;
            r.invalid = true;
            notes << QStringLiteral("number beyond the range of a double");
            return;
        }
        r.valueType = ValueType::Number;
        r.number = d;
    }

    static QString unitOf(const Vib& v) {
        QString unit = v.unit;
        if (v.rule == ValueRule::LongDuration)
            unit = v.timeUnit <= 1
                       ? QStringLiteral("s")
                       : (v.timeUnit == 2 ? QStringLiteral("month") : QStringLiteral("year"));
        if (v.rule == ValueRule::Reserved)
            unit = QString();
        return unit + v.unitSuffix;
    }

    // BCD digits at `p` (n bytes). With `signNibble`, a top nibble F makes the value negative.
    // Digits A-F elsewhere are reported: the value is then the digits as text.
    std::optional<Number> bcd(Record& r, int p, int n, bool signNibble, bool negative,
                              QStringList& notes) {
        uint8_t buf[16] = {};
        lowFirst(p, std::min(n, 16), buf);
        QString digits;
        digits.reserve(2 * n);
        for (int i = n - 1; i >= 0; --i) {
            digits += QChar::fromLatin1("0123456789ABCDEF"[buf[i] >> 4]);
            digits += QChar::fromLatin1("0123456789ABCDEF"[buf[i] & 0x0F]);
        }
        QStringView body = digits;
        if (signNibble && !digits.isEmpty() && digits.front() == QLatin1Char('F')) {
            negative = true;
            body = body.sliced(1);
        }
        qint64 v = 0;
        for (QChar ch : body) {
            if (ch > QLatin1Char('9')) {
                r.valueType = ValueType::Text;
                r.value = digits;
                r.invalid = true;
                notes << QStringLiteral("BCD with digits A-F");
                return std::nullopt;
            }
            v = v * 10 + (ch.unicode() - u'0');
        }
        r.raw = negative ? -v : v;
        return Number::of(negative ? -v : v);
    }

    // A variable-length value: text, BCD or binary by its LVAR.
    bool variable(Record& r, const Vib& v, QStringList& notes, std::optional<Number>& num) {
        const int lvar = r.lvar;
        const int p = r.dataOffset;
        const int n = r.dataLength;
        if (lvar <= 0xBF) {
            r.type = QStringLiteral("text");
            r.valueType = ValueType::Text;
            r.value = latin1Text(p, n, !t_.highByteFirst);
            r.unit = unitOf(v);
            return false;
        }
        if (lvar >= 0xC0 && lvar <= 0xD9) {
            r.type = QStringLiteral("bcd%1").arg(2 * n);
            num = bcd(r, p, n, false, lvar >= 0xD0, notes);
            if (!num)
                r.unit = unitOf(v);
            return num.has_value();
        }
        r.type = QStringLiteral("binary%1").arg(8 * n);
        if (n <= 8 && n > 0) {
            const quint64 u = unsignedAt(p, n);
            if (u <= static_cast<quint64>(std::numeric_limits<qint64>::max())) {
                r.raw = static_cast<qint64>(u);
                num = Number::of(static_cast<qint64>(u));
                return true;
            }
        }
        r.valueType = ValueType::Text;
        uint8_t buf[64] = {};
        lowFirst(p, std::min(n, 64), buf);
        QByteArray msbFirst;
        for (int i = n - 1; i >= 0; --i)
            msbFirst.append(char(buf[i]));
        r.value = hexBytes(msbFirst);
        r.unit = unitOf(v);
        return false;
    }

    QByteArrayView in_;
    Telegram& t_;
};

}  // namespace

QString byteRoleName(ByteRole role) {
    switch (role) {
        case ByteRole::Unknown:
            return QStringLiteral("unknown");
        case ByteRole::Start:
            return QStringLiteral("start");
        case ByteRole::Length:
            return QStringLiteral("length");
        case ByteRole::Control:
            return QStringLiteral("C field");
        case ByteRole::Address:
            return QStringLiteral("A field");
        case ByteRole::Ci:
            return QStringLiteral("CI field");
        case ByteRole::Checksum:
            return QStringLiteral("check sum");
        case ByteRole::Stop:
            return QStringLiteral("stop");
        case ByteRole::Ack:
            return QStringLiteral("ACK");
        case ByteRole::HeaderId:
            return QStringLiteral("identification number");
        case ByteRole::HeaderManufacturer:
            return QStringLiteral("manufacturer");
        case ByteRole::HeaderVersion:
            return QStringLiteral("version");
        case ByteRole::HeaderMedium:
            return QStringLiteral("medium");
        case ByteRole::HeaderAccess:
            return QStringLiteral("access number");
        case ByteRole::HeaderStatus:
            return QStringLiteral("status");
        case ByteRole::HeaderSignature:
            return QStringLiteral("signature");
        case ByteRole::FixedMediumUnit:
            return QStringLiteral("medium and units");
        case ByteRole::Dif:
            return QStringLiteral("DIF");
        case ByteRole::Dife:
            return QStringLiteral("DIFE");
        case ByteRole::Vif:
            return QStringLiteral("VIF");
        case ByteRole::Vife:
            return QStringLiteral("VIFE");
        case ByteRole::UnitText:
            return QStringLiteral("unit text");
        case ByteRole::Lvar:
            return QStringLiteral("LVAR");
        case ByteRole::Data:
            return QStringLiteral("data");
        case ByteRole::Filler:
            return QStringLiteral("idle filler");
        case ByteRole::ManufacturerData:
            return QStringLiteral("manufacturer data");
        case ByteRole::ApplicationError:
            return QStringLiteral("application error");
        case ByteRole::Undecoded:
            return QStringLiteral("not decoded");
        case ByteRole::Trailing:
            return QStringLiteral("after the frame");
    }
    return QStringLiteral("unknown");
}

QString functionName(Function function) {
    switch (function) {
        case Function::Instantaneous:
            return QStringLiteral("instantaneous");
        case Function::Maximum:
            return QStringLiteral("maximum");
        case Function::Minimum:
            return QStringLiteral("minimum");
        case Function::Error:
            return QStringLiteral("error");
        case Function::Manufacturer:
            return QStringLiteral("manufacturer");
        case Function::More:
            return QStringLiteral("more");
    }
    return QStringLiteral("instantaneous");
}

Telegram decodeTelegram(QByteArrayView bytes) {
    Telegram t;
    Decoder(bytes, t).frame();
    return t;
}

Telegram decodeUserData(QByteArrayView bytes) {
    Telegram t;
    Decoder(bytes, t).userData();
    return t;
}

ByteRole byteRole(const Telegram& telegram, int offset) {
    if (offset < 0 || offset >= telegram.roles.size())
        return ByteRole::Unknown;
    return static_cast<ByteRole>(telegram.roles[offset]);
}

std::vector<ByteRole> byteRoles(const Telegram& telegram) {
    std::vector<ByteRole> out;
    out.reserve(telegram.roles.size());
    for (char c : telegram.roles)
        out.push_back(static_cast<ByteRole>(c));
    return out;
}

QString decimalText(qint64 mantissa, int exponent) {
    if (mantissa == 0)
        return QStringLiteral("0");
    const bool negative = mantissa < 0;
    quint64 m = negative ? 0 - static_cast<quint64>(mantissa) : static_cast<quint64>(mantissa);
    while (m % 10 == 0) {
        m /= 10;
        ++exponent;
    }
    QString digits = QString::number(m);
    QString out;
    const int nd = static_cast<int>(digits.size());
    if (exponent >= 0) {
        if (nd + exponent <= 21)
            out = digits + QString(exponent, QLatin1Char('0'));
        else
            out = digits.left(1) + (nd > 1 ? QStringLiteral(".") + digits.mid(1) : QString()) +
                  QStringLiteral("e+%1").arg(exponent + nd - 1);
    } else {
        const int point = nd + exponent;  // digits before the point
        if (point > 0)
            out = digits.left(point) + QLatin1Char('.') + digits.mid(point);
        else if (point > -20)
            out = QStringLiteral("0.") + QString(-point, QLatin1Char('0')) + digits;
        else
            out = digits.left(1) + (nd > 1 ? QStringLiteral(".") + digits.mid(1) : QString()) +
                  QStringLiteral("e%1").arg(exponent + nd - 1);
    }
    return negative ? QLatin1Char('-') + out : out;
}

}  // namespace trelmo::mbus::inline records
