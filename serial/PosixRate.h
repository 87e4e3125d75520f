#pragma once
// Rates outside the standard termios table (termios2 with BOTHER). Kept apart because the
// kernel's termios2 declarations clash with glibc's <termios.h>.

#include <cstdint>

namespace trelmo::serial::posix {

// Sets input and output rate of fd to rate bit/s; 0 or an errno code.
int SetCustomRate(int fd, uint32_t rate);
// Reads the output rate back; 0 or an errno code.
int GetRate(int fd, uint32_t& rate);

}  // namespace trelmo::serial::posix
