// The file's header: RIFF 'AVI ' with its hdrl list and the start of LIST
// movi, kept in memory and changed there. A patch writes what changed in
// zones, in an order that leaves every prefix of it right for a reader
// (see docs/design.md): sizes before the counts and entries they cover,
// entries before the count that lists them.
#pragma once

#include "platform/avi/avi_format.h"
#include "platform/avi/output_file.h"

#include <array>
#include <cstdint>
#include <vector>

namespace avi {

class RiffBuilder;
struct StreamHeader;

// What the header counts of the stream.
struct StreamCounts {
    uint64_t start = 0;              // the first frame's position, strh dwStart
    uint64_t length = 0;             // positions from there on, gaps included
    uint64_t firstSegmentLength = 0; // of those, the ones in the first RIFF segment
    uint32_t largestChunk = 0;       // the largest frame's bytes
};

class FileHeader {
public:
    // Lays the header out for this stream and format, with room for a super
    // index of `superIndexCapacity` entries. May throw std::bad_alloc.
    void layOut(const StreamHeader& stream, const BitmapInfoHeader& bitmap, const void* format, size_t size,
                uint32_t superIndexCapacity);
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    // Where LIST movi starts.
    uint64_t moviList() const { return layout_.moviList; }

    // Whether the header has gone out whole; what changes after that goes
    // out in patches.
    bool written() const { return written_; }
    void markWritten();
    void markUnwritten() { written_ = false; }

    // Changes made in memory, written by the next flush().
    void setFirstSegmentSizes(uint32_t riffSize, uint32_t moviSize);
    void setStart(uint64_t position);
    void setCounts(const StreamCounts& counts, const StreamHeader& stream, bool inFirstSegment);
    // Lists a segment's ix00 in the super index entry `slot`, showing the
    // super index with the first and making the file OpenDML with the second.
    void listSegmentIndex(uint32_t slot, uint64_t offset, uint32_t size, uint32_t duration);
    // Turns the super index back into JUNK, listing nothing.
    void hideSuperIndex();
    // The first segment's idx1 is in place and named.
    void markIndexed();
    uint32_t segmentsListed() const { return segmentsListed_; }

    // Writes what changed, zone by zone; a zone whose write fails stays due.
    WriterStatus flush(OutputFile& file);

private:
    // Where the header's records lie.
    struct Layout {
        size_t mainHeader = 0;
        size_t streamHeader = 0;
        size_t superIndex = 0;     // the JUNK chunk that becomes 'indx', 16-byte aligned
        size_t odml = 0;           // the JUNK chunk that becomes 'LIST odml'
        size_t extendedHeader = 0; // the dmlh record inside it
        size_t moviList = 0;
    };

    // The header's parts that change, in the order a patch writes them.
    enum Zone { RiffSize, MoviSize, SuperIndexEntries, Front, Odml, kZones };
    struct DirtyRange {
        size_t begin = SIZE_MAX;
        size_t end = 0;
    };

    void putStreamList(RiffBuilder& out, const StreamHeader& stream, const BitmapInfoHeader& bitmap,
                       const void* format, size_t size, uint32_t superIndexCapacity);
    void putStreamHeader(RiffBuilder& out, const StreamHeader& stream, const BitmapInfoHeader& bitmap);
    void putOdmlRoom(RiffBuilder& out);

    void showSuperIndex(bool shown);
    void setSegmentsListed(uint32_t segments);
    void setField(size_t at, uint32_t value);
    template<typename Record, typename Change>
    void update(size_t at, Change change);
    Zone zoneOf(size_t at) const;

    std::vector<uint8_t> bytes_;
    Layout layout_;
    std::array<DirtyRange, kZones> dirty_ {};
    uint32_t segmentsListed_ = 0; // super index entries in use
    bool openDml_ = false;        // LIST odml shown
    bool written_ = false;
};

} // namespace avi
