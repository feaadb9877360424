// An uncompressed AVI writer for one video stream of positioned frames.
//
// The file starts as a plain AVI 1.0 file (RIFF 'AVI ' with hdrl, movi and
// idx1). Space for the OpenDML super index and the dmlh header is reserved
// as JUNK; once the first RIFF segment is full the file becomes OpenDML in
// place: the first segment gets its idx1, the JUNK turns into 'indx' and
// 'LIST odml', and further frames go into RIFF 'AVIX' segments. A file that
// closes in its first segment stays plain AVI 1.0.
//
// The writer composes its parts, each after what it keeps in the file: the
// header and its ordered patches (file_header.h), the index of the segment
// being filled (open_index.h) and the space set aside ahead of the frames
// (space_ahead.h). Its own code follows the file's nesting: a segment's
// RIFF and LIST movi begin, chunks go into the movi list, and the list and
// the RIFF end with their sizes patched.
//
// The stream starts at the first frame's position (strh dwStart). Later
// positions past the end of the stream are filled with empty chunks, which
// every reader counts as frames without picture, so a frame's timestamp is
// its position. A position at or before the end is appended at the end.
//
// What a crash, a kill part way through a write or a full disk leaves, and
// how each write keeps to it: see docs/design.md.
#pragma once

#include "platform/avi/avi_format.h"
#include "platform/avi/file_header.h"
#include "platform/avi/open_index.h"
#include "platform/avi/output_file.h"
#include "platform/avi/space_ahead.h"
#include "platform/avi/writer_status.h"

#include <cstdint>

namespace avi {

// The strh values the caller chooses.
struct StreamHeader {
    uint32_t type = 0;
    uint32_t handler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 1;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0xFFFFFFFFu;
    uint32_t sampleSize = 0;
    int16_t frameLeft = 0;
    int16_t frameTop = 0;
    int16_t frameRight = 0;
    int16_t frameBottom = 0;
    char name[64] = {};
};

struct WriterOptions {
    uint64_t segmentLimit = uint64_t(1) << 30; // bytes per RIFF segment, headers included
    uint32_t superIndexCapacity = 4096;        // most segments
    uint32_t flushIntervalMs = 1000;           // most time between header patches
    uint32_t maxGap = 1u << 20;                // most empty positions one write may add
    uint64_t reserveAhead = uint64_t(16) << 20; // most space set aside ahead of the frames
    uint64_t (*clock)() = nullptr;             // milliseconds for the patch schedule; nullptr: monotonicMilliseconds
};

// A segment's sizes are 32-bit, and so is the super index chunk's.
constexpr uint64_t kLargestSegment = uint64_t(1) << 32;
constexpr uint32_t kLargestSuperIndex = 1u << 16;
// The options brought within what the file format can describe.
WriterOptions withinFormatLimits(WriterOptions options);

// Writes one file at a time; open() after close() starts a new file as a
// new writer would.
class AviWriter {
public:
    explicit AviWriter(const WriterOptions& options = WriterOptions());
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    WriterStatus open(const char* path);
    WriterStatus createStream(const StreamHeader& header);
    // Takes a BITMAPINFOHEADER (and any colour table after it) and writes
    // the file header. Refused when the first segment cannot hold the
    // header and one frame of the format's size.
    WriterStatus setFormat(const void* format, size_t size);
    // Writes one frame at `position`; see the comment above for where it lands.
    WriterStatus writeFrame(int64_t position, const void* data, uint32_t size, bool keyFrame);
    // Patches the header when frames have come since the last patch and half
    // the flush interval has passed. A caller with no frame to write calls
    // it about once a second, so a frame is in the header about a second
    // after its write even when no frame follows.
    WriterStatus keepCurrent();
    // Writes the indexes, patches the header and closes the file.
    WriterStatus close();

    bool hasStream() const { return hasStream_; }

    // The smallest segment limit that setFormat takes for this stream and
    // format: the header they lay out, one frame and its indexes.
    static uint64_t smallestSegment(const WriterOptions& options, const StreamHeader& stream, const void* format,
                                    size_t size);

private:
    // The RIFF segment that frames go into: its 'RIFF' and 'LIST movi'
    // headers, as file offsets.
    struct Segment {
        uint32_t number = 0; // 1 for the first
        uint64_t riff = 0;
        uint64_t moviList = 0;
    };
    struct Frame {
        const void* data;
        uint32_t size;
        bool keyFrame;
    };
    struct ChunkSlices;
    // Whether a new ix00 gets room for more entries: not when its segment ends.
    enum class IndexFor { GrowingSegment, EndingSegment };
    // Where a patch put the entries written since the last.
    enum class Placed { Nowhere, InRoom, InNewChunk };
    struct IndexUpdate {
        WriterStatus status;
        Placed placed;
    };
    // The last patch that made the header describe the file.
    struct LastPatch {
        uint64_t timeMs = 0;
        uint64_t fileEnd = 0;
    };

    void startOver();
    static WriterStatus checkFormat(const void* format, size_t size);
    WriterStatus startFirstSegment();

    // Room for what a write adds.
    bool isFirstSegment() const { return segment_.number == 1; }
    static uint64_t closingBytes(bool firstSegment, size_t entries);
    uint64_t closingBytes(size_t entries) const { return closingBytes(isFirstSegment(), entries); }
    bool fitsInSegment(uint64_t bytes, size_t entries) const;
    uint64_t gapsThatFit() const;
    WriterStatus makeRoom(uint64_t required) { return spaceAhead_.makeRoom(file_, required); }
    void cutBack(uint64_t end);

    // The movi list's chunks.
    WriterStatus declareStart(uint64_t position);
    WriterStatus appendChunks(uint64_t gaps, const Frame* frame);
    void listChunks(uint64_t gaps, const Frame* frame);
    void sliceChunks(uint64_t gaps, const Frame* frame, bool namedAfter, ChunkSlices& chunks) const;
    WriterStatus commitChunks(const ChunkSlices& chunks, uint64_t gaps, const Frame* frame, bool namedAfter);
    WriterStatus alignEnd();

    // Segments.
    WriterStatus startNextSegment();
    WriterStatus patchSegmentSizes(uint64_t moviEnd, uint64_t riffEnd);
    WriterStatus nameIdx1();

    // Patches: the open segment's index, then the header.
    WriterStatus patchIndexAndHeader(uint64_t now, IndexFor purpose = IndexFor::GrowingSegment);
    IndexUpdate writeNewIndexEntries(IndexFor purpose);
    IndexUpdate appendIndexChunk(IndexFor purpose);
    void refreshCounts() { header_.setCounts(counts_, stream_, isFirstSegment()); }
    uint64_t now() const { return options_.clock ? options_.clock() : monotonicMilliseconds(); }

    // close's steps.
    WriterStatus finishFile();
    WriterStatus finishSegments();
    WriterStatus dropEmptySegment();
    WriterStatus fallBackToUnindexed(uint64_t dataEnd, WriterStatus why);

    WriterOptions options_;
    OutputFile file_;
    StreamHeader stream_;
    bool hasStream_ = false;
    FileHeader header_;
    SpaceAhead spaceAhead_;
    Segment segment_;
    OpenIndex index_;
    uint64_t unnamedIdx1_ = 0;     // where the first segment's idx1 lies while it is still named JUNK
    bool segmentUnlisted_ = false; // a new segment, listed in the super index with its first chunk
    StreamCounts counts_;
    LastPatch lastPatch_;
};

} // namespace avi
