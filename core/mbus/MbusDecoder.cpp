#include "core/mbus/MbusDecoder.h"

#include <QLocale>
#include <cmath>

#include "core/LocaleText.h"
#include "core/mbus/MbusTelegram.h"

namespace trelmo::mbus {

namespace {

// Positional reader over the caption. Every access is checked first with has(): a field
// is read only when all of its characters are present.
class Reader {
  public:
    explicit Reader(const QString& text) : t_(text) {}
    bool has(int lastPos) const { return lastPos >= 0 && lastPos < t_.size(); }
    QString chars(std::initializer_list<int> positions) const {
        QString s;
        for (int p : positions)
            s += t_.at(p);
        return s;
    }
    // A one-byte value: "000000" and the two digits at p, p+1.
    int byteAt(int p) const {
        return static_cast<int>(hexTextToNumber(QStringLiteral("000000") + chars({p, p + 1})));
    }
    // A four-byte value, least significant byte first from p, shown signed.
    int32_t longAt(int p) const {
        const QString digits = chars({p + 6, p + 7, p + 4, p + 5, p + 2, p + 3, p, p + 1});
        return static_cast<int32_t>(hexTextToNumber(digits));
    }

  private:
    const QString& t_;
};

int tariffIndex(const QString& dife) {
    if (dife == QLatin1String("00"))
        return 0;
    if (dife == QLatin1String("10"))
        return 1;
    if (dife == QLatin1String("20"))
        return 2;
    if (dife == QLatin1String("30"))
        return 3;
    return -1;
}

const char* const kDuration[4] = {"Label_mbcs_data2", "Label_mbcs_data3", "Label_mbcs_data11",
                                  "Label_mbcs_data12"};
const char* const kStart[4] = {"Label_mbcs_data4", "Label_mbcs_data5", "Label_mbcs_data6",
                               "Label_mbcs_data7"};
const char* const kPulse[4] = {"Label_mbcs_pulse1", "Label_mbcs_pulse2", "Label_mbcs_pulse3",
                               "Label_mbcs_pulse4"};

void writeTariff(const LabelSink& sink, int tariff) {
    sink(QStringLiteral("Label_mbcs_tariff%1").arg(tariff + 1),
         QStringLiteral("Tariff No.: %1").arg(tariff + 1));
}

// Decodes one record at cursor p; returns its length n, 0 when the DIF is none of the
// four kinds or when the record's characters are not all present.
int decodeRecord(const Reader& r, const QString& dif, int p, const LabelSink& sink) {
    if (dif == QLatin1String("04")) {
        if (!r.has(p + 9))
            return 0;
        sink(QStringLiteral("Label_mbcs_data1"),
             QStringLiteral("Main counter: ") + QString::number(r.longAt(p + 2)));
        return 10;
    }
    if (dif == QLatin1String("81")) {
        if (!r.has(p + 8))
            return 0;
        const int tariff = tariffIndex(r.chars({p + 1, p + 2}));
        if (tariff >= 0) {
            const int value = r.byteAt(p + 7);
            writeTariff(sink, tariff);
            sink(QLatin1String(kDuration[tariff]),
                 QStringLiteral("Duration: ") + QString::number(value) + u'h');
        }
        return 9;
    }
    if (dif == QLatin1String("84")) {
        if (!r.has(p + 4))
            return 0;
        const bool start = r.chars({p + 3, p + 4}) == QLatin1String("ED");
        if (!r.has(start ? p + 10 : p + 12))
            return 0;
        const int tariff = tariffIndex(r.chars({p + 1, p + 2}));
        if (tariff >= 0) {
            if (start) {
                const int value = r.byteAt(p + 9);
                writeTariff(sink, tariff);
                sink(QLatin1String(kStart[tariff]),
                     QStringLiteral("Start: ") + QString::number(value) + u'h');
            } else {
                const int32_t value = r.longAt(p + 5);
                writeTariff(sink, tariff);
                sink(QLatin1String(kPulse[tariff]),
                     QStringLiteral("Pulses: ") + QString::number(value));
            }
        }
        return start ? 15 : 13;
    }
    if (dif == QLatin1String("0F")) {
        if (!r.has(p + 10))
            return 0;
        const int drops = r.byteAt(p + 5);
        const int bat1 = r.byteAt(p + 7);
        const int bat2 = r.byteAt(p + 9);
        sink(QStringLiteral("Label_mbcs_data8"),
             QStringLiteral("Drops 2.8V: ") + QString::number(drops));
        sink(QStringLiteral("Label_mbcs_data9"),
             QStringLiteral("BAT 1: ") + voltageText(bat1) + u'V');
        sink(QStringLiteral("Label_mbcs_data10"),
             QStringLiteral("BAT 2: ") + voltageText(bat2) + u'V');
        return 11;
    }
    return 0;
}

}  // namespace

QString voltageText(int byteValue) {
    const double volts = byteValue / 51.0;
    // Two significant digits first, then two decimals.
    const double rounded = QString::number(volts, 'g', 2).toDouble();
    QString text = QString::number(rounded, 'f', 2);
    text.replace(u'.', decimalSeparator());
    return text;
}

Result<> decodeReply(const QString& text, const LabelSink& sink) {
    if (text.size() < 20)
        return Result<>::refused(QStringLiteral("Nothing to decode!"));
    const Reader r(text);
    if (!r.has(21))
        return {};
    sink(QStringLiteral("Label_mbcs_address"),
         QStringLiteral("Slave address: ") + QString::number(r.byteAt(20)));
    if (!r.has(31))
        return {};
    sink(QStringLiteral("Label_mbcs_Id"),
         QStringLiteral("Slave ID: ") + r.chars({30, 31, 28, 29, 26, 27, 24, 25}));
    sink(QStringLiteral("Label_access"), QString());  // shown before its number is read
    if (!r.has(41))
        return {};
    sink(QStringLiteral("Label_access"),
         QStringLiteral("Access No.: ") + QString::number(r.byteAt(40)));
    if (!r.has(49))
        return {};
    QString dif = r.chars({48, 49});
    int p = 50;
    for (;;) {
        const int n = decodeRecord(r, dif, p, sink);
        if (n == 0)
            break;
        if (!r.has(p + n + 1))
            break;
        dif = r.chars({p + n, p + n + 1});
        p = p + n + 1;
    }
    return {};
}

}  // namespace trelmo::mbus
