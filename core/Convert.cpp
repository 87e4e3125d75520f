#include "core/Convert.h"

namespace trelmo {

EConvertError::EConvertError(const QString& message) : std::runtime_error(message.toStdString()) {}

int hexDigitValue(QChar ch) {
    const char16_t u = ch.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

bool TryStrToInt(const QString& text, int32_t* value) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    bool negative = false;
    int base = 10;
    if (n > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X'))) {
        // Hexadecimal only as the whole text: no blank or sign before the prefix.
        base = 16;
        i = 2;
    } else {
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            negative = text[i] == QLatin1Char('-');
            ++i;
        }
    }
    if (i >= n)
        return false;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return false;
        magnitude = magnitude * base + digit;
        // Hexadecimal may fill all 32 bits (as "0xFFFFFFFF" = -1); decimal may not.
        const int64_t limit = base == 16 ? 0xFFFFFFFFLL : (negative ? 2147483648LL : 2147483647LL);
        if (magnitude > limit)
            return false;
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (value)
        *value = static_cast<int32_t>(static_cast<uint32_t>(result & 0xFFFFFFFFLL));
    return true;
}

int32_t StrToInt(const QString& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, &value))
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

int32_t StrToIntDef(const QString& text, int32_t fallback) {
    int32_t value = 0;
    return TryStrToInt(text, &value) ? value : fallback;
}

}  // namespace trelmo
