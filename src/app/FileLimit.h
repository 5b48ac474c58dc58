#pragma once

#include <cstdint>

// The open-file soft limit the program asks for: the hard limit, but at most
// 65536 (an unlimited hard limit gives 65536). Both as unsigned 64-bit values.
std::uint64_t computeSoftLimit(std::uint64_t soft, std::uint64_t hard);

// Raises the process's open-file soft limit to computeSoftLimit and prints
// "[App] File descriptor limit set to <n>". A refused change is ignored; when
// the limits cannot be read nothing is changed or printed.
void raiseOpenFileLimit();
