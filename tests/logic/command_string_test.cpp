// Command strings: "#" and two hexadecimal digits for a byte, every other character for itself.
#include <gtest/gtest.h>

#include "core/Codec.h"
#include "core/commands/CommandString.h"
#include "tests/common/Bytes.h"

using namespace trelmo;
using trelmo::test::bytesOf;

namespace {

// Parses and fails the test when the string is refused.
QByteArray parsed(const QString& command) {
    const auto bytes = parseCommandString(command);
    EXPECT_TRUE(bytes.has_value()) << command.toStdString();
    return bytes.value_or(QByteArray("<refused>"));
}

}  // namespace

TEST(CommandString, EscapesAndLiteralsGiveTheirBytes) {
    EXPECT_EQ(parsed("AT#0D#0A"), bytesOf({0x41, 0x54, 0x0D, 0x0A}));
    EXPECT_EQ(parsed("#7e"), bytesOf({0x7E}));
    EXPECT_EQ(parsed("#7E"), bytesOf({0x7E}));
    EXPECT_EQ(parsed("#00"), bytesOf({0x00}));
    EXPECT_EQ(parsed("#23"), bytesOf({'#'}));
    EXPECT_EQ(parsed("ab#41"), bytesOf({0x61, 0x62, 0x41}));
    EXPECT_EQ(parsed("#fF#Aa#09"), bytesOf({0xFF, 0xAA, 0x09}));
    EXPECT_EQ(parsed("#2323"), bytesOf({'#', '2', '3'}));
    // Nothing is added at the end: no terminator, CR or LF.
    EXPECT_EQ(parsed("AT"), QByteArray("AT"));
    EXPECT_EQ(parsed("01,02"), QByteArray("01,02"));
    EXPECT_EQ(parsed(""), QByteArray());
}

TEST(CommandString, EveryEscapeValueRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        const QString upper = QStringLiteral("#%1").arg(b, 2, 16, QChar('0')).toUpper();
        const QString lower = upper.toLower();
        EXPECT_EQ(parsed(upper), bytesOf({b})) << upper.toStdString();
        EXPECT_EQ(parsed(lower), bytesOf({b})) << lower.toStdString();
    }
}

TEST(CommandString, OtherCharactersUseTheWindows1252Byte) {
    // Euro sign is 0x80, e-acute 0xE9, a character outside the code page becomes '?'.
    EXPECT_EQ(parsed(QStringLiteral("\u20AC\u00E9\u4E2D")), bytesOf({0x80, 0xE9, '?'}));
    // A character outside the Basic Multilingual Plane is one character: one '?'.
    EXPECT_EQ(parsed(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                       "b")),
              QByteArray("a?b"));
    // A NUL and control characters typed into the line pass through as themselves.
    EXPECT_EQ(parsed(QString(QChar(0)) + QChar(9)), bytesOf({0, 9}));
}

TEST(CommandString, HashWithoutTwoHexDigitsIsRefused) {
    for (const char* bad : {"#4", "abc#", "#", "#0", "AT#0D#0", "#G0", "#0G", "#zz", "# 1", "#1 ",
                            "#-1", "#+F", "#0x", "##00", "ab#4#41"}) {
        EXPECT_FALSE(parseCommandString(QString::fromLatin1(bad)).has_value()) << bad;
    }
    // Digits of other scripts and full-width letters are not hexadecimal digits.
    EXPECT_FALSE(parseCommandString(QStringLiteral("#\u0663\u0661")).has_value());
    EXPECT_FALSE(parseCommandString(QStringLiteral("#\uFF21\uFF21")).has_value());
    EXPECT_EQ(kWrongSendString, QStringLiteral("Wrong send string. Please correct it"));
}

TEST(CommandString, LongCommandsAreParsedInFull) {
    const QString plain1024(1024, QChar('x'));
    EXPECT_EQ(parsed(plain1024), QByteArray(1024, 'x'));

    // 5000 characters mixing literals and escapes: nothing is cut at 1024.
    QString mixed;
    QByteArray expected;
    for (int i = 0; i < 1000; ++i) {
        const char letter = static_cast<char>('a' + i % 26);
        mixed += QChar(letter) + QStringLiteral("#%1").arg(i % 256, 2, 16, QChar('0')) + QChar('Z');
        expected.append(letter).append(static_cast<char>(i % 256)).append('Z');
    }
    ASSERT_EQ(mixed.size(), 5000);
    EXPECT_EQ(parsed(mixed), expected);

    const QString plain5000(5000, QChar('Z'));
    EXPECT_EQ(parsed(plain5000), QByteArray(5000, 'Z'));
    // A bad escape at the very end of a long command still refuses the whole command.
    EXPECT_FALSE(parseCommandString(plain5000 + QStringLiteral("#4")).has_value());
}
