#pragma once
// Readable QString values in GoogleTest's failure output: the text in quotes, a very long one
// cut with its length given.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    constexpr qsizetype kShown = 2000;
    *os << '"' << s.left(kShown).toStdString();
    if (s.size() > kShown)
        *os << "\"... (" << s.size() << " characters)";
    else
        *os << '"';
}
