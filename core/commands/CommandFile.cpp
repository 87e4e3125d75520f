#include "core/commands/CommandFile.h"

#include <QSet>

#include <QFile>
#include <QSaveFile>

#include "core/Codec.h"

namespace trelmo {

ETextFileError::ETextFileError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

QStringList splitCommandLines(QByteArrayView contents) {
    QStringList commands;
    const qsizetype n = contents.size();
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < n) {
        const char c = contents[i];
        if (c == '\r' || c == '\n') {
            commands.append(codec::toUnicode(contents.sliced(start, i - start)));
            i += (c == '\r' && i + 1 < n && contents[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n)
        commands.append(codec::toUnicode(contents.sliced(start)));
    return commands;
}

QByteArray joinCommandLines(const QStringList& commands) {
    qsizetype total = 0;
    for (const QString& c : commands)
        total += c.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QString& c : commands) {
        out.append(codec::fromUnicode(c));
        out.append("\r\n", 2);
    }
    return out;
}

QStringList readCommandFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ETextFileError(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ETextFileError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return splitCommandLines(contents);
}

void writeCommandFile(const QString& path, const QStringList& commands) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ETextFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    // Written command by command so a long list never needs a second copy in memory.
    QByteArray chunk;
    for (const QString& c : commands) {
        chunk.append(codec::fromUnicode(c));
        chunk.append("\r\n", 2);
        if (chunk.size() >= (1 << 16)) {
            if (file.write(chunk) != chunk.size())
                break;
            chunk.clear();
        }
    }
    if (!chunk.isEmpty() && file.error() == QFileDevice::NoError)
        file.write(chunk);
    if (file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw ETextFileError(QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    if (!file.commit())
        throw ETextFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

QStringList lastDistinctCommands(const QStringList& commands, int count) {
    QStringList kept;
    QSet<QString> seen;
    for (qsizetype i = commands.size() - 1; i >= 0 && kept.size() < count; --i) {
        const QString& command = commands.at(i);
        if (command.isEmpty() || seen.contains(command))
            continue;
        seen.insert(command);
        kept.prepend(command);
    }
    return kept;
}

}  // namespace trelmo
