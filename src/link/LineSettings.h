// The serial line's fixed settings: the port is opened with them, and what
// describes or paces the line (the connection dialog's text, the simulator)
// takes them from here.
#pragma once

#include <cstdint>

constexpr uint32_t LINE_BAUD_RATE = 57600;
constexpr uint8_t LINE_DATA_BITS = 8;
// 8N1: a start bit, the data bits and a stop bit for every byte.
constexpr uint32_t LINE_BITS_PER_BYTE = 1 + LINE_DATA_BITS + 1;
constexpr uint32_t LINE_BYTES_PER_SECOND = LINE_BAUD_RATE / LINE_BITS_PER_BYTE;
