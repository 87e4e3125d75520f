// The core's helpers: integer conversion and its message, the code page, the error sink, the
// clock.
#include <gtest/gtest.h>

#include "core/Codec.h"
#include "core/Convert.h"
#include "core/Guard.h"
#include "core/LocaleText.h"

using namespace trelmo;

TEST(Convert, AcceptsDecimalWithSignAndHexBehindZeroX) {
    EXPECT_EQ(StrToInt("9600"), 9600);
    EXPECT_EQ(StrToInt("  -12"), -12);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("0x1F"), 31);
    EXPECT_EQ(StrToInt("0X1f"), 31);
    EXPECT_EQ(StrToInt("0x0"), 0);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("0xFFFFFFFF"), -1);
}

TEST(Convert, RefusesWithTheQuotedText) {
    // Only a text of more than two characters that starts with "0x" or "0X" is hexadecimal:
    // "$" is no prefix, and a sign or a blank before "0x" makes the text no number.
    for (const char* bad : {"",           "fast",        "12 ",   "1.5",   "0x",  "0X",  "-",
                            "2147483648", "0x1FFFFFFFF", "٣",     "$1F",   "$ff", "$",   "-$1F",
                            " $10",       "0x$1F",       "-0x1F", " 0x1F", "1F",  "0x 1"}) {
        try {
            StrToInt(QString::fromUtf8(bad));
            FAIL() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(
                e.message(),
                QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(bad)));
        }
    }
    EXPECT_EQ(StrToIntDef("fast", 9600), 9600);
    EXPECT_EQ(StrToIntDef("$1F", 7), 7);
    EXPECT_EQ(StrToIntDef("0x1F", 7), 31);
    int32_t value = 5;
    EXPECT_FALSE(TryStrToInt("$1F", &value));
    EXPECT_EQ(value, 5);
}

TEST(Codec, EveryByteRoundTrips) {
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(codec::toByte(codec::toChar(uint8_t(b))), b) << b;
    EXPECT_EQ(codec::toChar(0x80), QChar(0x20AC));
    EXPECT_EQ(codec::toByte(QChar(0x4E2D)), '?');
    const QByteArray all = [] {
        QByteArray a;
        for (int b = 0; b < 256; ++b)
            a.append(char(b));
        return a;
    }();
    EXPECT_EQ(codec::fromUnicode(codec::toUnicode(all)), all);
}

// Below the windows, errors go to one sink; the application connects it to the error box.
TEST(ErrorDisplay, ErrorsReachTheConnectedSink) {
    QStringList seen;
    setErrorSink([&](const QString& message) { seen << message; });
    runGuarded([] { throw std::runtime_error("boom"); });
    runGuarded([] { throw 42; });
    setErrorSink({});  // back to the log
    EXPECT_EQ(seen, QStringList({"boom", "Unknown error"}));
}

TEST(Clock, OverrideFixesTheMoment) {
    setClockOverride([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)); });
    EXPECT_EQ(now().time(), QTime(9, 5, 3));
    EXPECT_FALSE(currentTimeText().isEmpty());
    setClockOverride({});
    EXPECT_NE(now().date().year(), 0);
}
