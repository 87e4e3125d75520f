#pragma once
// How the program is started: where its settings file is and what the command line asks for.
//
// Settings file. It sits beside the executable and bears its name (trelmo -> trelmo.ini) when
// that folder is the user's to write; an installed program's folder (/usr/bin) is not, so
// there the file is $XDG_CONFIG_HOME/trelmo/trelmo.ini (~/.config/trelmo/trelmo.ini): read
// from and written to the same place. --settings FILE names another file.
//
// Command line (every option is also a change the user could make, written back at exit):
//   --port DEVICE      the COM name (COM3, /dev/ttyUSB0, ...)
//   --speed N          the speed in bit/s
//   --parity P         None, Even, Odd, Mark or Space
//   --data-bits N      5 to 8
//   --stop-bits N      1 or 2
//   --connect          opens the serial port at start, as the connect button does
//   --tcp HOST:PORT    connects to a TCP host at start
//   --listen PORT      listens on a TCP port at start
//   --settings FILE    the settings file to read and write
//   --timestamps       shows every received line behind its arrival time (Tools → Time stamps)
//   --help, --version

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "terminal/StartOptions.h"

namespace trelmo {

// The settings file beside `executable` when `folderWritable` says its folder may be written,
// otherwise trelmo.ini in `configHome`/trelmo (configHome: $XDG_CONFIG_HOME, or ~/.config).
QString settingsLocation(const QString& executable, const QString& configHome,
                         const std::function<bool(const QString& folder)>& folderWritable);
// The same with this process's executable, environment and file permissions.
QString settingsLocation();

// What parsing the command line gave: the options, or text to print and an exit code
// (--help, --version, or a mistake, whose text goes to standard error).
struct ParsedCommandLine {
    StartOptions options;
    bool exit = false;
    int exitCode = 0;
    QString output;  // for standard output (help, version)
    QString error;   // for standard error
};
ParsedCommandLine parseCommandLine(const QStringList& arguments);

}  // namespace trelmo
