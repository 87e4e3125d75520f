#pragma once
// The compact record of every received byte behind the byte table: one byte per received
// byte, its value, kept in fixed-size chunks so growth never copies what is already stored.
// How a byte's cells are written (control names in the ASCII cell or not, the line's parity
// setting) changes only when the display mode, the link or the port settings change, so it
// is kept once per run of bytes received with the same settings. Cell texts and parity
// values are computed when asked for.

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace trelmo {

// The parity value shown for a byte: none (no parity on the link), "0" or "1".
enum class ParityMark : uint8_t { None = 0, Zero = 1, One = 2 };

// The serial port's parity setting.
enum class LineParity { None, Odd, Even, Mark, Space };

// The parity value of a byte, counting the one bits of all eight bits: Odd gives 1 for an
// odd count, Even 1 for an even count, Mark always 1, Space always 0, None no value.
ParityMark parityValue(uint8_t byte, LineParity parity);

// The name the receive display gives a control byte: "<NUL>" (0), "<SOH>" (1), "<STX>" (2),
// "<ETX>" (3), "<EOT>" (4), "<ENQ>" (5), "<ACK>" (6), "<LF>" (10), "<CR>" (13); empty for
// every other byte.
QLatin1StringView controlName(uint8_t byte);

// "0x" and the byte as two upper-case hexadecimal digits.
QString hexText(uint8_t byte);

class ByteStore {
  public:
    // The five columns of a byte row.
    enum Column { ColNo = 0, ColAscii = 1, ColHex = 2, ColDec = 3, ColParity = 4, ColumnCount = 5 };

    ByteStore() = default;
    ByteStore(const ByteStore&) = delete;
    ByteStore& operator=(const ByteStore&) = delete;
    ByteStore(ByteStore&&) = default;
    ByteStore& operator=(ByteStore&&) = default;

    // Appends one byte. useNames: its ASCII cell shows the control name (controlName) where
    // the byte has one, otherwise the character; parity: the line's parity setting, from
    // which its Parity cell is computed (LineParity::None leaves the cell empty).
    void append(uint8_t value, bool useNames, LineParity parity) {
        noteSettings(settingsOf(useNames, parity));
        if (size_ == capacity_)
            grow();
        chunks_.back()[size_ & (kChunkBytes - 1)] = value;
        ++size_;
    }
    // Appends a block of bytes received with the same settings.
    void append(QByteArrayView values, bool useNames, LineParity parity);

    // Number of stored bytes (counted on past 2^31; see startAt).
    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }

    // Accessors by 0-based index; index must be in [0, size()).
    uint8_t value(qsizetype index) const {
        return chunks_[index / kChunkBytes][index & (kChunkBytes - 1)];
    }
    bool usesNames(qsizetype index) const { return settingsAt(index) & kNamesFlag; }
    LineParity lineParity(qsizetype index) const {
        return static_cast<LineParity>(settingsAt(index) >> kParityShift);
    }
    // The byte's parity value under the line's parity setting when it was received.
    ParityMark parity(qsizetype index) const {
        return parityValue(value(index), lineParity(index));
    }

    // The text of one cell of byte `index` (0-based): No. (index + 1 in decimal), ASCII,
    // Hex ("0x" + two upper-case digits), Dec (0..255), Parity ("1", "0" or empty).
    // An index or column out of range (or a byte not kept) gives an empty text.
    QString cellText(qsizetype index, int column) const;

    // All stored values in order.
    QByteArray bytes() const;

    // Forgets every byte and releases the storage.
    void clear();

    // A seam for tests of long captures: an empty store behaves as if `count` bytes (rounded
    // down to whole chunks) had been received before and let go: size() counts them and the
    // next byte is number count + 1, but their cells read empty and they take no memory
    // beyond a pointer a chunk. Ignored unless the store is empty.
    void startAt(qsizetype count);
    // The first byte kept (0 unless startAt set another).
    qsizetype firstKept() const { return firstKept_; }

    // Bytes of heap memory held by the store.
    size_t memoryUsage() const;

    // Number of runs of bytes stored with the same settings.
    qsizetype settingsRunCount() const { return static_cast<qsizetype>(runs_.size()); }

    static constexpr qsizetype kChunkBytes = 65536;  // bytes per chunk, a power of two

  private:
    // The settings of a run: bit 0 names, bits 1..3 the LineParity.
    static constexpr uint8_t kNamesFlag = 1;
    static constexpr int kParityShift = 1;
    struct Run {
        qsizetype first;  // index of the run's first byte
        uint8_t settings;
    };

    static uint8_t settingsOf(bool useNames, LineParity parity) {
        return static_cast<uint8_t>((useNames ? kNamesFlag : 0) |
                                    (static_cast<uint8_t>(parity) << kParityShift));
    }
    // Called just before a byte is stored: starts a new run at it when its settings differ
    // from the last run's (so no run is ever empty).
    void noteSettings(uint8_t settings) {
        if (runs_.empty() || runs_.back().settings != settings)
            runs_.push_back({size_, settings});
    }
    uint8_t settingsAt(qsizetype index) const;
    void grow();

    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
    std::vector<Run> runs_;  // sorted by first; runs_[0].first == 0
    qsizetype size_ = 0;
    qsizetype capacity_ = 0;
    qsizetype firstKept_ = 0;  // bytes before it were let go (startAt): their chunks are null
};

}  // namespace trelmo
