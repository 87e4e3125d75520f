#include "core/commands/CommandString.h"

#include "core/Codec.h"
#include "core/Convert.h"

namespace trelmo {

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
            const int high = hexDigitValue(command[i + 1]);
            const int low = hexDigitValue(command[i + 2]);
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
