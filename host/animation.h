// The stand-in host's picture: a gradient, a bar that moves one step per
// frame, and the frame's number drawn as 32 black and white cells, so a
// dropped, repeated or flipped frame shows to the eye and to a program.
#pragma once

#include <cstddef>
#include <cstdint>

// Renders frame `number` as width x height 32-bit pixels, top row first,
// blue in byte 0. Byte 3 carries a pattern too, so a recording that keeps
// or drops it can be told apart.
void renderAnimationFrame(uint32_t* pixels, int width, int height, uint32_t number);

// Reads the frame number back from a top-down 32-bit (bytesPerPixel 4) or
// 24-bit (3) picture. False when the picture is too small to carry it.
bool readFrameNumber(const uint8_t* pixels, int width, int height, size_t stride, int bytesPerPixel,
                     uint32_t& number);
