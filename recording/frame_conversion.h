// The standard frame form: the host's 32-bit top-down frame as 24-bit
// rows, bottom row first, each row padded with zero bytes to its stride.
#pragma once

#include <cstddef>
#include <cstdint>

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride);
