#include "platform/avi/open_index.h"

#include "platform/avi/avi_format.h"

#include <cstring>
#include <new>

namespace avi {

namespace {

constexpr size_t kStagingBytes = 64 * 1024;
// An ix00 chunk's header and index header.
constexpr uint64_t kHeadBytes = kChunkHeaderSize + sizeof(StandardIndexHeader);

void putStandardEntry(const IndexEntry& entry, uint8_t* at)
{
    const StandardIndexEntry out {entry.chunkOffset + static_cast<uint32_t>(kChunkHeaderSize), entry.sizeAndFlags};
    std::memcpy(at, &out, sizeof out);
}

void putIdx1Entry(const IndexEntry& entry, uint8_t* at)
{
    const bool keyFrame = (entry.sizeAndFlags & kNonKeyFrameBit) == 0;
    const LegacyIndexEntry out {kFrameChunk, keyFrame ? kIndexKeyFrame : 0, entry.chunkOffset,
                                entry.sizeAndFlags & ~kNonKeyFrameBit};
    std::memcpy(at, &out, sizeof out);
}

} // namespace

uint64_t OpenIndex::chunkBytes(uint64_t capacity)
{
    return kChunkHeaderSize + kHeadBytes + sizeof(StandardIndexEntry) * capacity;
}

uint32_t OpenIndex::listedBytes(size_t entries)
{
    return static_cast<uint32_t>(kHeadBytes + sizeof(StandardIndexEntry) * entries);
}

uint64_t OpenIndex::idx1Bytes(uint64_t entries) { return kChunkHeaderSize + sizeof(LegacyIndexEntry) * entries; }

bool OpenIndex::allocate()
{
    try {
        staging_.resize(kStagingBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void OpenIndex::startSegment(uint64_t moviList)
{
    entries_.clear();
    moviList_ = moviList;
    chunk_ = 0;
    capacity_ = 0;
    listed_ = 0;
}

WriterStatus OpenIndex::writeIntoRoom(OutputFile& file)
{
    uint64_t at = chunk_ + kHeadBytes + sizeof(StandardIndexEntry) * listed_;
    return writeStaged(file, 0, listed_, sizeof(StandardIndexEntry), putStandardEntry, &at);
}

WriterStatus OpenIndex::writeHead(OutputFile& file)
{
    uint8_t head[kHeadBytes];
    const size_t entries = entries_.size();
    fillHead(head, entries);
    const WriterStatus status = file.writeAt(chunk_ + 4, head + 4, 12);
    if (status.ok())
        listed_ = entries;
    return status;
}

WriterStatus OpenIndex::appendChunk(OutputFile& file, uint64_t capacity)
{
    const size_t entries = entries_.size();
    const uint64_t junk = file.end();
    const uint64_t bytes = chunkBytes(capacity);
    WriterStatus status = file.extendTo(junk + bytes);
    if (!status.ok())
        return status;
    putU32(staging_.data(), kJunk);
    putU32(staging_.data() + 4, static_cast<uint32_t>(bytes - kChunkHeaderSize));
    fillHead(staging_.data() + kChunkHeaderSize, entries);
    status = writeStaged(file, kChunkHeaderSize + kHeadBytes, 0, sizeof(StandardIndexEntry), putStandardEntry,
                         nullptr);
    if (!status.ok())
        return status;
    file.skipTo(junk + bytes);
    chunk_ = junk + kChunkHeaderSize;
    capacity_ = capacity;
    listed_ = entries;
    return status;
}

WriterStatus OpenIndex::appendIdx1(OutputFile& file, uint32_t id)
{
    const uint64_t bytes = idx1Bytes(entries_.size());
    WriterStatus status = file.extendTo(file.end() + bytes);
    if (!status.ok())
        return status;
    putU32(staging_.data(), id);
    putU32(staging_.data() + 4, static_cast<uint32_t>(bytes - kChunkHeaderSize));
    return writeStaged(file, kChunkHeaderSize, 0, sizeof(LegacyIndexEntry), putIdx1Entry, nullptr);
}

// The ix00's chunk header and index header for `entries` entries.
void OpenIndex::fillHead(uint8_t* at, size_t entries) const
{
    StandardIndexHeader head {};
    head.longsPerEntry = sizeof(StandardIndexEntry) / 4;
    head.indexType = kIndexOfChunks;
    head.entriesInUse = static_cast<uint32_t>(entries);
    head.chunkId = kFrameChunk;
    head.baseOffset = moviList_ + kListHeaderSize - 4;
    putU32(at, kIx00);
    putU32(at + 4, listedBytes(entries) - static_cast<uint32_t>(kChunkHeaderSize));
    std::memcpy(at + kChunkHeaderSize, &head, sizeof head);
}

// Writes the `used` bytes already in staging_, then the entries from
// `first` on laid out by `fill`, through staging_: appended, or from *at on.
template<typename Fill>
WriterStatus OpenIndex::writeStaged(OutputFile& file, size_t used, size_t first, size_t entrySize, Fill fill,
                                    uint64_t* at)
{
    uint8_t* out = staging_.data();
    auto write = [&]() {
        const Slice slice {out, used};
        const WriterStatus status = at ? file.writeAt(*at, out, used) : file.append(&slice, 1);
        if (at)
            *at += used;
        used = 0;
        return status;
    };
    for (size_t i = first; i < entries_.size(); ++i) {
        if (used + entrySize > staging_.size()) {
            const WriterStatus status = write();
            if (!status.ok())
                return status;
        }
        fill(entries_[i], out + used);
        used += entrySize;
    }
    return used > 0 ? write() : WriterStatus::success();
}

} // namespace avi
