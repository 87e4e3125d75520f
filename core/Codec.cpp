#include "core/Codec.h"

#include <array>

namespace trelmo::codec {
namespace {

// 0x80..0x9F of Windows-1252. The five unassigned codes map to the C1 control of the
// same value, as Windows itself converts them, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Every byte's character, so decoding a text is one table read per byte.
constexpr std::array<char16_t, 256> kChars = [] {
    std::array<char16_t, 256> chars{};
    for (size_t b = 0; b < chars.size(); ++b)
        chars[b] = (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : static_cast<char16_t>(b);
    return chars;
}();

}  // namespace

QChar toChar(uint8_t byte) {
    return QChar(kChars[byte]);
}

uint8_t toByte(QChar ch) {
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<uint8_t>(u);
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == u)
            return static_cast<uint8_t>(0x80 + i);
    return '?';
}

QString toUnicode(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const auto* src = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* end = src + bytes.size();
    while (src != end)
        *dst++ = kChars[*src++];
    return out;
}

QByteArray fromUnicode(QStringView text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    char* dst = out.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        dst[i] = static_cast<char>(toByte(text[i]));
    return out;
}

}  // namespace trelmo::codec
