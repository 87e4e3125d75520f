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
//   --data-bits N      7 or 8
//   --stop-bits N      1 or 2
//   --connect          opens the serial port at start, as the connect button does
//   --reopen           reopens the serial port when its device returns
//   --tcp HOST:PORT    connects to a TCP host at start
//   --listen PORT      listens on a TCP port at start
//   --settings FILE    the settings file to read and write
//   --log FILE         logs every received byte, exactly as received, to FILE from the start
//                      (for this run only: not saved)
//   --timestamps       shows every received line behind its arrival time (Tools → Time stamps)
//   --mbus-decode FILE, --mbus-scan primary|secondary, --mbus-read ADDRESS, --mbus-timeout MS
//                      M-Bus runs without windows (app/MbusCommand.h); they use --port and
//                      --speed but open no window and save nothing
//   --help, --version

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "app/MbusCommand.h"
#include "terminal/StartOptions.h"

namespace trelmo {

// What the choice of the settings file's place asks of the machine (its own answers unless a
// test gives others).
struct ProgramFolder {
    // Whether this user may write the path (a folder, or a file).
    std::function<bool(const QString& path)> writable;
    // Whether the folder belongs to this user (a build or an unpacked folder of theirs).
    std::function<bool(const QString& folder)> ownedByUser;
    std::function<bool(const QString& file)> exists;
};

// Whether a folder is one of the system's own (/usr, /usr/local, /opt, /bin, ... and what
// lies below them): a program installed there never keeps its settings beside itself, even
// when the folder may be written (the superuser may write everywhere).
bool isSystemFolder(const QString& folder);

// The settings file: beside `executable`, with its name (trelmo -> trelmo.ini), where that
// folder is the user's own: not a system folder, and either a settings file already stands
// there that may be written, or the folder is this user's and may be written. Otherwise
// trelmo.ini in `configHome`/trelmo (configHome: $XDG_CONFIG_HOME, or ~/.config; a relative
// one is not a place).
QString settingsLocation(const QString& executable, const QString& configHome,
                         const ProgramFolder& folder);
// The same with this process's executable, environment and file permissions.
QString settingsLocation();

// What parsing the command line gave: the options, or text to print and an exit code
// (--help, --version, or a mistake, whose text goes to standard error).
struct ParsedCommandLine {
    StartOptions options;
    // An M-Bus run instead of the windows (its kind is None when none was asked for; set even
    // when the line has a mistake, so that the mistake is told without a window system).
    MbusRequest mbus;
    bool exit = false;
    int exitCode = 0;
    QString output;  // for standard output (help, version)
    QString error;   // for standard error
};
ParsedCommandLine parseCommandLine(const QStringList& arguments);

}  // namespace trelmo
