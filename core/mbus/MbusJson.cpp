#include "core/mbus/MbusJson.h"

#include <algorithm>

namespace trelmo::mbus::inline records {

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
    // A string in UTF-8 with JSON's escapes, written straight from UTF-16 (a lone surrogate
    // becomes U+FFFD).
    void string(QStringView s) {
        out.append('"');
        const char16_t* p = s.utf16();
        const qsizetype n = s.size();
        for (qsizetype i = 0; i < n; ++i) {
            char32_t c = p[i];
            if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
                out.append(char(c));
                continue;
            }
            switch (c) {
                case '"':
                    out.append("\\\"", 2);
                    continue;
                case '\\':
                    out.append("\\\\", 2);
                    continue;
                case '\n':
                    out.append("\\n", 2);
                    continue;
                case '\r':
                    out.append("\\r", 2);
                    continue;
                case '\t':
                    out.append("\\t", 2);
                    continue;
                default:
                    break;
            }
            if (c < 0x20 || c == 0x7F) {
                static const char digits[] = "0123456789abcdef";
                const char esc[6] = {'\\', 'u', '0', '0', digits[c >> 4], digits[c & 0x0F]};
                out.append(esc, 6);
                continue;
            }
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 &&
                p[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (p[i + 1] - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            char u[4];
            int len = 0;
            if (c < 0x800) {
                u[len++] = char(0xC0 | (c >> 6));
            } else if (c < 0x10000) {
                u[len++] = char(0xE0 | (c >> 12));
                u[len++] = char(0x80 | ((c >> 6) & 0x3F));
            } else {
                u[len++] = char(0xF0 | (c >> 18));
                u[len++] = char(0x80 | ((c >> 12) & 0x3F));
                u[len++] = char(0x80 | ((c >> 6) & 0x3F));
            }
            u[len++] = char(0x80 | (c & 0x3F));
            out.append(u, len);
        }
        out.append('"');
        first_ = false;
    }
    // Bytes as a string of upper-case hex digits.
    void hexString(QByteArrayView bytes) {
        static const char digits[] = "0123456789ABCDEF";
        out.append('"');
        const qsizetype at = out.size();
        out.resize(at + 2 * bytes.size());
        char* d = out.data() + at;
        for (char b : bytes) {
            *d++ = digits[static_cast<uint8_t>(b) >> 4];
            *d++ = digits[static_cast<uint8_t>(b) & 0x0F];
        }
        out.append('"');
        first_ = false;
    }
    void raw(const QByteArray& literal) {
        out.append(literal);
        first_ = false;
    }
    void number(qint64 v) { raw(QByteArray::number(v)); }
    void boolean(bool v) { raw(v ? "true" : "false"); }

    void field(const char* k, QStringView v) {
        key(k);
        string(v);
    }
    void fieldHex(const char* k, QByteArrayView bytes) {
        key(k);
        hexString(bytes);
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
    const qsizetype from = std::clamp<qsizetype>(r.offset, 0, t.bytes.size());
    j.fieldHex("hex", QByteArrayView(t.bytes).sliced(
                          from, std::clamp<qsizetype>(r.length, 0, t.bytes.size() - from)));
    const bool fixed = t.header.kind == HeaderKind::Fixed;
    j.field("dif", fixed ? QString() : hexByteText(r.dif));
    j.fieldHex("dife", r.dife);
    j.field("vif", r.vif >= 0 ? hexByteText(r.vif) : QString());
    j.fieldHex("vife", r.vife);
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
    j.fieldHex("hex", t.bytes);
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

}  // namespace trelmo::mbus::inline records
