// RIFF/AVI and OpenDML constants and the records of the file header, with
// every field named. Records are written as they lie in memory, which is
// the file's little-endian order on every target we build for.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "AVI records are little-endian");

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
constexpr uint32_t kVideoStream = fourcc("vids");
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

#pragma pack(push, 1)

// 'avih'
struct MainHeader {
    uint32_t microSecPerFrame;
    uint32_t maxBytesPerSec;
    uint32_t paddingGranularity;
    uint32_t flags;
    uint32_t totalFrames; // of the first RIFF segment
    uint32_t initialFrames;
    uint32_t streams;
    uint32_t suggestedBufferSize;
    uint32_t width;
    uint32_t height;
    uint32_t reserved[4];
};

// 'strh'
struct StreamHeaderRecord {
    uint32_t type;
    uint32_t handler;
    uint32_t flags;
    uint16_t priority;
    uint16_t language;
    uint32_t initialFrames;
    uint32_t scale;
    uint32_t rate;
    uint32_t start;
    uint32_t length;
    uint32_t suggestedBufferSize;
    uint32_t quality;
    uint32_t sampleSize;
    int16_t frameLeft;
    int16_t frameTop;
    int16_t frameRight;
    int16_t frameBottom;
};

// The start of 'strf' for video: a BITMAPINFOHEADER.
struct BitmapInfoHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};

// 'indx': the OpenDML super index, followed by its entries.
struct SuperIndexHeader {
    uint16_t longsPerEntry;
    uint8_t indexSubType;
    uint8_t indexType;
    uint32_t entriesInUse;
    uint32_t chunkId;
    uint32_t reserved[3];
};

struct SuperIndexEntry {
    uint64_t offset; // of the segment's 'ix00' chunk header
    uint32_t size;   // of the 'ix00' chunk, header included
    uint32_t duration;
};

// 'ix00': one segment's standard index, followed by its entries.
struct StandardIndexHeader {
    uint16_t longsPerEntry;
    uint8_t indexSubType;
    uint8_t indexType;
    uint32_t entriesInUse;
    uint32_t chunkId;
    uint64_t baseOffset;
    uint32_t reserved;
};

struct StandardIndexEntry {
    uint32_t offset; // of the chunk's data, from baseOffset
    uint32_t sizeAndFlags;
};

// 'idx1'
struct LegacyIndexEntry {
    uint32_t chunkId;
    uint32_t flags;
    uint32_t offset; // of the chunk header, from the 'movi' fourcc
    uint32_t size;
};

// 'dmlh' inside 'LIST odml'
struct ExtendedHeader {
    uint32_t totalFrames; // of the whole file
    uint32_t reserved[61];
};

#pragma pack(pop)

static_assert(sizeof(MainHeader) == 56, "avih is 56 bytes");
static_assert(sizeof(StreamHeaderRecord) == 56, "strh is 56 bytes");
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(SuperIndexHeader) == 24, "the super index header is 24 bytes");
static_assert(sizeof(SuperIndexEntry) == 16, "a super index entry is 16 bytes");
static_assert(sizeof(StandardIndexHeader) == 24, "the standard index header is 24 bytes");
static_assert(sizeof(StandardIndexEntry) == 8, "a standard index entry is 8 bytes");
static_assert(sizeof(LegacyIndexEntry) == 16, "an idx1 entry is 16 bytes");
static_assert(sizeof(ExtendedHeader) == 248, "dmlh is 248 bytes");

// RIFF chunks are padded to an even size.
constexpr uint64_t padded(uint64_t size) { return size + (size & 1); }

inline void putU32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t getU32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline int16_t clampToInt16(int64_t value)
{
    return static_cast<int16_t>(value < INT16_MIN ? INT16_MIN : value > INT16_MAX ? INT16_MAX : value);
}

inline uint32_t clampToU32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value); }

} // namespace avi
