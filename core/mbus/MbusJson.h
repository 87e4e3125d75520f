#pragma once
// Decoded telegrams as JSON and CSV, for scripts and spreadsheets. The field names are an
// interface: scripts are written against them.
//
// One telegram:
//   {"hex": "68...16", "telegram": 1,
//    "frame": {"type": "long", "c": 8, "a": 1, "ci": 114, "checksum_ok": true, ...},
//    "ci_text": "...",
//    "header": {"kind": "long", "id": "12345678", "manufacturer": "ABC", "version": 1,
//               "medium": 7, "medium_text": "Water", "access": 1, "status": 0,
//               "status_text": [], "signature": 0},
//    "records": [{"offset": 19, "length": 6, "hex": "0C1312345678", "dif": "0C", "dife": "",
//                 "vif": "13", "vife": "", "storage": 0, "tariff": 0, "subunit": 0,
//                 "function": "instantaneous", "type": "bcd8", "quantity": "Volume",
//                 "value": 5678.1234, "unit": "m³", "raw": 12345678, ...}],
//    "more_records_follow": false,
//    "errors": [{"offset": 3, "reason": "..."}]}
// "telegram" is there when a number is given. "value" is a JSON number for numeric records
// (written exactly as decoded: 5678.1234, never 5678.1233999999) and a string otherwise
// ("" when the record has no data). Text is UTF-8 ("m³", "°C"). Frame types: "ack",
// "short", "control", "long" ("none" for input that is no frame). Functions:
// "instantaneous", "maximum", "minimum", "error", "manufacturer", "more".

#include <QByteArray>
#include <vector>

#include "core/mbus/MbusRecords.h"

namespace trelmo::mbus::inline records {

// One telegram as one JSON object on one line (no line break inside, none at the end).
// `telegramNumber` < 0 leaves the "telegram" field out.
QByteArray telegramJson(const Telegram& telegram, int telegramNumber = -1);
// The same followed by a line feed: one line of a JSON Lines file.
QByteArray telegramJsonLine(const Telegram& telegram, int telegramNumber = -1);
// Several telegrams as one JSON array, one telegram per line, numbered from 1.
QByteArray telegramsJson(const std::vector<Telegram>& telegrams);

// The records of the telegrams as CSV (RFC 4180, UTF-8, CRLF line ends), one row per
// record after a heading row: telegram (from 1), record (from 1), offset, hex, dif, vif,
// storage, tariff, subunit, function, quantity, value, unit.
QByteArray recordsCsv(const std::vector<Telegram>& telegrams);

}  // namespace trelmo::mbus::inline records
