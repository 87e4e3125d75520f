#include "core/mbus/MbusOptions.h"

#include "core/Codec.h"
#include "core/Convert.h"

namespace trelmo::mbus {

std::optional<uint8_t> cFieldFromText(const QString& text) {
    if (text == QLatin1String("Initialisation of Slave (SND_NKE)"))
        return 0x40;
    if (text == QLatin1String("Send user data to Slave (SND_UD)"))
        return 0x53;
    if (text == QLatin1String("Request Class 2 Data"))
        return 0x5B;
    if (text == QLatin1String("Alarm protocol (Class 1 Data)"))
        return 0x5A;
    return std::nullopt;
}

std::optional<uint8_t> ciFieldFromText(const QString& text) {
    if (text == QLatin1String("Data send"))
        return 0x51;
    if (text == QLatin1String("Reset"))
        return 0x50;
    if (text == QLatin1String("Synchro"))
        return 0x54;
    if (text == QLatin1String("Baud rate 300bps"))
        return 0xB8;
    if (text == QLatin1String("Baud rate 2400bps"))
        return 0xBB;
    if (text == QLatin1String("Software test"))
        return 0xB6;
    return std::nullopt;
}

std::optional<uint8_t> resetParamFromText(const QString& text) {
    if (text == QLatin1String("Reset all"))
        return 0x00;
    if (text == QLatin1String("Reset user data"))
        return 0x10;
    if (text == QLatin1String("Reset simple billing"))
        return 0x20;
    if (text == QLatin1String("Reset enhanced billing"))
        return 0x30;
    if (text == QLatin1String("Reset multitariff"))
        return 0x40;
    if (text == QLatin1String("Reset instantous values"))
        return 0x50;
    return std::nullopt;
}

std::optional<uint8_t> mediumFromText(const QString& text) {
    static const struct {
        const char* text;
        uint8_t code;
    } media[] = {{"Oil", 0x01},
                 {"Electricity", 0x02},
                 {"Gas", 0x03},
                 {"Heat", 0x04},
                 {"Steam", 0x05},
                 {"Hot water", 0x06},
                 {"Water", 0x07},
                 {"Heat Cost Allocator", 0x08},
                 {"Compressed Air", 0x09},
                 {"Cold water", 0x16},
                 {"Other", 0x00}};
    for (const auto& m : media) {
        if (text == QLatin1String(m.text))
            return m.code;
    }
    return std::nullopt;
}

std::optional<uint8_t> tariffDife(uint8_t dife, const QString& text) {
    if (text == QLatin1String("0"))
        return 0x00;
    int bits = -1;
    if (text == QLatin1String("1"))
        bits = 0x10;
    if (text == QLatin1String("2"))
        bits = 0x20;
    if (text == QLatin1String("3"))
        bits = 0x30;
    if (bits < 0)
        return std::nullopt;
    return static_cast<uint8_t>((dife & ~0x30) | bits);
}

int powerExponent(const QString& powerText) {
    static const char* powers[] = {"0.001", "0.01", "0.1", "1", "10", "100", "1000", "10000"};
    for (int i = 0; i < 8; ++i) {
        if (powerText == QLatin1String(powers[i]))
            return i;
    }
    return 3;  // empty, or a typed text that is none of the items
}

std::optional<uint8_t> vifFromChoice(uint8_t currentVif, const QString& unitText,
                                     const QString& powerText) {
    const int n = powerExponent(powerText);
    int low = -1;
    if (unitText == QLatin1String("Wh"))
        low = 0x00 + n;
    if (unitText == QLatin1String("kJ"))
        low = 0x08 + n;
    if (unitText == QLatin1String("l"))
        low = 0x10 + n;
    if (unitText == QLatin1String("kg"))
        low = 0x18 + n;
    if (unitText == QLatin1String("kJ/h"))
        low = 0x30 + n;
    if (unitText == QLatin1String("Time - date&time"))
        low = 0x6D;
    if (unitText == QLatin1String("Time - only date"))
        low = 0x6C;
    if (unitText == QLatin1String("Identification"))
        low = 0x79;
    if (unitText == QLatin1String("Manufacterer specific"))
        low = 0x7F;
    if (low < 0)
        return std::nullopt;
    return static_cast<uint8_t>((currentVif & 0x80) | low);
}

Action actionFromText(const QString& text) {
    if (text == QLatin1String("Send/Request current Date & Time"))
        return Action::DateTime;
    if (text == QLatin1String("Send/Request start time of tariff"))
        return Action::StartTime;
    if (text == QLatin1String("Send/Request tariff duration"))
        return Action::Duration;
    if (text == QLatin1String("Send/Request tariff cost"))
        return Action::Cost;
    if (text == QLatin1String("Send/Request device ID, manufacturer, medium"))
        return Action::Identification;
    if (text == QLatin1String("Send/Request device type & value"))
        return Action::TypeValue;
    if (text == QLatin1String("Battery status"))
        return Action::Battery;
    return Action::None;
}

uint8_t addressFromText(const QString& text) {
    return static_cast<uint8_t>(StrToInt(text));
}

std::optional<int32_t> manufacturerNumber(const QString& l1, const QString& l2, const QString& l3) {
    if (l1.isEmpty() || l2.isEmpty() || l3.isEmpty())
        return std::nullopt;
    // A letter's code is its byte in the program's code page ('?' when the page lacks it).
    auto code = [](const QString& letter) { return int(codec::toByte(letter.at(0))); };
    return (code(l1) - 64) * 1024 + (code(l2) - 64) * 32 + (code(l3) - 64);
}

bool applyCChoice(TelegramState& s, const QString& text) {
    s.Request_mode = false;
    const auto c = cFieldFromText(text);
    if (!c)
        return false;
    s.Field_C = *c;
    if (*c == 0x5B)
        s.Request_mode = true;
    return *c == 0x53 || *c == 0x5B;
}

}  // namespace trelmo::mbus
