#include "core/mbus/MbusTelegram.h"

#include "core/Convert.h"
#include "core/LocaleText.h"

namespace trelmo::mbus {

namespace {

char b(int v) {
    return static_cast<char>(static_cast<uint8_t>(v));
}

QByteArray finish(QByteArray frame, int sumFrom) {
    frame.append(b(byteSum(frame.mid(sumFrom))));
    frame.append(b(0x16));
    return frame;
}

bool allDigits(const QString& text) {
    for (QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return false;
    }
    return true;
}

}  // namespace

void TelegramState::create() {
    Mfr_code[0] = 0xD9;
    Mfr_code[1] = 0x2E;
    Field_DIF = Field_DIFE = Field_VIF = Field_VIFE = 0;
    Vif_extended = false;
    Telegram_checksum = 0;
    Telegram_bytes.clear();
    Record_data.clear();
}

uint8_t byteSum(const QByteArray& bytes) {
    uint8_t sum = 0;
    for (char c : bytes)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return sum;
}

QString hex2(uint8_t v) {
    return QStringLiteral("%1").arg(v, 2, 16, QChar(u'0')).toUpper();
}

QByteArray shortFrame(uint8_t c, uint8_t a) {
    QByteArray f;
    f.append(b(0x10)).append(b(c)).append(b(a));
    return finish(f, 1);
}

QByteArray controlFrame(uint8_t c, uint8_t a, uint8_t ci) {
    QByteArray f;
    f.append(b(0x68)).append(b(3)).append(b(3)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci));
    return finish(f, 4);
}

QByteArray controlFrameWithParam(uint8_t c, uint8_t a, uint8_t ci, uint8_t p) {
    QByteArray f;
    f.append(b(0x68)).append(b(4)).append(b(4)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci)).append(b(p));
    return finish(f, 4);
}

QByteArray longFrame(uint8_t c, uint8_t a, uint8_t ci, const QByteArray& records) {
    const int l = 3 + records.size();
    QByteArray f;
    f.append(b(0x68)).append(b(l)).append(b(l)).append(b(0x68));
    f.append(b(c)).append(b(a)).append(b(ci)).append(records);
    return finish(f, 4);
}

QByteArray dateTimeValue(const QDateTime& moment) {
    const QDate d = moment.date();
    const QTime t = moment.time();
    const int yy = d.year() % 100;
    QByteArray v;
    v.append(b(t.minute() & 0x3F));
    v.append(b(t.hour() & 0x1F));
    v.append(b((d.day() & 0x1F) | ((yy & 0x07) << 5)));
    v.append(b((d.month() & 0x0F) | (((yy >> 3) & 0x0F) << 4)));
    return v;
}

QByteArray dateTimeValueNow() {
    return dateTimeValue(trelmo::now());
}

QByteArray tariffStartValue(uint8_t minute, uint8_t hour) {
    QByteArray v;
    v.append(b(minute)).append(b(hour)).append(b(0)).append(b(0));
    return v;
}

QByteArray identificationBlock(const QString& digits, const TelegramState& state) {
    QByteArray v;
    for (int pair = 3; pair >= 0; --pair) {
        const int hi = digits.at(2 * pair).unicode() - '0';
        const int lo = digits.at(2 * pair + 1).unicode() - '0';
        v.append(b((hi << 4) | lo));
    }
    v.append(b(state.Mfr_code[0])).append(b(state.Mfr_code[1]));
    v.append(b(0x01)).append(b(state.Medium_code));
    return v;
}

QByteArray tariffCostValue(const QString& text) {
    const uint32_t value = static_cast<uint32_t>(StrToInt(text));
    QByteArray v;
    for (int i = 0; i < 4; ++i)
        v.append(b(value >> (8 * i)));
    v.append("BGN");
    return v;
}

QByteArray typeValueBlock(uint8_t medium, uint8_t numerator, uint8_t denominator) {
    QByteArray v;
    v.append(b(medium)).append(b(numerator)).append(b(denominator));
    return v;
}

Result<uint8_t> hoursFromText(const QString& text) {
    if (text.isEmpty())
        return Result<uint8_t>::refused(QStringLiteral("Please enter hours of duration"));
    if (text.size() <= 2 && allDigits(text)) {
        int value = 0;
        for (QChar ch : text)
            value = value * 10 + (ch.unicode() - '0');
        return static_cast<uint8_t>(value);
    }
    return Result<uint8_t>::refused(QStringLiteral("Error in hours"));
}

Result<> checkIdentification(const QString& idText, const TelegramState& s) {
    if (idText.size() != 8)
        return Result<>::refused(QStringLiteral("Wrong ID - must be 8-digit"));
    if (!allDigits(idText))
        return Result<>::refused(QStringLiteral("Error in ID - must be digits only"));
    if (!s.Medium_valid)
        return Result<>::refused(QStringLiteral("Wrong medium"));
    return {};
}

Result<> checkNumDenText(const QString& text) {
    if (text.isEmpty())
        return Result<>::refused(QStringLiteral("Please enter NUM/DENUM"));
    if (!text.contains(u'/'))
        return Result<>::refused(QStringLiteral("Error in NUM/DENUM"));
    for (QChar ch : text) {
        if (ch != u'/' && (ch < u'0' || ch > u'9'))
            return Result<>::refused(QStringLiteral("Error in NUM/DENUM - must be digits only"));
    }
    return {};
}

Result<NumDen> checkNumDenValues(const QString& text, uint8_t medium) {
    if (medium == 0)
        return Result<NumDen>::refused(QStringLiteral("Please select medium"));
    const int slash = text.indexOf(u'/');
    const int32_t n = StrToInt(text.left(slash));
    if (n > 255)
        return Result<NumDen>::refused(QStringLiteral("Numerator must be < 255"));
    const int32_t d = StrToInt(text.mid(slash + 1));
    if (d > 255)
        return Result<NumDen>::refused(QStringLiteral("Denumerator must be < 255"));
    return NumDen{static_cast<uint8_t>(n), static_cast<uint8_t>(d)};
}

uint32_t hexTextToNumber(const QString& text) {
    uint32_t value = 0;
    const int n = std::min<int>(8, text.size());
    for (int i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        // Letters are hexadecimal digits; anything else is converted as a decimal number.
        const int letter = ch.isDigit() ? -1 : hexDigitValue(ch);
        const uint32_t digit = letter >= 0 ? static_cast<uint32_t>(letter)
                                           : static_cast<uint32_t>(StrToInt(QString(ch)));
        value += digit << (4 * (7 - i));
    }
    return value;
}

}  // namespace trelmo::mbus
