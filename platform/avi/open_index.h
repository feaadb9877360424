// The index of the RIFF segment being filled: its entries, and its ix00 in
// the file. The ix00 lies in the segment's movi list inside a JUNK chunk
// with room for more entries; entries written since the last patch go into
// that room, which the ix00's head does not list until writeHead(). When
// they do not fit, a new chunk with every entry and more room takes its
// place. The first segment's idx1 is written from the same entries.
#pragma once

#include "platform/avi/output_file.h"
#include "platform/avi/segment_index.h"

#include <cstdint>
#include <vector>

namespace avi {

class OpenIndex {
public:
    // A JUNK chunk holding an ix00 with room for `capacity` entries.
    static uint64_t chunkBytes(uint64_t capacity);
    // The ix00 chunk itself with `entries` entries, as the super index lists it.
    static uint32_t listedBytes(size_t entries);
    static uint64_t idx1Bytes(uint64_t entries);

    // Sets aside the buffer the entries go out through; false when memory runs out.
    bool allocate();
    // A new segment, whose movi list starts at `moviList`: no entry, no ix00.
    void startSegment(uint64_t moviList);

    // The entries, one a chunk of the movi list.
    bool reserve(size_t count) { return entries_.reserve(count); }
    void add(uint32_t chunkOffset, uint32_t size, bool keyFrame) { entries_.append(chunkOffset, size, keyFrame); }
    void truncate(size_t count) { entries_.truncate(count); }
    size_t size() const { return entries_.size(); }

    // The ix00 in the file: where its chunk header lies (0: none yet), and
    // the entries its head lists.
    uint64_t chunk() const { return chunk_; }
    size_t listed() const { return listed_; }
    bool hasRoomFor(size_t entries) const { return chunk_ != 0 && entries <= capacity_; }
    // Writes the entries its head does not list yet into its room.
    WriterStatus writeIntoRoom(OutputFile& file);
    // The head's size and count for every entry, in one write from its size
    // on: cut short, it leaves the size grown and the count as it was,
    // which lists fewer entries.
    WriterStatus writeHead(OutputFile& file);
    // A new ix00 at the end of the file (on 4 bytes), listing every entry,
    // with room for `capacity`, inside its JUNK chunk. Written where the
    // file already reaches; the caller cuts back what a failure left.
    WriterStatus appendChunk(OutputFile& file, uint64_t capacity);

    // The first segment's idx1 at the end of the file, `id` naming it,
    // written where the file already reaches.
    WriterStatus appendIdx1(OutputFile& file, uint32_t id);

private:
    void fillHead(uint8_t* at, size_t entries) const;
    template<typename Fill>
    WriterStatus writeStaged(OutputFile& file, size_t used, size_t first, size_t entrySize, Fill fill, uint64_t* at);

    SegmentIndex entries_;
    std::vector<uint8_t> staging_; // index bytes on their way to the file
    uint64_t moviList_ = 0;
    uint64_t chunk_ = 0;
    uint64_t capacity_ = 0;
    size_t listed_ = 0;
};

} // namespace avi
