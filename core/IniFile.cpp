#include "core/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include "core/Codec.h"
#include "core/Convert.h"

namespace trelmo {

namespace {

// Blanks and tabs around a name or value; the code page keeps ASCII blanks as bytes.
QByteArray trimmedBytes(const QByteArray& bytes) {
    const char* b = bytes.constData();
    const char* e = b + bytes.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    while (b != e && blank(*b))
        ++b;
    while (e != b && blank(e[-1]))
        --e;
    return bytes.mid(b - bytes.constData(), e - b);
}

QString singleLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

}  // namespace

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
        insertLine(lines_.size(), data.mid(start, end - start));
        start = nl + 1;
    }
}

IniFile::LineInfo IniFile::classify(const QByteArray& line) {
    LineInfo info;
    const QByteArray t = trimmedBytes(line);
    if (t.startsWith('[')) {
        qsizetype close = t.indexOf(']');
        if (close < 0)
            close = t.size();
        info.kind = LineInfo::Kind::Section;
        info.name = codec::toUnicode(trimmedBytes(t.mid(1, close - 1)));
    } else if (t.startsWith(';')) {
        info.kind = LineInfo::Kind::Comment;
    } else if (const qsizetype eq = line.indexOf('='); eq >= 0) {
        info.kind = LineInfo::Kind::Key;
        info.name = codec::toUnicode(trimmedBytes(line.left(eq)));
    }
    return info;
}

void IniFile::insertLine(size_t at, const QByteArray& line) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
    info_.insert(info_.begin() + static_cast<std::ptrdiff_t>(at), classify(line));
}

IniFile::Found IniFile::find(const QString& section, const QString& key) const {
    Found found;
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    auto same = [](const QString& a, const QString& b) {
        return a.size() == b.size() && QString::compare(a, b, Qt::CaseInsensitive) == 0;
    };
    const int count = static_cast<int>(info_.size());
    for (int i = 0; i < count; ++i) {
        const LineInfo& line = info_[static_cast<size_t>(i)];
        if (line.kind == LineInfo::Kind::Section) {
            if (found.sectionLine >= 0)
                break;  // the section ended
            if (same(line.name, sectionName)) {
                found.sectionLine = i;
                found.lastLine = i;
            }
            continue;
        }
        if (found.sectionLine < 0 || line.kind != LineInfo::Kind::Key)
            continue;
        found.lastLine = i;
        if (found.keyLine < 0 && same(line.name, keyName))
            found.keyLine = i;
    }
    return found;
}

bool IniFile::valueExists(const QString& section, const QString& key) const {
    return find(section, key).keyLine >= 0;
}

QString IniFile::valueAt(int line) const {
    const QByteArray& text = lines_[static_cast<size_t>(line)];
    QByteArray value = trimmedBytes(text.mid(text.indexOf('=') + 1));
    if (value.size() > kReadLimit)
        value.truncate(kReadLimit);
    return codec::toUnicode(value);
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& fallback) const {
    const Found f = find(section, key);
    return f.keyLine < 0 ? fallback : valueAt(f.keyLine);
}

int32_t IniFile::readInteger(const QString& section, const QString& key, int32_t fallback) const {
    const Found f = find(section, key);
    return f.keyLine < 0 ? fallback : StrToIntDef(valueAt(f.keyLine), fallback);
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
        info_[static_cast<size_t>(f.keyLine)] = classify(line);
    } else if (f.sectionLine >= 0) {
        insertLine(static_cast<size_t>(f.lastLine) + 1, line);
    } else {
        if (!lines_.empty() && !trimmedBytes(lines_.back()).isEmpty())
            insertLine(lines_.size(), {});
        insertLine(lines_.size(), '[' + codec::fromUnicode(singleLine(section.trimmed())) + ']');
        insertLine(lines_.size(), line);
        endsWithNewline_ = true;
    }
    if (held_)
        pending_ = true;
    else
        save();
}

void IniFile::commit() {
    if (!pending_)
        return;
    save();
    pending_ = false;
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
    // A new file beside the old one, renamed over it once complete: a crash or a full disk
    // leaves the old file whole. Where the folder is not ours to write but the file is, the
    // file is written in place.
    QSaveFile f(path_);
    f.setDirectWriteFallback(true);
    const QByteArray data = contents();
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        throw IniWriteError("cannot write " + path_.toStdString() + ": " +
                            f.errorString().toStdString());
    }
}

}  // namespace trelmo
