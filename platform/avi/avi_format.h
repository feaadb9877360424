// RIFF/AVI and OpenDML constants and the fixed records of the file header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avi {

constexpr uint32_t fourcc(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24);
}

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kJunk = fourcc("JUNK");
constexpr uint32_t kAvi = fourcc("AVI ");
constexpr uint32_t kAvix = fourcc("AVIX");
constexpr uint32_t kHdrl = fourcc("hdrl");
constexpr uint32_t kAvih = fourcc("avih");
constexpr uint32_t kStrl = fourcc("strl");
constexpr uint32_t kStrh = fourcc("strh");
constexpr uint32_t kStrf = fourcc("strf");
constexpr uint32_t kStrn = fourcc("strn");
constexpr uint32_t kIndx = fourcc("indx");
constexpr uint32_t kOdml = fourcc("odml");
constexpr uint32_t kDmlh = fourcc("dmlh");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kIdx1 = fourcc("idx1");
constexpr uint32_t kIx00 = fourcc("ix00");
// Uncompressed video frames of stream 0.
constexpr uint32_t kFrameChunk = fourcc("00db");

// avih flags.
constexpr uint32_t kAvifHasIndex = 0x00000010;
constexpr uint32_t kAvifIsInterleaved = 0x00000100;
constexpr uint32_t kAvifTrustCkType = 0x00000800;

// idx1 entry flags.
constexpr uint32_t kIndexKeyFrame = 0x00000010;

// OpenDML index types; bit 31 of a standard index entry's size marks a non-key frame.
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
constexpr uint32_t kNonKeyFrameBit = 0x80000000u;

constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kListHeaderSize = 12;
constexpr size_t kAvihSize = 56;
constexpr size_t kStrhSize = 56;
constexpr size_t kBitmapInfoHeaderSize = 40;
constexpr size_t kDmlhSize = 248;
constexpr size_t kSuperIndexHeaderSize = 24;
constexpr size_t kSuperIndexEntrySize = 16;
constexpr size_t kStandardIndexHeaderSize = 24;
constexpr size_t kStandardIndexEntrySize = 8;
constexpr size_t kIdx1EntrySize = 16;

// RIFF chunks are padded to an even size.
constexpr uint64_t padded(uint64_t size) { return size + (size & 1); }

inline void putU16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void putU32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void putU64(uint8_t* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline int16_t clampToInt16(int64_t value)
{
    return static_cast<int16_t>(value < INT16_MIN ? INT16_MIN : value > INT16_MAX ? INT16_MAX : value);
}

inline uint32_t getU32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline uint16_t getU16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

} // namespace avi
