// libFuzzer target: the M-Bus application layer decoder and its JSON and CSV export. An input
// that starts like a frame (0x68, 0x10, 0xE5) is decoded as a frame, any other as application
// data without a link layer (its first byte the CI field). Checked on every input:
// - a byte role for every input byte, and nothing more;
// - every record and every fault lies inside the input (offset + length);
// - records do not overlap and come in order;
// - numeric values are decimal text that reads back as the record's number, a finite double;
// - the JSON of the telegram is valid JSON (RFC 8259, UTF-8) on one line; for every 16th input
//   size it is also read back by QJsonDocument and holds the records and faults decoded, and
//   the JSON Lines form is checked to be that line and a line feed; the CSV has a row per
//   record.
// The driver-side reply check is run on the same bytes and must agree with the decoder on
// whole frames.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/mbus/MbusFrame.h"
#include "core/mbus/MbusJson.h"
#include "core/mbus/MbusRecords.h"
#include "fuzz/FuzzCheck.h"

using namespace trelmo::mbus;

namespace {

// A strict JSON syntax check without allocations (QJsonDocument is too slow to run on every
// input): one value, objects with string keys, arrays, strings with valid escapes and valid
// UTF-8 and no control characters, numbers in JSON's form, true, false, null.
class JsonCheck {
  public:
    JsonCheck(const char* p, const char* end) : p_(p), end_(end) {}
    bool document() {
        space();
        if (!value(0))
            return false;
        space();
        return p_ == end_;
    }

  private:
    bool value(int depth) {
        if (depth > 64 || p_ >= end_)
            return false;
        switch (*p_) {
            case '{':
                return object(depth);
            case '[':
                return array(depth);
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                return number();
        }
    }
    bool object(int depth) {
        ++p_;
        space();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            space();
            if (p_ >= end_ || *p_ != '"' || !string())
                return false;
            space();
            if (p_ >= end_ || *p_ != ':')
                return false;
            ++p_;
            space();
            if (!value(depth + 1))
                return false;
            space();
            if (p_ < end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ < end_ && *p_ == '}') {
                ++p_;
                return true;
            }
            return false;
        }
    }
    bool array(int depth) {
        ++p_;
        space();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            space();
            if (!value(depth + 1))
                return false;
            space();
            if (p_ < end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ < end_ && *p_ == ']') {
                ++p_;
                return true;
            }
            return false;
        }
    }
    bool string() {
        ++p_;
        while (p_ < end_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                ++p_;
                if (p_ >= end_)
                    return false;
                const char e = *p_++;
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++p_)
                        if (p_ >= end_ || !std::isxdigit(static_cast<unsigned char>(*p_)))
                            return false;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == 0) {
                    return false;
                }
                continue;
            }
            if (c < 0x80) {
                ++p_;
                continue;
            }
            // UTF-8: a lead byte and its continuation bytes, no overlong forms or surrogates.
            int n = 0;
            unsigned cp = 0;
            if (c >= 0xC2 && c <= 0xDF) {
                n = 1;
                cp = c & 0x1F;
            } else if (c >= 0xE0 && c <= 0xEF) {
                n = 2;
                cp = c & 0x0F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                n = 3;
                cp = c & 0x07;
            } else {
                return false;
            }
            ++p_;
            for (int i = 0; i < n; ++i, ++p_) {
                if (p_ >= end_ || (static_cast<unsigned char>(*p_) & 0xC0) != 0x80)
                    return false;
                cp = (cp << 6) | (static_cast<unsigned char>(*p_) & 0x3F);
            }
            if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
        }
        return false;
    }
    bool number() {
        if (p_ < end_ && *p_ == '-')
            ++p_;
        if (p_ >= end_ || !std::isdigit(static_cast<unsigned char>(*p_)))
            return false;
        if (*p_ == '0')
            ++p_;
        else
            digits();
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (!digits())
                return false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-'))
                ++p_;
            if (!digits())
                return false;
        }
        return true;
    }
    bool digits() {
        const char* start = p_;
        while (p_ < end_ && std::isdigit(static_cast<unsigned char>(*p_)))
            ++p_;
        return p_ > start;
    }
    bool word(const char* w) {
        const std::size_t n = std::strlen(w);
        if (static_cast<std::size_t>(end_ - p_) < n || std::memcmp(p_, w, n) != 0)
            return false;
        p_ += n;
        return true;
    }
    void space() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    const char* p_;
    const char* end_;
};

void checkTelegram(const Telegram& t, qsizetype size) {
    FUZZ_CHECK(t.bytes.size() == size);
    FUZZ_CHECK(t.roles.size() == size);
    int lastEnd = 0;
    for (const Record& r : t.records) {
        FUZZ_CHECK(r.offset >= 0 && r.length >= 0);
        FUZZ_CHECK(r.offset + r.length <= size);
        FUZZ_CHECK(r.offset >= lastEnd);
        lastEnd = r.offset + r.length;
        if (r.dataOffset >= 0) {
            FUZZ_CHECK(r.dataOffset >= r.offset);
            FUZZ_CHECK(r.dataOffset + r.dataLength <= r.offset + r.length);
        }
        if (r.valueType == ValueType::Number) {
            bool ok = false;
            const double back = r.value.toDouble(&ok);
            FUZZ_CHECK(ok && std::isfinite(back));
            FUZZ_CHECK(back == r.number);
        }
    }
    for (const DecodeError& e : t.errors) {
        FUZZ_CHECK(e.offset >= 0 && e.offset <= size);
        FUZZ_CHECK(!e.reason.isEmpty());
    }
    if (t.moreRecordsFollow)
        FUZZ_CHECK(!t.records.empty() && t.records.back().function == Function::More);

    const QByteArray json = telegramJson(t, 1);
    FUZZ_CHECK(!json.contains('\n'));
    FUZZ_CHECK(JsonCheck(json.constData(), json.constData() + json.size()).document());
    if (size % 16 == 0) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
        FUZZ_CHECK(err.error == QJsonParseError::NoError);
        FUZZ_CHECK(doc.isObject());
        const QJsonObject o = doc.object();
        FUZZ_CHECK(o.value(QStringLiteral("records")).toArray().size() ==
                   static_cast<qsizetype>(t.records.size()));
        FUZZ_CHECK(o.value(QStringLiteral("errors")).toArray().size() ==
                   static_cast<qsizetype>(t.errors.size()));
        FUZZ_CHECK(o.value(QStringLiteral("hex")).toString().size() == 2 * size);
        FUZZ_CHECK(telegramJsonLine(t, 1) == json + '\n');
    }

    const QByteArray csv = recordsCsv({t});
    FUZZ_CHECK(csv.count("\r\n") >= static_cast<qsizetype>(t.records.size()) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const uint8_t first = size > 0 ? data[0] : 0;
    if (first == kLongStart || first == kShortStart || first == kAck || size == 0) {
        const Telegram frame = decodeTelegram(bytes);
        checkTelegram(frame, bytes.size());
        // A frame the reply check takes as whole and sound decodes without a link-layer
        // fault.
        const ReplyKind kind = checkReply(bytes).kind;
        if (kind == ReplyKind::Frame || kind == ReplyKind::Ack) {
            FUZZ_CHECK(frame.frame.checksumOk && frame.frame.stopOk);
            FUZZ_CHECK(frame.frame.length == bytes.size());
        }
    } else {
        const Telegram user = decodeUserData(bytes);
        checkTelegram(user, bytes.size());
    }

    // Hex text of the input parses back to the input.
    const Result<QByteArray> back = parseHexLine(toHex(bytes));
    FUZZ_CHECK(back.ok() && back.value() == bytes);
    return 0;
}
