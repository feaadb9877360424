// An uncompressed AVI writer for one video stream of positioned frames.
//
// The file starts as a plain AVI 1.0 file (RIFF 'AVI ' with hdrl, movi and
// idx1). Space for the OpenDML super index and the dmlh header is reserved
// as JUNK; once the first RIFF segment is full the file becomes OpenDML in
// place: the first segment gets its idx1, the JUNK turns into 'indx' and
// 'LIST odml', and further frames go into RIFF 'AVIX' segments.
//
// Each segment has one standard index (ix00) and one super index entry,
// from its first header patch on: readers that trust the indexes
// (GStreamer, mkvmerge) see no frame that no index lists, so the segment
// being filled is indexed as it fills. Its ix00 lies in its movi list inside
// a JUNK chunk with room for more entries; each header patch writes the
// entries since the last into that room, and when they do not fit, a new
// chunk with every entry and more room replaces it. A file that closes in
// its first segment hides the super index again behind its idx1 and stays
// plain AVI 1.0.
//
// The stream starts at the first frame's position (strh dwStart). Later
// positions past the end of the stream are filled with empty chunks, which
// every reader counts as frames without picture, so a frame's timestamp is
// its position. A position at or before the end is appended at the end.
//
// Crash safety: at most every flushInterval the header's sizes and counts
// are patched to describe everything written so far (keepCurrent does it
// for a caller with no frame to write), so a reader can walk a file whose
// writer was killed. A kill may also come part way through any write (Linux
// ends a write at a page boundary when a fatal signal arrives), so each
// write leaves a file every reader gets right at any length it reaches:
//  - an entry before the count that covers it, and a chunk's data before
//    the size that claims it: an index's entries land in room that its
//    head does not list yet, the super index entry before the count, the
//    movi list before the RIFF's... ; every field patched in place is 4-byte
//    aligned (16 for super index entries) so no page boundary splits one;
//  - an index chunk is written where the file already reaches, so a write
//    cut short leaves zeros after it, never a chunk whose size runs past the
//    end of the file, inside which readers that scan (ffmpeg) find entries
//    that look like frames;
//  - nothing MPlayer might walk into after the frames its index lists is an
//    index chunk over 64 KiB, which it would enter and play as frames: the
//    ix00 lie inside JUNK, and the first segment's idx1 is written as JUNK
//    and named idx1 only once the second segment is indexed.
// Closing needs no space the disk does not have: the space the indexes
// will take is set aside before a frame is reported written. A file
// operation that fails leaves the file as it was before the step it
// belonged to: a segment end that fails part way is cut back.
#pragma once

#include "platform/avi/avi_format.h"
#include "platform/avi/output_file.h"
#include "platform/avi/segment_index.h"
#include "platform/avi/writer_status.h"

#include <array>
#include <cstdint>
#include <vector>

namespace avi {

class RiffBuilder;

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
    // Writes one frame at `position`; see the class comment for where it lands.
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
    // Where the header's records lie in header_.
    struct HeaderLayout {
        size_t mainHeader = 0;
        size_t streamHeader = 0;
        size_t superIndex = 0;     // the JUNK chunk that becomes 'indx', 16-byte aligned
        size_t odml = 0;           // the JUNK chunk that becomes 'LIST odml'
        size_t extendedHeader = 0; // the dmlh record inside it
        size_t moviList = 0;
    };

    // The header's parts that change, in the order a patch writes them:
    // sizes before the counts and entries they cover, entries before the
    // count that lists them.
    enum Zone { RiffSize, MoviSize, SuperIndexEntries, Front, Odml, kZones };
    struct DirtyRange {
        size_t begin = SIZE_MAX;
        size_t end = 0;
    };

    // The RIFF segment that frames go into: its 'RIFF' and 'LIST movi'
    // headers, as file offsets.
    struct Segment {
        uint32_t number = 0; // 1 for the first
        uint64_t riff = 0;
        uint64_t moviList = 0;
        uint64_t firstPosition = 0;
    };

    // The segment's ix00 in the file, inside a JUNK chunk with room for
    // `capacity` entries; it lists `entries`.
    struct OpenIndex {
        uint64_t chunk = 0; // 0: none yet
        uint64_t capacity = 0;
        size_t entries = 0;
    };

    // setFormat's steps.
    static WriterStatus checkFormat(const void* format, size_t size);
    uint64_t firstSegmentNeeds(const BitmapInfoHeader& bitmap) const;
    void layOutHeader(const BitmapInfoHeader& bitmap, const void* format, size_t size);
    void putStreamHeader(RiffBuilder& out, const BitmapInfoHeader& bitmap);
    WriterStatus startFirstSegment();

    // Room for what a write adds.
    bool isFirstSegment() const { return segment_.number == 1; }
    static uint64_t closingBytes(bool firstSegment, size_t entries);
    uint64_t closingBytes(size_t entries) const;
    bool fitsInSegment(uint64_t bytes, size_t entries) const;
    WriterStatus makeRoom(uint64_t required);
    WriterStatus reserveWithLead(uint64_t required);

    // The movi list's contents.
    WriterStatus declareStart(uint64_t position);
    WriterStatus appendChunks(uint64_t gaps, const void* data, uint32_t size, bool keyFrame, bool withFrame);
    WriterStatus alignEnd();
    WriterStatus startNextSegment();
    WriterStatus appendLegacyIndex(uint32_t id);
    template<typename Fill>
    WriterStatus writeStaged(size_t used, size_t first, size_t last, size_t entrySize, Fill fill, uint64_t* at);
    void cutBack(uint64_t end);

    // The open segment's index.
    enum class Room { Some, None };
    WriterStatus writeIndex(Room room, bool& inRoom);
    WriterStatus appendOpenIndex(Room room);
    WriterStatus writeIndexHead(size_t entries);
    void fillIndexHead(uint8_t* at, size_t entries) const;
    void listOpenIndex(size_t entries);
    WriterStatus nameLegacyIndex();

    // The super index.
    void putSuperIndexEntry(uint32_t slot, uint64_t offset, uint32_t size, uint32_t duration);
    void showSuperIndex(bool shown);
    void setSuperIndexEntries(uint32_t entries);

    // The header: kept in memory, patched there, written when due.
    void setHeaderField(size_t at, uint32_t value);
    template<typename Record, typename Change>
    void updateHeader(size_t at, Change change);
    Zone zoneOf(size_t at) const;
    WriterStatus patchSegmentSizes(uint64_t moviEnd, uint64_t riffEnd);
    void refreshCounters();
    WriterStatus flushHeader();
    WriterStatus describe(uint64_t now, Room room = Room::Some);
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
    bool headerWritten_ = false;
    std::vector<uint8_t> header_;
    HeaderLayout layout_;
    std::array<DirtyRange, kZones> dirty_ {};

    Segment segment_;
    SegmentIndex index_;
    OpenIndex openIndex_;
    uint32_t superIndexEntries_ = 0;
    uint64_t legacyIndex_ = 0; // the first segment's idx1 while it is still named JUNK
    bool openDml_ = false;
    bool indexDue_ = false; // a new segment is indexed with its first chunk

    uint64_t streamStart_ = 0;  // the first frame's position, strh dwStart
    uint64_t streamLength_ = 0; // positions from there on, gaps included
    uint64_t firstSegmentLength_ = 0;
    uint32_t largestChunk_ = 0;
    uint64_t lastFlushMs_ = 0;
    uint64_t describedEnd_ = 0; // what the header described when last patched
    uint64_t leadLimit_ = 0;    // reserveAhead, cut down each time the disk refuses it
    uint64_t lead_ = 0;         // the space set aside ahead at the last reservation

    std::vector<uint8_t> staging_;       // index bytes on their way to the file
    std::vector<uint8_t> segmentHeader_; // what starts every segment after the first
};

} // namespace avi
