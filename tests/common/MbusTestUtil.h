#pragma once
// Small helpers shared by the M-Bus tests.

#include <QByteArray>
#include <QString>
#include <ostream>

#include "core/mbus/MbusResult.h"
#include "tests/common/Clock.h"
#include "tests/common/QtPrint.h"

namespace trelmo::test {

// "68 05 05 68" -> the bytes.
inline QByteArray hexBytes(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The bytes as "68 05 05 68" (upper case), for readable failure output.
inline QString spaced(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The bytes a logic step made, as spaced() shows them, or "nothing: " and what it said
// instead; a comparison with the expected bytes then fails with the messages in view.
inline QString made(const mbus::Result<QByteArray>& result) {
    if (result)
        return spaced(*result);
    return QStringLiteral("nothing: ") + result.messages().join(QStringLiteral(" | "));
}

}  // namespace trelmo::test
