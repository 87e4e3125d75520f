#pragma once
// A private-profile INI file: "[Section]" lines and "Key=Value" lines.
//
// Lookups of sections and keys ignore case and surrounding blanks; values are trimmed and
// cut to 2047 characters. A write replaces one key's line in place (or adds the key at the
// end of its section, or the section at the end of the file) and keeps every other line,
// comment and blank line as it was. The file is decoded and encoded with the system's 8-bit
// code page. A missing or unreadable file reads as empty, so every read gives its default.
//
// The file is read once when the object is made. Each write goes to disk at once, unless
// writes are held (holdWrites): then commit() writes them all in one go. The file is always
// written whole to a new file in the same folder and renamed over the old one, so a crash or
// a full disk never leaves it cut short. Lines are kept as raw bytes and a write only
// splices one line, so even a very large file costs one buffer copy per write. Each line is
// classified once (section, comment, key) with its name decoded and trimmed, so a lookup
// compares names without decoding the file again.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace trelmo {

// A write that could not reach the disk (read-only file or folder, disk full).
class IniWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IniFile {
  public:
    // The longest value a read returns.
    static constexpr int kReadLimit = 2047;

    explicit IniFile(const QString& path);

    const QString& path() const { return path_; }

    // True when the section holds the key.
    bool valueExists(const QString& section, const QString& key) const;

    // The trimmed value (at most kReadLimit characters), or `fallback` when the key is missing.
    QString readString(const QString& section, const QString& key, const QString& fallback) const;
    // A decimal value, or hexadecimal after "0x"/"0X" when the text is longer than two
    // characters; `fallback` when the key is missing or its value is not a number.
    int32_t readInteger(const QString& section, const QString& key, int32_t fallback) const;
    // readInteger(section, key, fallback ? 1 : 0) != 0.
    bool readBool(const QString& section, const QString& key, bool fallback) const;

    // From now on writes change the object only; commit() puts them on disk.
    void holdWrites() { held_ = true; }
    // Writes the held changes (nothing when there are none); throws IniWriteError when the file
    // cannot be written, and the file on disk is then as it was.
    void commit();

    // Sets one key and writes the file (unless writes are held); throws IniWriteError when the
    // file cannot be written.
    // Line breaks in the value are replaced by blanks so one key stays one line.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int32_t value);
    // Written as "1" or "0".
    void writeBool(const QString& section, const QString& key, bool value);

    // The file's bytes as they would be written now.
    QByteArray contents() const;

  private:
    struct Found {
        int sectionLine = -1;  // the "[Section]" line, -1 when the section is missing
        int keyLine = -1;      // the key's line, -1 when the key is missing
        int lastLine = -1;     // the last key line of the section (insertion point)
    };
    // What a line is, and for a section or key line its trimmed, decoded name.
    struct LineInfo {
        enum class Kind : uint8_t { Other, Section, Comment, Key };
        Kind kind = Kind::Other;
        QString name;
    };
    static LineInfo classify(const QByteArray& line);

    Found find(const QString& section, const QString& key) const;
    // The value of a key line as a read returns it.
    QString valueAt(int line) const;
    void insertLine(size_t at, const QByteArray& line);
    void save() const;

    QString path_;
    std::vector<QByteArray> lines_;  // without their line ends
    std::vector<LineInfo> info_;     // one per line
    bool endsWithNewline_ = true;
    bool held_ = false;     // writes wait for commit()
    bool pending_ = false;  // held writes not yet on disk
};

}  // namespace trelmo
