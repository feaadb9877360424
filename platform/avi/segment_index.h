// The index entries of one RIFF segment. Entries live in fixed-size
// clusters, so the index grows without copying, and the clusters are kept
// for the next segment, so a long recording stops allocating once its
// largest segment has been seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace avi {

struct IndexEntry {
    uint32_t chunkOffset; // of the chunk header, from the segment's 'movi' fourcc
    uint32_t sizeAndFlags; // data size; kNonKeyFrameBit marks a non-key chunk
};

class SegmentIndex {
public:
    static constexpr size_t kClusterEntries = 8192;

    // Makes room for `count` more entries; false when memory runs out.
    bool reserve(size_t count);
    // Only after reserve() has made room.
    void append(uint32_t chunkOffset, uint32_t size, bool keyFrame)
    {
        IndexEntry& entry = clusters_[count_ / kClusterEntries][count_ % kClusterEntries];
        entry.chunkOffset = chunkOffset;
        entry.sizeAndFlags = keyFrame ? size : (size | 0x80000000u);
        ++count_;
    }
    void truncate(size_t count)
    {
        if (count < count_)
            count_ = count;
    }
    void clear() { count_ = 0; }
    size_t size() const { return count_; }
    const IndexEntry& operator[](size_t i) const { return clusters_[i / kClusterEntries][i % kClusterEntries]; }

private:
    std::vector<std::unique_ptr<IndexEntry[]>> clusters_;
    size_t count_ = 0;
};

} // namespace avi
