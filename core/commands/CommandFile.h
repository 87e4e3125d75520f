#pragma once
// Command files: one command string per line, Windows-1252 text. ".txt" and ".csv" files
// are read alike: a line is taken whole, commas included, with no field splitting.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace trelmo {

// A file that could not be read or written. message() names the file and the reason.
class ETextFileError : public std::runtime_error {
  public:
    explicit ETextFileError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// Splits file contents into commands. A line ends at CR LF, at a lone CR or at a lone LF;
// a line break at the very end adds no empty command; an empty line inside the text is an
// empty command. Any byte, NUL included, is kept as its Windows-1252 character.
QStringList splitCommandLines(QByteArrayView contents);

// The file contents for a list: every command followed by CR LF, the last one included.
// Characters the code page lacks are written as '?'.
QByteArray joinCommandLines(const QStringList& commands);

// Reads a command file into its commands (splitCommandLines on the whole file).
// Throws ETextFileError when the file cannot be opened or read.
QStringList readCommandFile(const QString& path);

// Writes the commands to path, replacing the file. The text goes to a temporary file in the
// same folder that is renamed over the target only when it is complete, so a failed save
// leaves the old file as it was and no partial file behind. Throws ETextFileError on failure.
void writeCommandFile(const QString& path, const QStringList& commands);

// The kept history of a command line: the last `count` distinct commands of the list, oldest
// first (a command sent several times counts once, at its last place). Empty commands are
// left out.
QStringList lastDistinctCommands(const QStringList& commands, int count);

}  // namespace trelmo
