#include "core/mbus/MbusJson.h"

namespace trelmo::mbus {

namespace {

QByteArray hexOf(QByteArrayView bytes) {
    return bytes.toByteArray().toHex().toUpper();
}

// A compact JSON writer: keys in the order written, strings escaped, numbers as given.
class Json {
  public:
    QByteArray out;

    void begin(char c) {
        out.append(c);
        first_ = true;
    }
    void end(char c) {
        out.append(c);
        first_ = false;
    }
    void key(const char* k) {
        comma();
        out.append('"');
        out.append(k);
        out.append("\":");
        first_ = true;  // the value follows without a comma
    }
    void comma() {
        if (!first_)
            out.append(',');
        first_ = false;
    }
    void string(const QString& s) {
        out.append('"');
        const QByteArray utf8 = s.toUtf8();
        qsizetype run = 0;  // start of the bytes not yet written that need no escape
        for (qsizetype i = 0; i < utf8.size(); ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F)
                continue;
            out.append(QByteArrayView(utf8).sliced(run, i - run));
            run = i + 1;
            switch (c) {
                case '"':
                    out.append("\\\"");
                    break;
                case '\\':
                    out.append("\\\\");
                    break;
                case '\n':
                    out.append("\\n");
                    break;
                case '\r':
                    out.append("\\r");
                    break;
                case '\t':
                    out.append("\\t");
                    break;
                default:
                    static const char digits[] = "0123456789abcdef";
                    out.append("\\u00");
                    out.append(digits[c >> 4]);
                    out.append(digits[c & 0x0F]);
            }
        }
        out.append(QByteArrayView(utf8).sliced(run));
        out.append('"');
        first_ = false;
    }
    void raw(const QByteArray& literal) {
        out.append(literal);
        first_ = false;
    }
    void number(qint64 v) { raw(QByteArray::number(v)); }
    void boolean(bool v) { raw(v ? "true" : "false"); }

    void field(const char* k, const QString& v) {
        key(k);
        string(v);
    }
    void field(const char* k, qint64 v) {
        key(k);
        number(v);
    }
    void fieldBool(const char* k, bool v) {
        key(k);
        boolean(v);
    }
    void list(const char* k, const QStringList& items) {
        key(k);
        begin('[');
        for (const QString& s : items) {
            comma();
            string(s);
        }
        end(']');
    }

  private:
    bool first_ = true;
};

// A decimal text written by the decoder is a valid JSON number; anything else (NaN, a
// special BCD) goes out as a string.
bool jsonNumberText(const QString& s) {
    if (s.isEmpty())
        return false;
    qsizetype i = 0;
    if (s[i] == QLatin1Char('-'))
        ++i;
    if (i >= s.size() || !s[i].isDigit())
        return false;
    for (; i < s.size(); ++i) {
        const QChar c = s[i];
        if (!(c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('e') ||
              c == QLatin1Char('E') || c == QLatin1Char('+') || c == QLatin1Char('-')))
            return false;
    }
    return true;
}

QString hexByteText(int v) {
    return QString::number(v & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

void writeRecord(Json& j, const Telegram& t, const Record& r) {
    j.comma();
    j.begin('{');
    j.field("offset", r.offset);
    j.field("length", r.length);
    j.field(
        "hex",
        QString::fromLatin1(hexOf(QByteArrayView(t.bytes).sliced(
            std::min<qsizetype>(r.offset, t.bytes.size()),
            std::max<qsizetype>(0, std::min<qsizetype>(r.length, t.bytes.size() - r.offset))))));
    const bool fixed = t.header.kind == HeaderKind::Fixed;
    j.field("dif", fixed ? QString() : hexByteText(r.dif));
    j.field("dife", QString::fromLatin1(hexOf(r.dife)));
    j.field("vif", r.vif >= 0 ? hexByteText(r.vif) : QString());
    j.field("vife", QString::fromLatin1(hexOf(r.vife)));
    j.field("storage", static_cast<qint64>(std::min<quint64>(r.storage, INT64_MAX)));
    j.field("tariff", static_cast<qint64>(r.tariff));
    j.field("subunit", static_cast<qint64>(r.subunit));
    j.field("function", functionName(r.function));
    j.field("type", r.type);
    j.field("quantity", r.quantity);
    j.key("value");
    if (r.valueType == ValueType::Number && jsonNumberText(r.value))
        j.raw(r.value.toLatin1());
    else
        j.string(r.value);
    j.field("unit", r.unit);
    if (r.raw)
        j.field("raw", *r.raw);
    if (!r.unitText.isEmpty())
        j.field("unit_text", r.unitText);
    if (!r.vifeTexts.isEmpty())
        j.list("vife_text", r.vifeTexts);
    if (r.recordError >= 0)
        j.field("record_error", r.recordError);
    if (r.invalid)
        j.fieldBool("invalid", true);
    if (!r.note.isEmpty())
        j.field("note", r.note);
    j.end('}');
}

void writeTelegram(Json& j, const Telegram& t, int number) {
    j.begin('{');
    j.field("hex", QString::fromLatin1(hexOf(t.bytes)));
    if (number >= 0)
        j.field("telegram", number);

    const Frame& f = t.frame;
    j.key("frame");
    j.begin('{');
    j.field("type", frameTypeName(f.type));
    if (f.type == FrameType::Short || f.type == FrameType::Control || f.type == FrameType::Long) {
        j.field("c", f.c);
        j.field("a", f.a);
    }
    if (f.ci >= 0)
        j.field("ci", f.ci);
    j.fieldBool("checksum_ok", f.checksumOk);
    j.fieldBool("length_ok", f.lengthOk);
    j.end('}');
    if (f.ci >= 0)
        j.field("ci_text", t.ciText);

    const Header& h = t.header;
    j.key("header");
    j.begin('{');
    switch (h.kind) {
        case HeaderKind::None:
            j.field("kind", QStringLiteral("none"));
            break;
        case HeaderKind::Long:
            j.field("kind", QStringLiteral("long"));
            break;
        case HeaderKind::Short:
            j.field("kind", QStringLiteral("short"));
            break;
        case HeaderKind::Fixed:
            j.field("kind", QStringLiteral("fixed"));
            break;
    }
    if (h.kind == HeaderKind::Long || h.kind == HeaderKind::Fixed)
        j.field("id", h.id);
    if (h.kind == HeaderKind::Long) {
        j.field("manufacturer", h.manufacturer);
        j.field("version", h.version);
    }
    if (h.kind == HeaderKind::Long || h.kind == HeaderKind::Fixed) {
        j.field("medium", h.medium);
        j.field("medium_text", h.mediumText);
    }
    if (h.kind != HeaderKind::None) {
        j.field("access", h.access);
        j.field("status", h.status);
        j.list("status_text", h.statusTexts);
    }
    if (h.kind == HeaderKind::Long || h.kind == HeaderKind::Short)
        j.field("signature", h.signature);
    j.end('}');

    j.key("records");
    j.begin('[');
    for (const Record& r : t.records)
        writeRecord(j, t, r);
    j.end(']');
    j.fieldBool("more_records_follow", t.moreRecordsFollow);
    if (t.applicationError >= 0 || !t.applicationErrorText.isEmpty()) {
        j.key("application_error");
        j.begin('{');
        j.field("code", t.applicationError);
        j.field("text", t.applicationErrorText);
        j.end('}');
    }
    j.key("errors");
    j.begin('[');
    for (const DecodeError& e : t.errors) {
        j.comma();
        j.begin('{');
        j.field("offset", e.offset);
        j.field("reason", e.reason);
        j.end('}');
    }
    j.end(']');
    j.end('}');
}

QByteArray csvField(const QString& s) {
    QByteArray utf8 = s.toUtf8();
    if (utf8.contains(',') || utf8.contains('"') || utf8.contains('\n') || utf8.contains('\r')) {
        utf8.replace("\"", "\"\"");
        return '"' + utf8 + '"';
    }
    return utf8;
}

}  // namespace

QByteArray telegramJson(const Telegram& telegram, int telegramNumber) {
    Json j;
    j.out.reserve(256 + 256 * static_cast<qsizetype>(telegram.records.size()));
    writeTelegram(j, telegram, telegramNumber);
    return j.out;
}

QByteArray telegramJsonLine(const Telegram& telegram, int telegramNumber) {
    return telegramJson(telegram, telegramNumber) + '\n';
}

QByteArray telegramsJson(const std::vector<Telegram>& telegrams) {
    QByteArray out = "[";
    for (std::size_t i = 0; i < telegrams.size(); ++i) {
        out.append(i == 0 ? "\n" : ",\n");
        out.append(telegramJson(telegrams[i], static_cast<int>(i + 1)));
    }
    out.append("\n]\n");
    return out;
}

QByteArray recordsCsv(const std::vector<Telegram>& telegrams) {
    QByteArray out =
        "telegram,record,offset,hex,dif,vif,storage,tariff,subunit,function,quantity,value,"
        "unit\r\n";
    for (std::size_t ti = 0; ti < telegrams.size(); ++ti) {
        const Telegram& t = telegrams[ti];
        const bool fixed = t.header.kind == HeaderKind::Fixed;
        for (std::size_t ri = 0; ri < t.records.size(); ++ri) {
            const Record& r = t.records[ri];
            const qsizetype from = std::min<qsizetype>(r.offset, t.bytes.size());
            const qsizetype len =
                std::max<qsizetype>(0, std::min<qsizetype>(r.length, t.bytes.size() - from));
            QList<QByteArray> row = {
                QByteArray::number(static_cast<qulonglong>(ti + 1)),
                QByteArray::number(static_cast<qulonglong>(ri + 1)),
                QByteArray::number(r.offset),
                hexOf(QByteArrayView(t.bytes).sliced(from, len)),
                fixed ? QByteArray() : hexByteText(r.dif).toLatin1(),
                r.vif >= 0 ? hexByteText(r.vif).toLatin1() : QByteArray(),
                QByteArray::number(r.storage),
                QByteArray::number(r.tariff),
                QByteArray::number(r.subunit),
                functionName(r.function).toLatin1(),
                csvField(r.quantity),
                csvField(r.value),
                csvField(r.unit),
            };
            out.append(row.join(','));
            out.append("\r\n");
        }
    }
    return out;
}

}  // namespace trelmo::mbus
