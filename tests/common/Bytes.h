#pragma once
// Byte strings written as numbers: bytesOf({0x41, 0x00, 0xFF}).

#include <QByteArray>
#include <initializer_list>

namespace trelmo::test {

inline QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

}  // namespace trelmo::test
