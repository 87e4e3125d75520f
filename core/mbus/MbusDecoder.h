#pragma once
// The reply decoder of the M-Bus window. It reads the "Received: " caption (the literal and
// two upper-case hex digits per received byte) at fixed character positions and writes the
// result labels of the "Slave-to-master" group through a sink, one label at a time.
//
// Contract:
// - A text under 20 characters is refused with "Nothing to decode!" and writes nothing.
// - Nothing outside the text is ever read: a field whose characters are not all present
//   ends the decode at that point, and no label is written from it.
// - A character that is neither a hex letter nor a digit at a converted position throws
//   EConvertError; labels written before that point keep their texts.

#include <QString>
#include <functional>

#include "core/mbus/MbusResult.h"

namespace trelmo::mbus {

// Called with a label's objectName and its new text; the label is also made visible. A
// null text means: show the label and keep its text.
using LabelSink = std::function<void(const QString& label, const QString& text)>;

// Refused ("Nothing to decode!") for a text under 20 characters; else passes, whatever the
// text held.
Result<> decodeReply(const QString& text, const LabelSink& sink);

// A battery byte as a voltage: value / 51 to two significant digits, two decimals, the
// system's decimal separator.
QString voltageText(int byteValue);

}  // namespace trelmo::mbus
