// libFuzzer target: splitting a command file into commands. Any bytes are file contents.
// Checked on every input:
// - no command holds CR or LF, and each command's characters are the code-page characters of
//   the bytes between line breaks (so no byte is lost, altered or added);
// - the number of commands follows from the line breaks (CR LF, lone CR, lone LF; a break at
//   the very end adds no empty command);
// - joining the commands with CR LF and splitting again gives the same list.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "core/Codec.h"
#include "core/commands/CommandFile.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView contents(reinterpret_cast<const char*>(data),
                                  static_cast<qsizetype>(size));
    const QStringList commands = trelmo::splitCommandLines(contents);

    // Counted on the bytes: one command per line break, plus an unterminated last line.
    qsizetype breaks = 0;
    QByteArray kept;  // every byte that is not part of a line break
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\r') {
            ++breaks;
            if (i + 1 < size && data[i + 1] == '\n')
                ++i;
        } else if (data[i] == '\n') {
            ++breaks;
        } else {
            kept.append(static_cast<char>(data[i]));
        }
    }
    const bool openLast = size > 0 && data[size - 1] != '\r' && data[size - 1] != '\n';
    FUZZ_CHECK(commands.size() == breaks + (openLast ? 1 : 0));

    QByteArray rejoined;  // the commands' bytes without any break
    for (const QString& c : commands) {
        FUZZ_CHECK(!c.contains(QLatin1Char('\r')));
        FUZZ_CHECK(!c.contains(QLatin1Char('\n')));
        rejoined += trelmo::codec::fromUnicode(c);
    }
    FUZZ_CHECK(rejoined == kept);

    const QByteArray joined = trelmo::joinCommandLines(commands);
    FUZZ_CHECK(joined.size() == kept.size() + 2 * commands.size());
    FUZZ_CHECK(commands.isEmpty() || joined.endsWith("\r\n"));
    FUZZ_CHECK(trelmo::splitCommandLines(joined) == commands);
    return 0;
}
