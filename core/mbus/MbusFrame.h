#pragma once
// The link layer of the wired M-Bus: the four frame kinds (single character E5, short frame,
// control frame, long frame), their checks, the requests a master sends (SND_NKE, REQ_UD2,
// selection of a secondary address, application reset), a check of what came back for a
// driver that waits for a reply, and hex text as the command line and the window write it.
//
// This header and those built on it (MbusTables, MbusRecords, MbusJson, MbusScan, MbusDriver)
// declare their names in the inline namespace trelmo::mbus::records: they are used as
// trelmo::mbus::X, while their symbols stay apart from the composer's (MbusTelegram.h has a
// shortFrame, a longFrame, a Result and an Action of its own). A program links both families;
// a source file includes one of them (the M-Bus window's panel keeps its header free of these).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace trelmo::mbus::inline records {

// A value or the reason there is none (and where in the input, when that is known).
template <typename T>
class Result {
  public:
    static Result success(T value) {
        Result r;
        r.value_ = std::move(value);
        return r;
    }
    static Result failure(QString error, int offset = -1) {
        Result r;
        r.error_ = std::move(error);
        r.offset_ = offset;
        return r;
    }
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    const QString& error() const { return error_; }
    int errorOffset() const { return offset_; }

  private:
    std::optional<T> value_;
    QString error_;
    int offset_ = -1;
};

// Something wrong in an input, and the byte offset where it was found.
struct DecodeError {
    int offset = 0;
    QString reason;
    friend bool operator==(const DecodeError&, const DecodeError&) = default;
};

enum class FrameType : uint8_t { None, Ack, Short, Control, Long };
// "ack", "short", "control", "long" ("none" for an input that is no frame).
QString frameTypeName(FrameType type);

inline constexpr uint8_t kAck = 0xE5;
inline constexpr uint8_t kShortStart = 0x10;
inline constexpr uint8_t kLongStart = 0x68;
inline constexpr uint8_t kStop = 0x16;
// Primary addresses: 0..250 meters, 253 the meter selected by its secondary address,
// 254 every meter (each answers), 255 every meter (none answers).
inline constexpr uint8_t kMaxPrimary = 250;
inline constexpr uint8_t kSelectedAddress = 0xFD;
inline constexpr uint8_t kBroadcastReply = 0xFE;
inline constexpr uint8_t kBroadcastNoReply = 0xFF;

// The link layer fields of one frame at the start of an input.
struct Frame {
    FrameType type = FrameType::None;
    int length = 0;     // bytes the frame should take (L + 6 for long and control frames)
    int available = 0;  // bytes of it the input holds (less than length when cut)
    int lField = -1;    // the L field (long and control frames)
    uint8_t c = 0;
    uint8_t a = 0;
    int ci = -1;          // -1: no CI field
    int userOffset = -1;  // first byte after the CI field (long frames)
    int userEnd = -1;     // one past the last user data byte the input holds
    int checksumOffset = -1;
    bool checksumOk = false;  // the received check sum matches the bytes it covers
    bool lengthOk = false;    // L fields agree, the input holds the whole frame, no more
    bool stopOk = false;      // the stop byte is there and is 0x16
    uint8_t checksum = 0;     // as received
    uint8_t computedSum = 0;  // as computed over the bytes the input holds
};

struct FrameParse {
    Frame frame;
    std::vector<DecodeError> errors;
};

// Reads the frame at the start of `bytes`: its kind, fields and checks, and every fault found
// (with its offset): wrong start, L fields that differ, a cut frame, a wrong check sum, a
// missing stop byte, bytes after the frame. Never reads outside `bytes`.
FrameParse parseFrame(QByteArrayView bytes);

// The sum of the bytes modulo 256, as the check sum of a frame.
uint8_t checksum(QByteArrayView bytes);

// Requests. The C field of REQ_UD2 is 0x5B, or 0x7B with the frame count bit set.
QByteArray shortFrame(uint8_t c, uint8_t address);
QByteArray longFrame(uint8_t c, uint8_t address, uint8_t ci, QByteArrayView data);
QByteArray sndNke(uint8_t address);
QByteArray reqUd2(uint8_t address, bool fcb);
// Application reset (SND_UD, CI 0x50) to one address.
QByteArray applicationReset(uint8_t address);

// A secondary address or selection mask: 8 identification digits (0-9, or F as a wildcard),
// manufacturer code (0xFFFF: any), version (0xFF: any), medium (0xFF: any).
struct SecondaryAddress {
    QString id = QStringLiteral("FFFFFFFF");
    uint16_t manufacturer = 0xFFFF;
    uint8_t version = 0xFF;
    uint8_t medium = 0xFF;
    friend bool operator==(const SecondaryAddress&, const SecondaryAddress&) = default;
};

// "IIIIIIIIMMMMVVDD": 8 id digits, manufacturer code, version and medium in hexadecimal
// (16 hex digits, any case; blanks allowed). 8 digits alone are an id with wildcards for the
// rest. Id digits A-E are refused (an id is BCD; F is the wildcard).
Result<SecondaryAddress> parseSecondaryAddress(QStringView text);
QString secondaryAddressText(const SecondaryAddress& address);
// Whether a meter with this identity answers a selection with `mask`.
bool matchesSelection(const SecondaryAddress& mask, const SecondaryAddress& meter);
// The selection request: long frame C=0x53, A=0xFD, CI=0x52 with the 8 address bytes
// (id as BCD, low byte first, F nibbles as given; manufacturer low byte first).
QByteArray selectSecondary(const SecondaryAddress& mask);

// What a driver has received after a request, for deciding whether to wait on.
enum class ReplyKind : uint8_t {
    Nothing,     // no byte yet
    Ack,         // exactly one E5
    Frame,       // exactly one whole frame whose checks pass
    Incomplete,  // the start of a frame: more bytes should come
    Garbled,     // anything else: several answers on top of each other, a bad check sum,
                 // bytes after a frame, an unknown start byte
};
struct ReplyCheck {
    ReplyKind kind = ReplyKind::Nothing;
    QString text;  // for Garbled: what is wrong
};
ReplyCheck checkReply(QByteArrayView bytes);
// True when a driver may stop waiting: an ACK, a whole frame, or bytes that cannot become
// one (Garbled). A driver that gives up waiting hands over whatever it has.
bool replyComplete(QByteArrayView bytes);

// The time to wait for one reply at `baud`: 330 bit times plus 50 ms, in whole ms.
int defaultReplyTimeoutMs(int baud);

// One line of hex: pairs of digits, any case, blanks between bytes allowed ("68 0A 0a 68",
// "680A0A68"). Fails on an odd number of digits in a group or any other character, naming the
// column (0-based) in errorOffset().
Result<QByteArray> parseHexLine(QStringView line);
// Upper-case hex without blanks, as the JSON output writes bytes.
QString toHex(QByteArrayView bytes);

}  // namespace trelmo::mbus::inline records
