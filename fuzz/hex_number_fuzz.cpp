// libFuzzer target: the M-Bus field reader that turns up to eight hex characters into a
// number. Any text, read both as Windows-1252 bytes and as UTF-16 units. Checked on every
// input: a text whose first eight characters (or all, when shorter) are ASCII hex digits
// gives the number computed here; any other text fails with the program's conversion error
// naming the first character that is not a hex digit, and with no other exception.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "core/Codec.h"
#include "core/Convert.h"
#include "core/mbus/MbusTelegram.h"
#include "fuzz/FuzzCheck.h"

namespace {

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

void check(const QString& text) {
    // The reference: the characters are weighed 16^7 down to 16^0 from the first one.
    std::optional<uint32_t> expected = 0;
    qsizetype bad = -1;
    const qsizetype n = std::min<qsizetype>(8, text.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int d = hexDigit(text[i].unicode());
        if (d < 0) {
            expected.reset();
            bad = i;
            break;
        }
        *expected += static_cast<uint32_t>(d) << (4 * (7 - i));
    }

    try {
        const uint32_t value = trelmo::mbus::hexTextToNumber(text);
        FUZZ_CHECK(expected.has_value());
        FUZZ_CHECK(value == *expected);
    } catch (const trelmo::EConvertError& e) {
        FUZZ_CHECK(!expected.has_value());
        // Compared as the error box shows it: the UTF-8 text up to its first NUL (a lone
        // surrogate is replaced there).
        const QByteArray full =
            QStringLiteral("'%1' is not a valid integer value").arg(text.mid(bad, 1)).toUtf8();
        FUZZ_CHECK(e.message() == QString::fromUtf8(full.constData()));
    }
    // Any other exception escapes and is reported by libFuzzer as a crash.
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(trelmo::codec::toUnicode(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))));

    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    check(QString(reinterpret_cast<const QChar*>(units.data()),
                  static_cast<qsizetype>(units.size())));
    return 0;
}
