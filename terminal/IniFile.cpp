#include "terminal/IniFile.h"

#include <QFile>

#include "app/Codec.h"
#include "app/Convert.h"

namespace trelmo {

namespace {

// Blanks and tabs around a name or value; the code page keeps ASCII blanks as bytes.
QByteArray trimmedBytes(const QByteArray& bytes) {
    qsizetype b = 0;
    qsizetype e = bytes.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    while (b < e && blank(bytes[b]))
        ++b;
    while (e > b && blank(bytes[e - 1]))
        --e;
    return bytes.mid(b, e - b);
}

bool sameName(const QByteArray& raw, const QString& name) {
    return QString::compare(codec::toUnicode(trimmedBytes(raw)), name.trimmed(),
                            Qt::CaseInsensitive) == 0;
}

// The name inside "[...]" when the line is a section line.
bool sectionName(const QByteArray& line, QByteArray* name) {
    const QByteArray t = trimmedBytes(line);
    if (!t.startsWith('['))
        return false;
    qsizetype close = t.indexOf(']');
    if (close < 0)
        close = t.size();
    *name = t.mid(1, close - 1);
    return true;
}

bool isComment(const QByteArray& line) {
    const QByteArray t = trimmedBytes(line);
    return t.startsWith(';');
}

QString singleLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

}  // namespace

int32_t iniTextToInt(const QString& text, int32_t fallback) {
    QString t = text;
    if (t.size() > 2 && t[0] == QLatin1Char('0') &&
        (t[1] == QLatin1Char('x') || t[1] == QLatin1Char('X'))) {
        t = QStringLiteral("$") + t.mid(2);
    }
    return StrToIntDef(t, fallback);
}

IniFile::IniFile(const QString& path) : path_(path) {
    QFile f(path_);
    QByteArray data;
    if (f.open(QIODevice::ReadOnly))
        data = f.readAll();
    if (data.isEmpty())
        return;
    endsWithNewline_ = data.endsWith('\n');
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype nl = data.indexOf('\n', start);
        if (nl < 0)
            nl = data.size();
        qsizetype end = nl;
        if (end > start && data[end - 1] == '\r')
            --end;
        lines_.push_back(data.mid(start, end - start));
        start = nl + 1;
    }
}

IniFile::Found IniFile::find(const QString& section, const QString& key) const {
    Found found;
    QByteArray name;
    const int count = static_cast<int>(lines_.size());
    for (int i = 0; i < count; ++i) {
        const QByteArray& line = lines_[static_cast<size_t>(i)];
        if (sectionName(line, &name)) {
            if (found.sectionLine >= 0)
                break;  // the section ended
            if (sameName(name, section)) {
                found.sectionLine = i;
                found.lastLine = i;
            }
            continue;
        }
        if (found.sectionLine < 0)
            continue;
        if (isComment(line))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        found.lastLine = i;
        if (found.keyLine < 0 && sameName(line.left(eq), key))
            found.keyLine = i;
    }
    return found;
}

bool IniFile::valueExists(const QString& section, const QString& key) const {
    return find(section, key).keyLine >= 0;
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& fallback) const {
    const Found f = find(section, key);
    if (f.keyLine < 0)
        return fallback;
    const QByteArray& line = lines_[static_cast<size_t>(f.keyLine)];
    QByteArray value = trimmedBytes(line.mid(line.indexOf('=') + 1));
    if (value.size() > kReadLimit)
        value.truncate(kReadLimit);
    return codec::toUnicode(value);
}

int32_t IniFile::readInteger(const QString& section, const QString& key, int32_t fallback) const {
    const Found f = find(section, key);
    if (f.keyLine < 0)
        return fallback;
    return iniTextToInt(readString(section, key, QString()), fallback);
}

bool IniFile::readBool(const QString& section, const QString& key, bool fallback) const {
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QByteArray line =
        codec::fromUnicode(singleLine(key.trimmed())) + '=' + codec::fromUnicode(singleLine(value));
    const Found f = find(section, key);
    if (f.keyLine >= 0) {
        lines_[static_cast<size_t>(f.keyLine)] = line;
    } else if (f.sectionLine >= 0) {
        lines_.insert(lines_.begin() + f.lastLine + 1, line);
    } else {
        if (!lines_.empty() && !trimmedBytes(lines_.back()).isEmpty())
            lines_.push_back({});
        lines_.push_back('[' + codec::fromUnicode(singleLine(section.trimmed())) + ']');
        lines_.push_back(line);
        endsWithNewline_ = true;
    }
    save();
}

void IniFile::writeInteger(const QString& section, const QString& key, int32_t value) {
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value) {
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray IniFile::contents() const {
    qsizetype total = 0;
    for (const QByteArray& l : lines_)
        total += l.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        if (i + 1 < lines_.size() || endsWithNewline_)
            out += "\r\n";
    }
    return out;
}

void IniFile::save() const {
    QFile f(path_);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw IniWriteError("cannot write " + path_.toStdString() + ": " +
                            f.errorString().toStdString());
    }
    const QByteArray data = contents();
    if (f.write(data) != data.size() || !f.flush()) {
        throw IniWriteError("cannot write " + path_.toStdString() + ": " +
                            f.errorString().toStdString());
    }
}

}  // namespace trelmo
