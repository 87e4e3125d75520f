#pragma once
// The compact record of every received byte behind the byte table: per byte its value and
// one flag byte (how its ASCII cell is written, its parity value). Two bytes per received
// byte, kept in fixed-size chunks so growth never copies what is already stored. Cell texts
// are computed when asked for.

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace trelmo {

// The parity value shown for a byte: none (no parity on the link), "0" or "1".
enum class ParityMark : uint8_t { None = 0, Zero = 1, One = 2 };

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
    // the byte has one, otherwise the character; parity: its Parity cell.
    void append(uint8_t value, bool useNames, ParityMark parity) {
        if (m_size == m_capacity)
            grow();
        Chunk& c = *m_chunks.back();
        const qsizetype at = m_size & (kChunkBytes - 1);
        c.values[at] = value;
        c.flags[at] = static_cast<uint8_t>((useNames ? kNamesFlag : 0) |
                                           (static_cast<uint8_t>(parity) << kParityShift));
        ++m_size;
    }

    // Number of stored bytes.
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // Accessors by 0-based index; index must be in [0, size()).
    uint8_t value(qsizetype index) const {
        return m_chunks[index / kChunkBytes]->values[index & (kChunkBytes - 1)];
    }
    bool usesNames(qsizetype index) const { return flags(index) & kNamesFlag; }
    ParityMark parity(qsizetype index) const {
        return static_cast<ParityMark>((flags(index) >> kParityShift) & 3);
    }

    // The text of one cell of byte `index` (0-based): No. (index + 1 in decimal), ASCII,
    // Hex ("0x" + two upper-case digits), Dec (0..255), Parity ("1", "0" or empty).
    // An index or column out of range gives an empty text.
    QString cellText(qsizetype index, int column) const;

    // All stored values in order.
    QByteArray bytes() const;

    // Forgets every byte and releases the storage.
    void clear();

    // Bytes of heap memory held by the store.
    size_t memoryUsage() const;

    static constexpr qsizetype kChunkBytes = 16384;  // bytes per chunk, a power of two

  private:
    struct Chunk {
        uint8_t values[kChunkBytes];
        uint8_t flags[kChunkBytes];
    };
    static constexpr uint8_t kNamesFlag = 1;
    static constexpr int kParityShift = 1;

    uint8_t flags(qsizetype index) const {
        return m_chunks[index / kChunkBytes]->flags[index & (kChunkBytes - 1)];
    }
    void grow();

    std::vector<std::unique_ptr<Chunk>> m_chunks;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
};

}  // namespace trelmo
