#include "platform/avi/file_header.h"

#include "platform/avi/avi_writer.h"
#include "platform/avi/riff_builder.h"

#include <algorithm>
#include <cstring>

namespace avi {

namespace {

constexpr uint32_t kPlainFlags = kAvifIsInterleaved | kAvifTrustCkType;

uint64_t superIndexBytes(uint32_t capacity)
{
    return sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * uint64_t(capacity);
}

} // namespace

// RIFF 'AVI ' > LIST hdrl > (avih, LIST strl, the JUNK that becomes LIST
// odml), then the start of LIST movi. The RIFF and movi sizes are patched
// as the file grows.
void FileHeader::layOut(const StreamHeader& stream, const BitmapInfoHeader& bitmap, const void* format, size_t size,
                        uint32_t superIndexCapacity)
{
    bytes_.clear();
    dirty_.fill(DirtyRange());
    segmentsListed_ = 0;
    openDml_ = false;
    RiffBuilder out(bytes_);
    out.beginList(kRiff, kAvi);
    const size_t hdrl = out.beginList(kList, kHdrl);

    const size_t avihChunk = out.beginChunk(kAvih);
    MainHeader avih {};
    if (stream.rate != 0 && stream.scale != 0)
        avih.microSecPerFrame = clampToU32((uint64_t(1000000) * stream.scale + stream.rate / 2) / stream.rate);
    avih.flags = kPlainFlags;
    avih.streams = 1;
    avih.width = static_cast<uint32_t>(std::max(bitmap.width, 0));
    avih.height = bitmap.height < 0 ? 0u - static_cast<uint32_t>(bitmap.height) : static_cast<uint32_t>(bitmap.height);
    layout_.mainHeader = out.put(avih);
    out.end(avihChunk);

    putStreamList(out, stream, bitmap, format, size, superIndexCapacity);
    putOdmlRoom(out);
    out.end(hdrl);

    layout_.moviList = out.beginList(kList, kMovi);
}

// LIST strl > (strh, strf, strn, and the JUNK that becomes indx).
void FileHeader::putStreamList(RiffBuilder& out, const StreamHeader& stream, const BitmapInfoHeader& bitmap,
                               const void* format, size_t size, uint32_t superIndexCapacity)
{
    const size_t strl = out.beginList(kList, kStrl);
    putStreamHeader(out, stream, bitmap);
    const size_t strf = out.beginChunk(kStrf);
    out.putBytes(format, size);
    out.end(strf);
    const size_t strn = out.beginChunk(kStrn);
    out.putBytes(stream.name, strnlen(stream.name, sizeof stream.name - 1));
    out.putZeros(1);
    // The name is padded so that the super index starts on 16 bytes: no
    // page boundary then splits its count from its name, nor an entry.
    out.putZeros((16 - bytes_.size() % 16) % 16);
    out.end(strn);
    // Room for the OpenDML super index, a JUNK chunk until the file needs it.
    layout_.superIndex = out.beginChunk(kJunk);
    out.putZeros(superIndexBytes(superIndexCapacity));
    out.end(layout_.superIndex);
    out.end(strl);
}

void FileHeader::putStreamHeader(RiffBuilder& out, const StreamHeader& stream, const BitmapInfoHeader& bitmap)
{
    const size_t strh = out.beginChunk(kStrh);
    StreamHeaderRecord record {};
    record.type = stream.type;
    record.handler = stream.handler;
    record.flags = stream.flags;
    record.priority = stream.priority;
    record.language = stream.language;
    record.initialFrames = stream.initialFrames;
    record.scale = stream.scale;
    record.rate = stream.rate;
    record.start = stream.start;
    record.suggestedBufferSize = stream.suggestedBufferSize;
    record.quality = stream.quality;
    record.sampleSize = stream.sampleSize;
    record.frameLeft = stream.frameLeft;
    record.frameTop = stream.frameTop;
    record.frameRight = stream.frameRight;
    record.frameBottom = stream.frameBottom;
    // Without a frame rectangle of the caller's, the frame's own.
    if (!record.frameLeft && !record.frameTop && !record.frameRight && !record.frameBottom) {
        const int64_t height = bitmap.height;
        record.frameRight = clampToInt16(bitmap.width);
        record.frameBottom = clampToInt16(height < 0 ? -height : height);
    }
    layout_.streamHeader = out.put(record);
    out.end(strh);
}

// Room for LIST odml > dmlh, a JUNK chunk until the file needs it.
void FileHeader::putOdmlRoom(RiffBuilder& out)
{
    layout_.odml = out.beginChunk(kJunk);
    out.put(kOdml);
    const size_t dmlh = out.beginChunk(kDmlh);
    layout_.extendedHeader = out.put(ExtendedHeader {});
    out.end(dmlh);
    out.end(layout_.odml);
}

void FileHeader::markWritten()
{
    dirty_.fill(DirtyRange());
    written_ = true;
}

// ---- Changes in memory ----

void FileHeader::setFirstSegmentSizes(uint32_t riffSize, uint32_t moviSize)
{
    setField(4, riffSize);
    setField(layout_.moviList + 4, moviSize);
}

void FileHeader::setStart(uint64_t position)
{
    update<StreamHeaderRecord>(layout_.streamHeader,
                               [&](StreamHeaderRecord& record) { record.start = clampToU32(position); });
}

void FileHeader::setCounts(const StreamCounts& counts, const StreamHeader& stream, bool inFirstSegment)
{
    update<MainHeader>(layout_.mainHeader, [&](MainHeader& avih) {
        avih.totalFrames = clampToU32(inFirstSegment ? counts.length : counts.firstSegmentLength);
        avih.suggestedBufferSize = counts.largestChunk + static_cast<uint32_t>(kChunkHeaderSize);
        if (stream.scale != 0)
            avih.maxBytesPerSec = clampToU32(uint64_t(counts.largestChunk) * stream.rate / stream.scale);
    });
    update<StreamHeaderRecord>(layout_.streamHeader, [&](StreamHeaderRecord& record) {
        record.length = clampToU32(counts.length);
        record.suggestedBufferSize = std::max(stream.suggestedBufferSize, counts.largestChunk);
    });
    update<ExtendedHeader>(layout_.extendedHeader,
                           [&](ExtendedHeader& extended) { extended.totalFrames = clampToU32(counts.length); });
}

void FileHeader::listSegmentIndex(uint32_t slot, uint64_t offset, uint32_t size, uint32_t duration)
{
    const size_t at =
        layout_.superIndex + kChunkHeaderSize + sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * size_t(slot);
    update<SuperIndexEntry>(at, [&](SuperIndexEntry& entry) {
        entry.offset = offset;
        entry.size = size;
        entry.duration = duration;
    });
    if (segmentsListed_ == 0)
        showSuperIndex(true);
    if (segmentsListed_ <= slot)
        setSegmentsListed(slot + 1);
    if (slot == 1 && !openDml_) {
        openDml_ = true;
        setField(layout_.odml, kList);
    }
}

void FileHeader::hideSuperIndex()
{
    showSuperIndex(false);
    setSegmentsListed(0);
}

void FileHeader::markIndexed()
{
    update<MainHeader>(layout_.mainHeader, [](MainHeader& avih) { avih.flags = kPlainFlags | kAvifHasIndex; });
}

// The reserved JUNK as the super index, or JUNK again.
void FileHeader::showSuperIndex(bool shown)
{
    setField(layout_.superIndex, shown ? kIndx : kJunk);
    update<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize, [](SuperIndexHeader& head) {
        head.longsPerEntry = sizeof(SuperIndexEntry) / 4;
        head.indexSubType = 0;
        head.indexType = kIndexOfIndexes;
        head.chunkId = kFrameChunk;
    });
}

void FileHeader::setSegmentsListed(uint32_t segments)
{
    segmentsListed_ = segments;
    update<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize,
                             [&](SuperIndexHeader& head) { head.entriesInUse = segments; });
}

void FileHeader::setField(size_t at, uint32_t value)
{
    update<uint32_t>(at, [value](uint32_t& field) { field = value; });
}

template<typename Record, typename Change>
void FileHeader::update(size_t at, Change change)
{
    Record record;
    std::memcpy(&record, bytes_.data() + at, sizeof record);
    change(record);
    std::memcpy(bytes_.data() + at, &record, sizeof record);
    DirtyRange& dirty = dirty_[zoneOf(at)];
    dirty.begin = std::min(dirty.begin, at);
    dirty.end = std::max(dirty.end, at + sizeof record);
}

FileHeader::Zone FileHeader::zoneOf(size_t at) const
{
    if (at < kChunkHeaderSize)
        return RiffSize;
    if (at >= layout_.moviList)
        return MoviSize;
    if (at >= layout_.odml)
        return Odml;
    if (at >= layout_.superIndex + kChunkHeaderSize + sizeof(SuperIndexHeader))
        return SuperIndexEntries;
    return Front;
}

// ---- Patches ----

// Each write stays in one zone, so a kill part way through it leaves no
// count ahead of what it counts.
WriterStatus FileHeader::flush(OutputFile& file)
{
    for (DirtyRange& dirty : dirty_) {
        if (dirty.begin >= dirty.end)
            continue;
        const WriterStatus status = file.writeAt(dirty.begin, bytes_.data() + dirty.begin, dirty.end - dirty.begin);
        if (!status.ok())
            return status;
        dirty = DirtyRange();
    }
    return WriterStatus::success();
}

} // namespace avi
