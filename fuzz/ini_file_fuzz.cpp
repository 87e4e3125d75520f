// libFuzzer target: the settings file reader and writer. The input is written as the
// settings file; every key the program reads at start-up, plus a section and keys named in
// the input itself, is read. Then one key is written. Checked on every input:
// - a read returns the key's text or the fallback, never more than the read limit, and the
//   integer and boolean reads agree with the string read;
// - the bytes the object would write read back the same values (the reader is stable);
// - after the write the written key reads its value (trimmed, line breaks as blanks, cut to
//   the read limit), every other key reads as before, from the object and from the file.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Codec.h"
#include "core/Convert.h"
#include "core/IniFile.h"
#include "fuzz/FuzzCheck.h"

namespace {

struct Key {
    QString section;
    QString key;
};

// What the program reads at start-up and writes at shutdown.
const std::vector<Key>& fixedKeys() {
    static const std::vector<Key> keys = {
        {QStringLiteral("Com port"), QStringLiteral("Number")},
        {QStringLiteral("Com port"), QStringLiteral("Parity")},
        {QStringLiteral("Com port"), QStringLiteral("Speed, bps")},
        {QStringLiteral("Com port"), QStringLiteral("Stop bits")},
        {QStringLiteral("Com port"), QStringLiteral("Data bits")},
        {QStringLiteral("Com port"), QStringLiteral("RTS control")},
        {QStringLiteral("Com port"), QStringLiteral("DTR control")},
        {QStringLiteral("Misc"), QStringLiteral("Delay")},
        {QStringLiteral("Misc"), QStringLiteral("Data in hex")},
        {QStringLiteral("Misc"), QStringLiteral("Calc crc")},
        {QStringLiteral("Misc"), QStringLiteral("Calc crc16")},
        {QStringLiteral("Misc"), QStringLiteral("Command delay")},
        {QStringLiteral("TCPConn"), QStringLiteral("Host")},
        {QStringLiteral("TCPConn"), QStringLiteral("Port")},
        {QStringLiteral("TCPConn"), QStringLiteral("Timeout")},
        {QStringLiteral("Save data"), QStringLiteral("Autosave")},
    };
    return keys;
}

// A name as a lookup takes it: blanks around it do not count. Names with anything at their
// ends that the file's blank rule (which also drops NUL) and QString's trimming treat
// differently are left out, so every name used has one meaning; so are names holding a CR,
// which a write turns into a blank (one key, one line).
bool usableName(const QString& name) {
    return !name.isEmpty() && name == name.trimmed() && name.front() != QChar(0) &&
           name.back() != QChar(0) && !name.contains(QLatin1Char('=')) &&
           !name.contains(QLatin1Char('\r')) && !name.startsWith(QLatin1Char('[')) &&
           !name.startsWith(QLatin1Char(';')) && !name.contains(QLatin1Char(']'));
}

// The first section named in the input and up to four keys from the lines after it.
std::vector<Key> keysFromInput(const QByteArray& data) {
    std::vector<Key> keys;
    QString section;
    for (const QByteArray& rawLine : data.split('\n')) {
        const QString line = trelmo::codec::toUnicode(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (!section.isEmpty())
                break;
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = line.mid(1, close < 0 ? -1 : close - 1);
            if (!usableName(name))
                break;
            section = name;
            continue;
        }
        if (section.isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString name = line.left(eq);
        if (usableName(name))
            keys.push_back({section, name});
        if (keys.size() == 4)
            break;
    }
    return keys;
}

bool sameKey(const Key& a, const Key& b) {
    return QString::compare(a.section.trimmed(), b.section.trimmed(), Qt::CaseInsensitive) == 0 &&
           QString::compare(a.key.trimmed(), b.key.trimmed(), Qt::CaseInsensitive) == 0;
}

// Not a possible value: a read never returns a line break.
const QString kMissing = QStringLiteral("\n<missing>");

// Every key's string read; with `numbers` also the existence, integer and boolean reads,
// checked against it (they are only checked on the object the input made: the copies are
// compared through their string reads).
std::vector<QString> readAll(const trelmo::IniFile& ini, const std::vector<Key>& keys,
                             bool numbers = true) {
    std::vector<QString> values;
    for (const Key& k : keys) {
        const QString value = ini.readString(k.section, k.key, kMissing);
        values.push_back(value);
        if (!numbers)
            continue;
        FUZZ_CHECK(ini.valueExists(k.section, k.key) == (value != kMissing));
        if (value != kMissing) {
            FUZZ_CHECK(value.size() <= trelmo::IniFile::kReadLimit);
            FUZZ_CHECK(!value.contains(QLatin1Char('\n')));
            const int32_t number = ini.readInteger(k.section, k.key, -7);
            FUZZ_CHECK(number == trelmo::StrToIntDef(value, -7));
            FUZZ_CHECK(ini.readBool(k.section, k.key, true) ==
                       (trelmo::StrToIntDef(value, 1) != 0));
        } else {
            FUZZ_CHECK(ini.readInteger(k.section, k.key, 12345) == 12345);
            FUZZ_CHECK(ini.readBool(k.section, k.key, true));
            FUZZ_CHECK(!ini.readBool(k.section, k.key, false));
        }
    }
    return values;
}

// What a written value reads back as: line breaks as blanks, the file's blanks trimmed,
// characters the code page lacks as '?', cut to the read limit.
QString expectedValue(const QString& written) {
    QByteArray bytes = trelmo::codec::fromUnicode(written);
    bytes.replace('\r', ' ');
    bytes.replace('\n', ' ');
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\0'; };
    qsizetype b = 0;
    qsizetype e = bytes.size();
    while (b < e && blank(bytes[b]))
        ++b;
    while (e > b && blank(bytes[e - 1]))
        --e;
    bytes = bytes.mid(b, std::min<qsizetype>(e - b, trelmo::IniFile::kReadLimit));
    return trelmo::codec::toUnicode(bytes);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    const QString copyPath = dir.filePath(QStringLiteral("copy.ini"));

    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    writeFile(path, input);

    std::vector<Key> keys = fixedKeys();
    for (const Key& k : keysFromInput(input))
        keys.push_back(k);

    trelmo::IniFile ini(path);
    const std::vector<QString> before = readAll(ini, keys);

    // The bytes it would write read back alike.
    writeFile(copyPath, ini.contents());
    FUZZ_CHECK(readAll(trelmo::IniFile(copyPath), keys, false) == before);

    // One key written: which one and its value come from the input.
    const size_t pick = size == 0 ? 0 : (data[0] + size) % keys.size();
    const Key target = keys[pick];
    const QString value = trelmo::codec::toUnicode(
        input.right(std::min<qsizetype>(input.size(), 40 + static_cast<qsizetype>(size % 3000))));
    try {
        ini.writeString(target.section, target.key, value);
    } catch (const trelmo::IniWriteError& e) {
        trelmo::fuzz::fail(e.what(), __FILE__, __LINE__);
    }
    FUZZ_CHECK(fileBytes(path) == ini.contents());

    const trelmo::IniFile reread(path);
    const std::vector<QString> after = readAll(ini, keys);
    FUZZ_CHECK(readAll(reread, keys, false) == after);
    const QString written = expectedValue(value);
    for (size_t i = 0; i < keys.size(); ++i) {
        if (sameKey(keys[i], target))
            FUZZ_CHECK(after[i] == written);
        else
            FUZZ_CHECK(after[i] == before[i]);
    }
    return 0;
}
