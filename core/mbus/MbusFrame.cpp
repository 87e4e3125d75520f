#include "core/mbus/MbusFrame.h"

#include <algorithm>

#include "core/Convert.h"

namespace trelmo::mbus::inline records {

namespace {

uint8_t at(QByteArrayView bytes, qsizetype i) {
    return static_cast<uint8_t>(bytes[i]);
}

QString hex2(int value) {
    return QStringLiteral("0x") +
           QString::number(value & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

bool isBlank(QChar ch) {
    return ch == QLatin1Char(' ') || ch == QLatin1Char('\t') || ch == QLatin1Char('\r') ||
           ch == QLatin1Char('\n');
}

QString bytesAfter(qsizetype count) {
    return count == 1 ? QStringLiteral("1 byte after the frame")
                      : QStringLiteral("%1 bytes after the frame").arg(count);
}

}  // namespace

QString frameTypeName(FrameType type) {
    switch (type) {
        case FrameType::Ack:
            return QStringLiteral("ack");
        case FrameType::Short:
            return QStringLiteral("short");
        case FrameType::Control:
            return QStringLiteral("control");
        case FrameType::Long:
            return QStringLiteral("long");
        case FrameType::None:
            break;
    }
    return QStringLiteral("none");
}

uint8_t checksum(QByteArrayView bytes) {
    unsigned sum = 0;
    for (char b : bytes)
        sum += static_cast<uint8_t>(b);
    return static_cast<uint8_t>(sum & 0xFF);
}

FrameParse parseFrame(QByteArrayView bytes) {
    FrameParse out;
    Frame& f = out.frame;
    auto error = [&out](qsizetype offset, QString reason) {
        out.errors.push_back({static_cast<int>(offset), std::move(reason)});
    };
    const qsizetype size = bytes.size();
    if (size == 0) {
        error(0, QStringLiteral("empty input"));
        return out;
    }
    const uint8_t start = at(bytes, 0);
    if (start == kAck) {
        f.type = FrameType::Ack;
        f.length = 1;
        f.available = 1;
        f.checksumOk = true;
        f.stopOk = true;
        f.lengthOk = size == 1;
        if (size > 1)
            error(1, bytesAfter(size - 1));
        return out;
    }
    if (start == kShortStart) {
        f.type = FrameType::Short;
        f.length = 5;
        f.available = static_cast<int>(std::min<qsizetype>(size, 5));
        if (size > 1)
            f.c = at(bytes, 1);
        if (size > 2)
            f.a = at(bytes, 2);
        f.computedSum = checksum(bytes.sliced(1, std::min<qsizetype>(size, 3) - 1));
        if (size > 3) {
            f.checksumOffset = 3;
            f.checksum = at(bytes, 3);
            f.checksumOk = f.checksum == f.computedSum;
            if (!f.checksumOk)
                error(3, QStringLiteral("check sum %1, computed %2")
                             .arg(hex2(f.checksum), hex2(f.computedSum)));
        }
        if (size > 4) {
            f.stopOk = at(bytes, 4) == kStop;
            if (!f.stopOk)
                error(4, QStringLiteral("stop byte %1 instead of 0x16").arg(hex2(at(bytes, 4))));
        }
        if (size < 5)
            error(size, QStringLiteral("frame cut: %1 of 5 bytes").arg(size));
        else if (size > 5)
            error(5, bytesAfter(size - 5));
        f.lengthOk = size == 5;
        return out;
    }
    if (start != kLongStart) {
        error(0, QStringLiteral("not an M-Bus frame: start byte %1").arg(hex2(start)));
        return out;
    }
    if (size < 4) {
        f.type = FrameType::Long;
        f.available = static_cast<int>(size);
        if (size > 1)
            f.lField = at(bytes, 1);
        if (size > 2 && at(bytes, 1) != at(bytes, 2))
            error(2, QStringLiteral("L fields differ: %1 and %2")
                         .arg(hex2(at(bytes, 1)), hex2(at(bytes, 2))));
        f.length = f.lField >= 0 ? f.lField + 6 : 0;
        error(size, QStringLiteral("frame cut inside its first four bytes"));
        return out;
    }
    const int l = at(bytes, 1);
    f.lField = l;
    bool lengthFieldsOk = true;
    if (at(bytes, 2) != l) {
        lengthFieldsOk = false;
        error(2, QStringLiteral("L fields differ: %1 and %2").arg(hex2(l), hex2(at(bytes, 2))));
    }
    if (at(bytes, 3) != kLongStart) {
        lengthFieldsOk = false;
        error(3, QStringLiteral("second start byte %1 instead of 0x68").arg(hex2(at(bytes, 3))));
    }
    f.type = l == 3 ? FrameType::Control : FrameType::Long;
    f.length = l + 6;
    f.available = static_cast<int>(std::min<qsizetype>(size, f.length));
    if (l < 3)
        error(1, QStringLiteral("L field %1 is less than 3 (C, A and CI)").arg(l));
    const qsizetype dataEnd = std::min<qsizetype>(4 + l, size);  // one past the last C..data
    if (l >= 1 && size > 4)
        f.c = at(bytes, 4);
    if (l >= 2 && size > 5)
        f.a = at(bytes, 5);
    if (l >= 3 && size > 6) {
        f.ci = at(bytes, 6);
        f.userOffset = 7;
        f.userEnd = static_cast<int>(std::max<qsizetype>(dataEnd, 7));
    }
    f.computedSum = checksum(bytes.sliced(4, std::max<qsizetype>(dataEnd - 4, 0)));
    if (size > 4 + l) {
        f.checksumOffset = 4 + l;
        f.checksum = at(bytes, 4 + l);
        f.checksumOk = f.checksum == f.computedSum;
        if (!f.checksumOk)
            error(4 + l, QStringLiteral("check sum %1, computed %2")
                             .arg(hex2(f.checksum), hex2(f.computedSum)));
    }
    if (size > 5 + l) {
        f.stopOk = at(bytes, 5 + l) == kStop;
        if (!f.stopOk)
            error(5 + l,
                  QStringLiteral("stop byte %1 instead of 0x16").arg(hex2(at(bytes, 5 + l))));
    }
    if (size < f.length)
        error(size, QStringLiteral("frame cut: %1 of %2 bytes").arg(size).arg(f.length));
    else if (size > f.length)
        error(f.length, bytesAfter(size - f.length));
    f.lengthOk = lengthFieldsOk && l >= 3 && size == f.length;
    return out;
}

QByteArray shortFrame(uint8_t c, uint8_t address) {
    QByteArray out;
    out.reserve(5);
    out.append(char(kShortStart));
    out.append(char(c));
    out.append(char(address));
    out.append(char((c + address) & 0xFF));
    out.append(char(kStop));
    return out;
}

QByteArray longFrame(uint8_t c, uint8_t address, uint8_t ci, QByteArrayView data) {
    const int l = static_cast<int>(3 + data.size());
    QByteArray body;
    body.reserve(l);
    body.append(char(c));
    body.append(char(address));
    body.append(char(ci));
    body.append(data);
    QByteArray out;
    out.reserve(l + 6);
    out.append(char(kLongStart));
    out.append(char(l & 0xFF));
    out.append(char(l & 0xFF));
    out.append(char(kLongStart));
    out.append(body);
    out.append(char(checksum(body)));
    out.append(char(kStop));
    return out;
}

QByteArray sndNke(uint8_t address) {
    return shortFrame(0x40, address);
}

QByteArray reqUd2(uint8_t address, bool fcb) {
    return shortFrame(fcb ? 0x7B : 0x5B, address);
}

QByteArray applicationReset(uint8_t address) {
    return longFrame(0x53, address, 0x50, {});
}

Result<SecondaryAddress> parseSecondaryAddress(QStringView text) {
    QString digits;
    for (QChar ch : text) {
        if (isBlank(ch))
            continue;
        if (hexDigitValue(ch) < 0)
            return Result<SecondaryAddress>::failure(
                QStringLiteral("'%1' is not a hex digit").arg(ch));
        digits += ch.toUpper();
    }
    if (digits.size() != 8 && digits.size() != 16)
        return Result<SecondaryAddress>::failure(
            QStringLiteral("a secondary address has 16 hex digits (or 8 for the id alone), not "
                           "%1")
                .arg(digits.size()));
    SecondaryAddress a;
    a.id = digits.left(8);
    for (QChar ch : a.id)
        if (ch != QLatin1Char('F') && (ch < QLatin1Char('0') || ch > QLatin1Char('9')))
            return Result<SecondaryAddress>::failure(
                QStringLiteral("identification digit '%1' is neither 0-9 nor the wildcard F")
                    .arg(ch));
    if (digits.size() == 16) {
        a.manufacturer = static_cast<uint16_t>(digits.mid(8, 4).toUInt(nullptr, 16));
        a.version = static_cast<uint8_t>(digits.mid(12, 2).toUInt(nullptr, 16));
        a.medium = static_cast<uint8_t>(digits.mid(14, 2).toUInt(nullptr, 16));
    }
    return Result<SecondaryAddress>::success(a);
}

QString secondaryAddressText(const SecondaryAddress& address) {
    return address.id +
           QString::number(address.manufacturer, 16).toUpper().rightJustified(4, QLatin1Char('0')) +
           QString::number(address.version, 16).toUpper().rightJustified(2, QLatin1Char('0')) +
           QString::number(address.medium, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

bool matchesSelection(const SecondaryAddress& mask, const SecondaryAddress& meter) {
    if (mask.id.size() != 8 || meter.id.size() != 8)
        return false;
    for (int i = 0; i < 8; ++i)
        if (mask.id[i] != QLatin1Char('F') && mask.id[i] != meter.id[i])
            return false;
    return (mask.manufacturer == 0xFFFF || mask.manufacturer == meter.manufacturer) &&
           (mask.version == 0xFF || mask.version == meter.version) &&
           (mask.medium == 0xFF || mask.medium == meter.medium);
}

QByteArray selectSecondary(const SecondaryAddress& mask) {
    int d[8];
    for (int i = 0; i < 8; ++i)
        d[i] = i < mask.id.size() ? std::max(hexDigitValue(mask.id[i]), 0) : 0xF;
    QByteArray data;
    data.reserve(8);
    for (int i = 3; i >= 0; --i)
        data.append(char((d[2 * i] << 4) | d[2 * i + 1]));
    data.append(char(mask.manufacturer & 0xFF));
    data.append(char(mask.manufacturer >> 8));
    data.append(char(mask.version));
    data.append(char(mask.medium));
    return longFrame(0x53, kSelectedAddress, 0x52, data);
}

ReplyCheck checkReply(QByteArrayView bytes) {
    const qsizetype size = bytes.size();
    if (size == 0)
        return {ReplyKind::Nothing, {}};
    const uint8_t start = at(bytes, 0);
    if (start == kAck) {
        if (size == 1)
            return {ReplyKind::Ack, {}};
        return {ReplyKind::Garbled,
                QStringLiteral("%1 bytes where one E5 was expected: several answers at once")
                    .arg(size)};
    }
    auto garbled = [](QString why) { return ReplyCheck{ReplyKind::Garbled, std::move(why)}; };
    if (start == kShortStart) {
        if (size < 5)
            return {ReplyKind::Incomplete, {}};
        if (size > 5)
            return garbled(QStringLiteral("short frame with %1 bytes after it").arg(size - 5));
        if (at(bytes, 3) != uint8_t(at(bytes, 1) + at(bytes, 2)) || at(bytes, 4) != kStop)
            return garbled(QStringLiteral("short frame with a wrong check sum or stop byte"));
        return {ReplyKind::Frame, {}};
    }
    if (start != kLongStart)
        return garbled(QStringLiteral("unknown start byte %1").arg(hex2(start)));
    if (size >= 3 && at(bytes, 1) != at(bytes, 2))
        return garbled(QStringLiteral("L fields differ"));
    if (size >= 4 && at(bytes, 3) != kLongStart)
        return garbled(QStringLiteral("second start byte is not 0x68"));
    if (size >= 2 && at(bytes, 1) < 3)
        return garbled(QStringLiteral("L field less than 3"));
    if (size < 4)
        return {ReplyKind::Incomplete, {}};
    const int length = at(bytes, 1) + 6;
    if (size < length)
        return {ReplyKind::Incomplete, {}};
    if (size > length)
        return garbled(QStringLiteral("%1 bytes after a %2-byte frame: overlapping answers")
                           .arg(size - length)
                           .arg(length));
    if (checksum(bytes.sliced(4, length - 6)) != at(bytes, length - 2))
        return garbled(QStringLiteral("wrong check sum: overlapping answers or a line fault"));
    if (at(bytes, length - 1) != kStop)
        return garbled(QStringLiteral("no stop byte"));
    return {ReplyKind::Frame, {}};
}

bool replyComplete(QByteArrayView bytes) {
    const ReplyKind k = checkReply(bytes).kind;
    return k == ReplyKind::Ack || k == ReplyKind::Frame || k == ReplyKind::Garbled;
}

int defaultReplyTimeoutMs(int baud) {
    if (baud <= 0)
        baud = 2400;
    return (330 * 1000 + baud - 1) / baud + 50;
}

Result<QByteArray> parseHexLine(QStringView line) {
    QByteArray out;
    out.reserve(line.size() / 2);
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        const qsizetype groupStart = i;
        while (i < n && !isBlank(line[i])) {
            if (hexDigitValue(line[i]) < 0)
                return Result<QByteArray>::failure(
                    QStringLiteral("'%1' at column %2 is not a hex digit").arg(line[i]).arg(i),
                    static_cast<int>(i));
            ++i;
        }
        const qsizetype len = i - groupStart;
        if (len % 2 != 0)
            return Result<QByteArray>::failure(
                QStringLiteral("odd number of hex digits in '%1' at column %2")
                    .arg(line.sliced(groupStart, len).toString())
                    .arg(groupStart),
                static_cast<int>(groupStart));
        for (qsizetype k = groupStart; k < i; k += 2)
            out.append(char((hexDigitValue(line[k]) << 4) | hexDigitValue(line[k + 1])));
    }
    return Result<QByteArray>::success(out);
}

QString toHex(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

}  // namespace trelmo::mbus::inline records
