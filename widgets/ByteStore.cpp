#include "widgets/ByteStore.h"

#include "app/Codec.h"

#include <algorithm>

namespace trelmo {

QLatin1StringView controlName(uint8_t byte) {
    switch (byte) {
        case 0:
            return QLatin1StringView("<NUL>");
        case 1:
            return QLatin1StringView("<SOH>");
        case 2:
            return QLatin1StringView("<STX>");
        case 3:
            return QLatin1StringView("<ETX>");
        case 4:
            return QLatin1StringView("<EOT>");
        case 5:
            return QLatin1StringView("<ENQ>");
        case 6:
            return QLatin1StringView("<ACK>");
        case 10:
            return QLatin1StringView("<LF>");
        case 13:
            return QLatin1StringView("<CR>");
        default:
            return QLatin1StringView();
    }
}

QString hexText(uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const QChar text[4] = {u'0', u'x', QLatin1Char(kDigits[byte >> 4]),
                           QLatin1Char(kDigits[byte & 15])};
    return QString(text, 4);
}

QString ByteStore::cellText(qsizetype index, int column) const {
    if (index < 0 || index >= m_size)
        return QString();
    const uint8_t v = value(index);
    switch (column) {
        case ColNo:
            return QString::number(index + 1);
        case ColAscii: {
            if (usesNames(index)) {
                const QLatin1StringView name = controlName(v);
                if (!name.isEmpty())
                    return QString(name);
            }
            return QString(codec::toChar(v));
        }
        case ColHex:
            return hexText(v);
        case ColDec:
            return QString::number(v);
        case ColParity:
            switch (parity(index)) {
                case ParityMark::One:
                    return QStringLiteral("1");
                case ParityMark::Zero:
                    return QStringLiteral("0");
                case ParityMark::None:
                    break;
            }
            return QString();
        default:
            return QString();
    }
}

QByteArray ByteStore::bytes() const {
    QByteArray out(m_size, Qt::Uninitialized);
    char* dst = out.data();
    qsizetype left = m_size;
    for (const auto& chunk : m_chunks) {
        const qsizetype n = std::min(left, kChunkBytes);
        std::copy_n(reinterpret_cast<const char*>(chunk->values), n, dst);
        dst += n;
        left -= n;
        if (left == 0)
            break;
    }
    return out;
}

void ByteStore::clear() {
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_size = 0;
    m_capacity = 0;
}

size_t ByteStore::memoryUsage() const {
    return m_chunks.size() * sizeof(Chunk) + m_chunks.capacity() * sizeof(m_chunks[0]);
}

void ByteStore::grow() {
    // Uninitialised on purpose: every slot is written before it is counted.
    m_chunks.push_back(std::make_unique_for_overwrite<Chunk>());
    m_capacity += kChunkBytes;
}

}  // namespace trelmo
