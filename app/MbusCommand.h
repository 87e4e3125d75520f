#pragma once
// The command line's M-Bus runs, answered without a window system (no QApplication: a
// QCoreApplication and its event loop only):
//   --mbus-decode FILE     each line of FILE ("-": standard input) holds one telegram in hex
//                          (blanks allowed, any case; empty lines are skipped); each becomes one
//                          JSON object on one line of standard output (JSON Lines)
//   --mbus-scan KIND       primary (addresses 0-250) or secondary (wildcard selection) over
//                          --port at --speed (8E1 unless --parity, --data-bits, --stop-bits
//                          say otherwise): one JSON object per meter found
//   --mbus-read ADDRESS    reads every telegram of a meter's reply (primary address 0-250 or
//                          a 16-digit secondary address): one JSON object per telegram
//   --mbus-timeout MS      the wait for each reply (else it follows the speed)
// Exit codes: 0 done; 1 a telegram could not be decoded, or the port or the meter failed;
// 2 a usage mistake (also a file that cannot be read). Reasons go to standard error.

#include <QString>

namespace trelmo {

struct MbusRequest {
    enum class Kind { None, Decode, Scan, Read };
    Kind kind = Kind::None;
    QString file;            // --mbus-decode
    bool secondary = false;  // --mbus-scan secondary
    QString address;         // --mbus-read, as given (checked by the parser)
    int timeoutMs = 0;       // --mbus-timeout; 0: from the speed
};

struct StartOptions;

// Runs `request` (whose kind is not None) with the serial settings of `options` under a
// QCoreApplication made here from argc/argv; returns the exit code.
int runMbusCommand(int argc, char** argv, const MbusRequest& request, const StartOptions& options);

// One meter found by a scan as the scan prints it:
//   {"address": 5, "id": "12345670", "manufacturer": "ABC", "version": 1, "medium": 7}
// (null for what the meter's reply did not say).
QByteArray meterJson(int address, const QString& id, const QString& manufacturer, int version,
                     int medium);

}  // namespace trelmo
