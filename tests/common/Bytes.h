#pragma once
// Test data as bytes: byte strings written as numbers, position-dependent patterns and
// streams (a lost, doubled or swapped block shows), numbered text lines, and where two byte
// strings first differ.

#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace trelmo::test {

// bytesOf({0x41, 0x00, 0xFF}).
inline QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// Bytes whose value depends on their position (every value occurs), so a lost or swapped
// block shows; another seed gives another sequence.
inline QByteArray pattern(int size, int seed = 0) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return data;
}
// The same bytes under the name the serial fixtures gave them (tests written against it).
inline QByteArray Pattern(int size, int seed = 0) {
    return pattern(size, seed);
}

// Byte `i` of an endless stream whose value depends on its position: printable letters, a line
// break after every 63 of them, and a shift every 4093 bytes so a lost, doubled or swapped
// block changes what follows.
inline uint8_t streamByte(qint64 i) {
    if (i % 64 == 63)
        return '\n';
    return static_cast<uint8_t>('A' + (i * 7 + i / 4093) % 26);
}

// FNV-1a, fed a byte at a time: compares streams too long to keep.
class RunningHash {
  public:
    void add(uint8_t b) { h_ = (h_ ^ b) * 1099511628211ULL; }
    void add(const char* data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            add(static_cast<uint8_t>(data[i]));
    }
    uint64_t value() const { return h_; }

  private:
    uint64_t h_ = 1469598103934665603ULL;
};

// size bytes of numbered 64-byte lines ("00000042 " and printable characters, then CR LF), or
// of one line without any break (the CR LF becomes "..").
inline QByteArray numberedLines(qsizetype size, bool unending = false) {
    QByteArray out;
    out.reserve(size);
    for (qsizetype i = 0; out.size() < size; ++i) {
        QByteArray line = QByteArray::number(i).rightJustified(8, '0') + ' ';
        for (int k = 0; line.size() < 62; ++k)
            line.append(static_cast<char>(0x21 + (i + k) % 94));
        line.append(unending ? ".." : "\r\n");
        out.append(line);
    }
    out.truncate(size);
    return out;
}

// Where two byte strings first differ (the shorter one's length when one is a prefix of the
// other; -1 when they are equal): a readable check for megabytes of data.
inline qsizetype FirstDifference(const QByteArray& a, const QByteArray& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return i;
    }
    return a.size() == b.size() ? -1 : n;
}

}  // namespace trelmo::test
