// libFuzzer target: the command-line parser. Any bytes are read as Windows-1252 text, as a
// typed or placed command would be. Checked on every input:
// - the parser accepts or refuses, and agrees with a byte-level reading of the same input;
// - accepted bytes written back as "#hh" items (upper and lower case) parse to the same bytes;
// - an input without "#" parses to the input's own code-page bytes;
// - the same bytes read as UTF-16 text are parsed without fault and round-trip the same way.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "core/Codec.h"
#include "core/commands/CommandString.h"
#include "fuzz/FuzzCheck.h"

namespace {

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The same rule on the raw bytes: every byte of the input is its own code-page character.
std::optional<QByteArray> referenceParse(const uint8_t* data, size_t size) {
    QByteArray out;
    size_t i = 0;
    while (i < size) {
        if (data[i] != '#') {
            out.append(static_cast<char>(data[i]));
            ++i;
            continue;
        }
        if (i + 2 >= size)
            return std::nullopt;
        const int high = hexDigit(data[i + 1]);
        const int low = hexDigit(data[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.append(static_cast<char>(high * 16 + low));
        i += 3;
    }
    return out;
}

// Every byte as a "#hh" item; `lower` picks the digit case.
QString escaped(const QByteArray& bytes, bool lower) {
    const char* const digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    QString text(bytes.size() * 3, Qt::Uninitialized);
    QChar* out = text.data();
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        *out++ = QLatin1Char('#');
        *out++ = QLatin1Char(digits[b >> 4]);
        *out++ = QLatin1Char(digits[b & 15]);
    }
    return text;
}

void checkRoundTrip(const QByteArray& bytes, bool lower) {
    const std::optional<QByteArray> again = trelmo::parseCommandString(escaped(bytes, lower));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = trelmo::codec::toUnicode(raw);
    FUZZ_CHECK(text.size() == static_cast<qsizetype>(size));

    const std::optional<QByteArray> parsed = trelmo::parseCommandString(text);
    const std::optional<QByteArray> expected = referenceParse(data, size);
    FUZZ_CHECK(parsed.has_value() == expected.has_value());
    if (parsed) {
        FUZZ_CHECK(*parsed == *expected);
        FUZZ_CHECK(parsed->size() <= text.size());
        checkRoundTrip(*parsed, (size & 1) != 0);
    }
    if (std::memchr(data, '#', size) == nullptr) {
        FUZZ_CHECK(parsed.has_value());
        FUZZ_CHECK(*parsed == trelmo::codec::fromUnicode(text));
        FUZZ_CHECK(*parsed == raw.toByteArray());
    }

    // The same bytes as UTF-16 text: characters outside the code page and surrogate pairs.
    // Copied as units, unpaired surrogates kept.
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    const QString wide(reinterpret_cast<const QChar*>(units.data()),
                       static_cast<qsizetype>(units.size()));
    const std::optional<QByteArray> wideParsed = trelmo::parseCommandString(wide);
    if (wideParsed) {
        FUZZ_CHECK(wideParsed->size() <= wide.size());
        checkRoundTrip(*wideParsed, false);
    } else {
        FUZZ_CHECK(wide.contains(QLatin1Char('#')));
    }
    return 0;
}
