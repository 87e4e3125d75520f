#pragma once
// Rates outside the standard termios table (termios2 with BOTHER), and the rule for the rate a
// driver reports back. Kept apart because the kernel's termios2 declarations clash with
// glibc's <termios.h>.

#include <cstdint>

namespace trelmo::serial::posix {

// Sets input and output rate of fd to rate bit/s; 0 or an errno code.
int SetCustomRate(int fd, uint32_t rate);
// Reads the output rate back; 0 or an errno code.
int GetRate(int fd, uint32_t& rate);

// Whether the rate a driver reports after being asked for one will do: within 2 % of it,
// either way (what a UART tolerates between the two ends of a line). Drivers of USB adapters
// report the nearest rate their divisor gives, not always the one asked for. No rate (0) is
// never accepted.
bool RateAccepted(uint32_t asked, uint32_t reported);

}  // namespace trelmo::serial::posix
