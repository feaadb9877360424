// The strh values the writer takes, from the AVISTREAMINFOA that a caller
// hands to AVIFileCreateStreamA. A template, because the record comes from
// <vfw.h> on Windows and from our own layer elsewhere, with the same fields.
#pragma once

#include "platform/avi/avi_writer.h"

#include <cstdint>
#include <cstring>

namespace avi {

template<typename StreamInfo>
StreamHeader streamHeaderFrom(const StreamInfo& info)
{
    StreamHeader header;
    header.type = info.fccType;
    header.handler = info.fccHandler;
    header.flags = info.dwFlags;
    header.priority = info.wPriority;
    header.language = info.wLanguage;
    header.initialFrames = info.dwInitialFrames;
    header.scale = info.dwScale;
    header.rate = info.dwRate;
    header.start = info.dwStart;
    header.suggestedBufferSize = info.dwSuggestedBufferSize;
    header.quality = info.dwQuality;
    header.sampleSize = info.dwSampleSize;
    header.frameLeft = clampToInt16(info.rcFrame.left);
    header.frameTop = clampToInt16(info.rcFrame.top);
    header.frameRight = clampToInt16(info.rcFrame.right);
    header.frameBottom = clampToInt16(info.rcFrame.bottom);
    static_assert(sizeof header.name == sizeof info.szName, "a 64-character name");
    std::memcpy(header.name, info.szName, sizeof header.name);
    header.name[sizeof header.name - 1] = '\0';
    return header;
}

} // namespace avi
