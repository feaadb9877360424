// Our writer opened on one stream of 24-bit bottom-up frames at 25 frames
// a second, for the tests and benchmarks that drive it directly.
#pragma once

#include "platform/avi/avi_writer.h"

#include <string>

inline bool startWriterStream(avi::AviWriter& writer, const std::string& path, int width, int height)
{
    avi::StreamHeader stream;
    stream.type = avi::kVideoStream;
    stream.rate = 25;
    avi::BitmapInfoHeader format {};
    format.size = sizeof format;
    format.width = width;
    format.height = height;
    format.planes = 1;
    format.bitCount = 24;
    format.sizeImage = static_cast<uint32_t>((width * 3 + 3) & ~3) * static_cast<uint32_t>(height);
    return writer.open(path.c_str()).ok() && writer.createStream(stream).ok() &&
           writer.setFormat(&format, sizeof format).ok();
}
