#include "terminal/CommandString.h"

#include "app/Codec.h"

namespace trelmo {
namespace {

// Value of an ASCII hexadecimal digit, or -1. Only the ASCII digits count: other scripts'
// digits and full-width letters are not hexadecimal digits here.
int hexValue(QChar ch) {
    const char16_t u = ch.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

}  // namespace

std::optional<QByteArray> parseCommandString(QStringView command) {
    QByteArray bytes;
    bytes.reserve(command.size());
    const qsizetype n = command.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar ch = command[i];
        if (ch == u'#') {
            if (n < i + 3)
                return std::nullopt;
            const int high = hexValue(command[i + 1]);
            const int low = hexValue(command[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes.append(static_cast<char>(high * 16 + low));
            i += 3;
        } else if (ch.isHighSurrogate() && i + 1 < n && command[i + 1].isLowSurrogate()) {
            bytes.append('?');
            i += 2;
        } else {
            bytes.append(static_cast<char>(codec::toByte(ch)));
            i += 1;
        }
    }
    return bytes;
}

}  // namespace trelmo
