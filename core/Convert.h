#pragma once
// Text-to-number conversion with the program's one conversion error.

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace trelmo {

// A text that is not a valid integer. what() is "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// Converts a 32-bit signed integer. A text of more than two characters that starts with
// "0x" or "0X" is hexadecimal (up to 0xFFFFFFFF, which is -1); any other text is
// decimal with optional leading blanks and an optional sign. Anything else ("$1F", "-0x1F",
// "0x"), an empty text or a value outside the 32-bit range throws EConvertError with the
// text quoted.
int32_t StrToInt(const QString& text);

// As StrToInt, but returns `fallback` instead of throwing.
int32_t StrToIntDef(const QString& text, int32_t fallback);

// True when StrToInt would succeed; the value goes to *value.
bool TryStrToInt(const QString& text, int32_t* value);

// Value of an ASCII hexadecimal digit ("0"-"9", "A"-"F", "a"-"f"), or -1 for any other
// character (other scripts' digits and full-width letters included).
int hexDigitValue(QChar ch);

}  // namespace trelmo
