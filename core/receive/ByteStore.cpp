#include "core/receive/ByteStore.h"

#include "core/Codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace trelmo {

ParityMark parityValue(uint8_t byte, LineParity parity) {
    const bool oddOnes = (std::popcount(byte) & 1) != 0;
    switch (parity) {
        case LineParity::None:
            return ParityMark::None;
        case LineParity::Odd:
            return oddOnes ? ParityMark::One : ParityMark::Zero;
        case LineParity::Even:
            return oddOnes ? ParityMark::Zero : ParityMark::One;
        case LineParity::Mark:
            return ParityMark::One;
        case LineParity::Space:
            return ParityMark::Zero;
    }
    return ParityMark::None;
}

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
    if (index < firstKept_ || index >= size_)
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

void ByteStore::append(QByteArrayView values, bool useNames, LineParity parity) {
    if (values.isEmpty())
        return;
    noteSettings(settingsOf(useNames, parity));
    const char* src = values.data();
    qsizetype left = values.size();
    while (left > 0) {
        if (size_ == capacity_)
            grow();
        const qsizetype at = size_ & (kChunkBytes - 1);
        const qsizetype n = std::min(left, kChunkBytes - at);
        std::memcpy(chunks_.back().get() + at, src, static_cast<size_t>(n));
        src += n;
        left -= n;
        size_ += n;
    }
}

uint8_t ByteStore::settingsAt(qsizetype index) const {
    // Reads mostly go to the newest bytes, which belong to the last run.
    if (index >= runs_.back().first)
        return runs_.back().settings;
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), index,
                                        [](qsizetype i, const Run& r) { return i < r.first; });
    return std::prev(after)->settings;
}

QByteArray ByteStore::bytes() const {
    QByteArray out(size_, Qt::Uninitialized);
    char* dst = out.data();
    qsizetype left = size_;
    for (const auto& chunk : chunks_) {
        const qsizetype n = std::min(left, kChunkBytes);
        if (chunk)
            std::memcpy(dst, chunk.get(), static_cast<size_t>(n));
        else
            std::memset(dst, 0, static_cast<size_t>(n));  // let go (startAt)
        dst += n;
        left -= n;
        if (left == 0)
            break;
    }
    return out;
}

void ByteStore::clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    runs_.clear();
    runs_.shrink_to_fit();
    size_ = 0;
    capacity_ = 0;
    firstKept_ = 0;
}

void ByteStore::startAt(qsizetype count) {
    if (size_ != 0 || count < kChunkBytes)
        return;
    const qsizetype chunks = count / kChunkBytes;
    chunks_.resize(static_cast<size_t>(chunks));
    size_ = capacity_ = firstKept_ = chunks * kChunkBytes;
}

size_t ByteStore::memoryUsage() const {
    const auto kept = chunks_.size() - static_cast<size_t>(firstKept_ / kChunkBytes);
    return kept * static_cast<size_t>(kChunkBytes) + chunks_.capacity() * sizeof(chunks_[0]) +
           runs_.capacity() * sizeof(Run);
}

void ByteStore::grow() {
    // Uninitialised on purpose: every slot is written before it is counted.
    chunks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kChunkBytes));
    capacity_ += kChunkBytes;
}

}  // namespace trelmo
