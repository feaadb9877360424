#include "platform/avi/avi_writer.h"

#include "platform/avi/riff_builder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace avi {

namespace {

// Empty chunks for skipped positions, shared by every writer.
constexpr size_t kGapsPerSlice = 512;
constexpr size_t kSlicesPerAppend = 64;
constexpr uint64_t kGapsPerAppend = kGapsPerSlice * (kSlicesPerAppend - 3);

struct GapChunks {
    std::array<uint8_t, kGapsPerSlice * kChunkHeaderSize> bytes {};
    GapChunks()
    {
        for (size_t i = 0; i < kGapsPerSlice; ++i)
            putU32(bytes.data() + i * kChunkHeaderSize, kFrameChunk);
    }
};

const GapChunks& gapChunks()
{
    static const GapChunks chunks;
    return chunks;
}

constexpr size_t kStagingBytes = 64 * 1024;
constexpr uint64_t kSegmentHeaderBytes = 2 * kListHeaderSize; // RIFF 'AVIX' + LIST 'movi'
constexpr uint32_t kLargestChunkData = 0x7FFFFFFFu;         // bit 31 of an ix00 size is a flag
constexpr uint64_t kStandardIndexBytes = kChunkHeaderSize + sizeof(StandardIndexHeader);
constexpr uint32_t kPlainFlags = kAvifIsInterleaved | kAvifTrustCkType;

uint64_t superIndexBytes(uint32_t capacity)
{
    return sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * uint64_t(capacity);
}

} // namespace

AviWriter::AviWriter(const WriterOptions& options)
    : options_(options)
{
    if (options_.superIndexCapacity < 2)
        options_.superIndexCapacity = 2;
    reserveAhead_ = options_.reserveAhead;
}

AviWriter::~AviWriter() { close(); }

WriterStatus AviWriter::open(const char* path)
{
    if (!path || file_.isOpen())
        return WriterStatus::refused(Failure::BadArgument);
    try {
        staging_.resize(kStagingBytes);
        if (segmentHeader_.empty()) {
            // RIFF 'AVIX' holding LIST 'movi', both empty: how every later segment starts.
            RiffBuilder out(segmentHeader_);
            const size_t riff = out.beginList(kRiff, kAvix);
            out.end(out.beginList(kList, kMovi));
            out.end(riff);
        }
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }
    return file_.create(path);
}

WriterStatus AviWriter::createStream(const StreamHeader& header)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (hasStream_)
        return WriterStatus::refused(Failure::StreamExists);
    if (header.type != kVideoStream)
        return WriterStatus::refused(Failure::NotVideo);
    stream_ = header;
    stream_.name[sizeof(stream_.name) - 1] = '\0';
    hasStream_ = true;
    return WriterStatus::success();
}

// ---- The file header ----

WriterStatus AviWriter::setFormat(const void* format, size_t size)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!hasStream_ || !format)
        return WriterStatus::refused(Failure::BadArgument);
    if (streamLength_ > 0)
        return WriterStatus::refused(Failure::FormatChange);
    WriterStatus status = checkFormat(format, size);
    if (!status.ok())
        return status;
    BitmapInfoHeader bitmap;
    std::memcpy(&bitmap, format, sizeof bitmap);
    try {
        layOutHeader(bitmap, format, size);
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }
    // The header starts the file; setting the format again rewrites it.
    if (file_.end() != 0) {
        status = file_.cutTo(0);
        if (!status.ok())
            return status;
    }
    return startFirstSegment();
}

WriterStatus AviWriter::checkFormat(const void* format, size_t size)
{
    if (size < sizeof(BitmapInfoHeader) || size > 0xFFFF)
        return WriterStatus::refused(Failure::BadFormat);
    BitmapInfoHeader bitmap;
    std::memcpy(&bitmap, format, sizeof bitmap);
    if (bitmap.size < sizeof(BitmapInfoHeader) || bitmap.compression != 0)
        return WriterStatus::refused(Failure::BadFormat);
    return WriterStatus::success();
}

// RIFF 'AVI ' with hdrl (avih, strl with strh, strf, strn and the JUNK that
// becomes indx, then the JUNK that becomes LIST odml) and the start of
// LIST movi. The RIFF and movi sizes are patched as the file grows.
void AviWriter::layOutHeader(const BitmapInfoHeader& bitmap, const void* format, size_t size)
{
    header_.clear();
    headerDirtyBegin_ = SIZE_MAX;
    headerDirtyEnd_ = 0;
    RiffBuilder out(header_);
    out.beginList(kRiff, kAvi);
    const size_t hdrl = out.beginList(kList, kHdrl);

    const size_t avihChunk = out.beginChunk(kAvih);
    MainHeader avih {};
    if (stream_.rate != 0 && stream_.scale != 0)
        avih.microSecPerFrame = clampToU32((uint64_t(1000000) * stream_.scale + stream_.rate / 2) / stream_.rate);
    avih.flags = kPlainFlags;
    avih.streams = 1;
    avih.width = static_cast<uint32_t>(std::max(bitmap.width, 0));
    avih.height = bitmap.height < 0 ? 0u - static_cast<uint32_t>(bitmap.height) : static_cast<uint32_t>(bitmap.height);
    layout_.mainHeader = out.put(avih);
    out.end(avihChunk);

    const size_t strl = out.beginList(kList, kStrl);
    putStreamHeader(out, bitmap);
    const size_t strf = out.beginChunk(kStrf);
    out.putBytes(format, size);
    out.end(strf);
    const size_t strn = out.beginChunk(kStrn);
    out.putBytes(stream_.name, strnlen(stream_.name, sizeof stream_.name) + 1);
    out.end(strn);
    // Room for the OpenDML super index, a JUNK chunk until the file needs it.
    layout_.superIndex = out.beginChunk(kJunk);
    out.putZeros(superIndexBytes(options_.superIndexCapacity));
    out.end(layout_.superIndex);
    out.end(strl);

    // Room for 'LIST odml' with its dmlh, likewise.
    layout_.odml = out.beginChunk(kJunk);
    out.put(kOdml);
    const size_t dmlh = out.beginChunk(kDmlh);
    layout_.extendedHeader = out.put(ExtendedHeader {});
    out.end(dmlh);
    out.end(layout_.odml);
    out.end(hdrl);

    layout_.moviList = out.beginList(kList, kMovi);
}

void AviWriter::putStreamHeader(RiffBuilder& out, const BitmapInfoHeader& bitmap)
{
    const size_t strh = out.beginChunk(kStrh);
    StreamHeaderRecord record {};
    record.type = stream_.type;
    record.handler = stream_.handler;
    record.flags = stream_.flags;
    record.priority = stream_.priority;
    record.language = stream_.language;
    record.initialFrames = stream_.initialFrames;
    record.scale = stream_.scale;
    record.rate = stream_.rate;
    record.start = stream_.start;
    record.suggestedBufferSize = stream_.suggestedBufferSize;
    record.quality = stream_.quality;
    record.sampleSize = stream_.sampleSize;
    record.frameLeft = stream_.frameLeft;
    record.frameTop = stream_.frameTop;
    record.frameRight = stream_.frameRight;
    record.frameBottom = stream_.frameBottom;
    // Without a frame rectangle of the caller's, the frame's own.
    if (!record.frameLeft && !record.frameTop && !record.frameRight && !record.frameBottom) {
        const int64_t height = bitmap.height;
        record.frameRight = clampToInt16(bitmap.width);
        record.frameBottom = clampToInt16(height < 0 ? -height : height);
    }
    layout_.streamHeader = out.put(record);
    out.end(strh);
}

WriterStatus AviWriter::startFirstSegment()
{
    segment_ = Segment {1, 0, layout_.moviList, 0};
    index_.clear();
    superIndexEntries_ = 0;
    openDml_ = false;

    const uint64_t ahead = std::min<uint64_t>(options_.reserveAhead, file_.sizeLimit());
    WriterStatus status = file_.reserveUpTo(header_.size() + closingBytes(0) + ahead);
    if (!status.ok())
        status = file_.reserveUpTo(header_.size() + closingBytes(0));
    if (!status.ok())
        return status;
    Slice slice {header_.data(), header_.size()};
    status = file_.append(&slice, 1);
    if (!status.ok())
        return status;
    patchSegmentSizes(file_.end());
    refreshCounters();
    status = flushHeader();
    if (!status.ok())
        return status;
    headerWritten_ = true;
    lastFlushMs_ = monotonicMilliseconds();
    return WriterStatus::success();
}

// ---- Room ----

// Bytes the current segment still needs at its end for `entries` index
// entries: its ix00 and, for the first segment, the idx1 as well.
uint64_t AviWriter::closingBytes(size_t entries) const
{
    uint64_t bytes = kStandardIndexBytes + sizeof(StandardIndexEntry) * uint64_t(entries);
    if (isFirstSegment())
        bytes += kChunkHeaderSize + sizeof(LegacyIndexEntry) * uint64_t(entries);
    return bytes;
}

bool AviWriter::fitsInSegment(uint64_t bytes, size_t entries) const
{
    const uint64_t used = file_.end() - segment_.riff;
    return used + bytes + closingBytes(index_.size() + entries) <= options_.segmentLimit;
}

// Checks the process's file-size limit and allocates the disk blocks that
// the chunks and the index they add will take.
WriterStatus AviWriter::makeRoom(uint64_t bytes, size_t entries)
{
    const uint64_t required = file_.end() + bytes + closingBytes(index_.size() + entries);
    if (required > file_.sizeLimit())
        return file_.sizeLimitReached();
    const uint64_t ahead = std::max<uint64_t>(reserveAhead_, 16 * bytes);
    // Blocks are set aside in steps of half the lead (at least eight
    // frames), so most frames make no system call for them.
    if (required + ahead / 2 <= file_.reservedEnd())
        return WriterStatus::success();
    const uint64_t generous = std::min<uint64_t>(required + ahead, file_.sizeLimit());
    if (file_.reserveUpTo(generous).ok())
        return WriterStatus::success();
    // The disk is nearly full: ask for less ahead from now on.
    reserveAhead_ /= 4;
    return file_.reserveUpTo(required);
}

// ---- Frames ----

WriterStatus AviWriter::writeFrame(int64_t position, const void* data, uint32_t size, bool keyFrame)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!headerWritten_)
        return WriterStatus::refused(Failure::FormatNotSet);
    if (size > 0 && !data)
        return WriterStatus::refused(Failure::BadArgument);
    const uint64_t frameBytes = kChunkHeaderSize + padded(size);
    if (size > kLargestChunkData ||
        kSegmentHeaderBytes + frameBytes + kStandardIndexBytes + sizeof(StandardIndexEntry) > options_.segmentLimit)
        return WriterStatus::refused(Failure::FrameTooLarge);

    uint64_t gaps = 0;
    if (position > 0 && static_cast<uint64_t>(position) > streamLength_)
        gaps = static_cast<uint64_t>(position) - streamLength_;
    if (gaps > options_.maxGap)
        return WriterStatus::refused(Failure::GapTooLarge);

    for (;;) {
        if (gaps <= kGapsPerAppend && fitsInSegment(kChunkHeaderSize * gaps + frameBytes, gaps + 1))
            return appendChunks(gaps, data, size, keyFrame, true);
        // Gaps that do not travel with the frame go ahead on their own,
        // segment by segment.
        const uint64_t perGap = kChunkHeaderSize + (closingBytes(1) - closingBytes(0));
        const uint64_t used = file_.end() - segment_.riff + closingBytes(index_.size());
        const uint64_t room = used < options_.segmentLimit ? (options_.segmentLimit - used) / perGap : 0;
        const uint64_t batch = std::min({gaps, room, kGapsPerAppend});
        WriterStatus status = batch == 0 ? startNextSegment() : appendChunks(batch, nullptr, 0, false, false);
        if (!status.ok())
            return status;
        gaps -= batch;
    }
}

WriterStatus AviWriter::appendChunks(uint64_t gaps, const void* data, uint32_t size, bool keyFrame, bool withFrame)
{
    const size_t entries = static_cast<size_t>(gaps) + (withFrame ? 1 : 0);
    const uint64_t bytes = kChunkHeaderSize * gaps + (withFrame ? kChunkHeaderSize + padded(size) : 0);
    WriterStatus status = makeRoom(bytes, entries);
    if (!status.ok())
        return status;
    if (!index_.reserve(entries))
        return WriterStatus::refused(Failure::OutOfMemory);

    const size_t indexBefore = index_.size();
    uint64_t offset = file_.end() - (segment_.moviList + kListHeaderSize - 4);
    for (uint64_t i = 0; i < gaps; ++i, offset += kChunkHeaderSize)
        index_.append(static_cast<uint32_t>(offset), 0, false);
    if (withFrame)
        index_.append(static_cast<uint32_t>(offset), size, keyFrame);

    Slice slices[kSlicesPerAppend];
    size_t count = 0;
    for (uint64_t left = gaps; left > 0;) {
        const uint64_t take = std::min<uint64_t>(left, kGapsPerSlice);
        slices[count++] = {gapChunks().bytes.data(), static_cast<size_t>(take * kChunkHeaderSize)};
        left -= take;
    }
    uint8_t chunkHeader[kChunkHeaderSize];
    static const uint8_t kPad = 0;
    if (withFrame) {
        putU32(chunkHeader, kFrameChunk);
        putU32(chunkHeader + 4, size);
        slices[count++] = {chunkHeader, sizeof chunkHeader};
        if (size > 0)
            slices[count++] = {data, size};
        if (size & 1)
            slices[count++] = {&kPad, 1};
    }
    status = file_.append(slices, count);
    if (!status.ok()) {
        index_.truncate(indexBefore);
        return status;
    }

    streamLength_ += entries;
    if (isFirstSegment())
        firstSegmentLength_ = streamLength_;
    if (withFrame)
        largestChunk_ = std::max(largestChunk_, size);
    // A header patch that fails here is retried by the next flush and by
    // close; the frame itself is in the file.
    flushIfDue();
    return WriterStatus::success();
}

// ---- Segments ----

WriterStatus AviWriter::startNextSegment()
{
    if (superIndexEntries_ + 2 > options_.superIndexCapacity)
        return WriterStatus::refused(Failure::FileTooLong);
    const uint64_t required = file_.end() + closingBytes(index_.size()) + kSegmentHeaderBytes + closingBytes(0);
    if (required > file_.sizeLimit())
        return file_.sizeLimitReached();
    WriterStatus status = file_.reserveUpTo(required);
    if (!status.ok())
        return status;

    const bool wasFirst = isFirstSegment();
    status = finishSegment(true);
    if (!status.ok())
        return status;
    if (wasFirst)
        convertToOpenDml();

    const uint64_t start = file_.end();
    Slice slice {segmentHeader_.data(), segmentHeader_.size()};
    status = file_.append(&slice, 1);
    if (!status.ok())
        return status;
    segment_ = Segment {segment_.number + 1, start, start + kListHeaderSize, streamLength_};
    index_.clear();
    refreshCounters();
    return flushHeader();
}

// Ends the current segment: its ix00 (for OpenDML files) inside its movi,
// then for the first segment the idx1, then the sizes.
WriterStatus AviWriter::finishSegment(bool withStandardIndex)
{
    WriterStatus status;
    if (withStandardIndex) {
        status = appendStandardIndex();
        if (!status.ok())
            return status;
    }
    const uint64_t moviEnd = file_.end();
    if (isFirstSegment()) {
        status = appendLegacyIndex();
        if (!status.ok())
            return status;
        updateHeader<MainHeader>(layout_.mainHeader, [](MainHeader& avih) { avih.flags = kPlainFlags | kAvifHasIndex; });
    }
    return patchSegmentSizes(moviEnd);
}

// Writes a chunk of index entries through the staging buffer: `head`, then
// one entry of entrySize bytes per index entry, laid out by fill.
template<typename Fill>
WriterStatus AviWriter::appendIndexChunk(uint32_t id, const void* head, size_t headSize, size_t entrySize, Fill fill)
{
    uint8_t* out = staging_.data();
    putU32(out, id);
    putU32(out + 4, static_cast<uint32_t>(headSize + entrySize * index_.size()));
    if (headSize > 0)
        std::memcpy(out + kChunkHeaderSize, head, headSize);
    size_t used = kChunkHeaderSize + headSize;
    for (size_t i = 0; i < index_.size(); ++i) {
        if (used + entrySize > staging_.size()) {
            Slice slice {out, used};
            WriterStatus status = file_.append(&slice, 1);
            if (!status.ok())
                return status;
            used = 0;
        }
        fill(index_[i], out + used);
        used += entrySize;
    }
    Slice slice {out, used};
    return file_.append(&slice, 1);
}

WriterStatus AviWriter::appendStandardIndex()
{
    const uint64_t chunkStart = file_.end();
    StandardIndexHeader head {};
    head.longsPerEntry = sizeof(StandardIndexEntry) / 4;
    head.indexType = kIndexOfChunks;
    head.entriesInUse = static_cast<uint32_t>(index_.size());
    head.chunkId = kFrameChunk;
    head.baseOffset = segment_.moviList + kListHeaderSize - 4;
    WriterStatus status = appendIndexChunk(kIx00, &head, sizeof head, sizeof(StandardIndexEntry),
                                           [](const IndexEntry& entry, uint8_t* at) {
                                               const StandardIndexEntry out {
                                                   entry.chunkOffset + static_cast<uint32_t>(kChunkHeaderSize),
                                                   entry.sizeAndFlags};
                                               std::memcpy(at, &out, sizeof out);
                                           });
    if (!status.ok())
        return status;

    const size_t slot = layout_.superIndex + kChunkHeaderSize + sizeof(SuperIndexHeader) +
                        sizeof(SuperIndexEntry) * superIndexEntries_;
    updateHeader<SuperIndexEntry>(slot, [&](SuperIndexEntry& entry) {
        entry.offset = chunkStart;
        entry.size = static_cast<uint32_t>(file_.end() - chunkStart);
        entry.duration = static_cast<uint32_t>(streamLength_ - segment_.firstPosition);
    });
    setSuperIndexEntries(superIndexEntries_ + 1);
    return WriterStatus::success();
}

WriterStatus AviWriter::appendLegacyIndex()
{
    return appendIndexChunk(kIdx1, nullptr, 0, sizeof(LegacyIndexEntry), [](const IndexEntry& entry, uint8_t* at) {
        const bool keyFrame = (entry.sizeAndFlags & kNonKeyFrameBit) == 0;
        const LegacyIndexEntry out {kFrameChunk, keyFrame ? kIndexKeyFrame : 0, entry.chunkOffset,
                                    entry.sizeAndFlags & ~kNonKeyFrameBit};
        std::memcpy(at, &out, sizeof out);
    });
}

// The file outgrows its first segment: the reserved JUNK becomes the
// OpenDML super index and the 'LIST odml' header.
void AviWriter::convertToOpenDml()
{
    openDml_ = true;
    patch(layout_.superIndex, kIndx);
    updateHeader<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize, [](SuperIndexHeader& head) {
        head.longsPerEntry = sizeof(SuperIndexEntry) / 4;
        head.indexSubType = 0;
        head.indexType = kIndexOfIndexes;
        head.chunkId = kFrameChunk;
    });
    patch(layout_.odml, kList);
}

void AviWriter::setSuperIndexEntries(uint32_t entries)
{
    superIndexEntries_ = entries;
    updateHeader<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize,
                                   [&](SuperIndexHeader& head) { head.entriesInUse = entries; });
}

// ---- Patching ----

// Sets a 32-bit field. The first segment's header is kept in memory and
// written by flushHeader; later segments' headers are patched in the file.
WriterStatus AviWriter::patch(uint64_t offset, uint32_t value)
{
    if (offset + 4 <= header_.size()) {
        updateHeader<uint32_t>(static_cast<size_t>(offset), [value](uint32_t& field) { field = value; });
        return WriterStatus::success();
    }
    uint8_t bytes[4];
    putU32(bytes, value);
    return file_.writeAt(offset, bytes, sizeof bytes);
}

template<typename Record, typename Change>
void AviWriter::updateHeader(size_t at, Change change)
{
    Record record;
    std::memcpy(&record, header_.data() + at, sizeof record);
    change(record);
    std::memcpy(header_.data() + at, &record, sizeof record);
    headerDirtyBegin_ = std::min(headerDirtyBegin_, at);
    headerDirtyEnd_ = std::max(headerDirtyEnd_, at + sizeof record);
}

// Makes the open segment's sizes cover everything up to the end of the file.
WriterStatus AviWriter::patchSegmentSizes(uint64_t moviEnd)
{
    WriterStatus status = patch(segment_.moviList + 4, static_cast<uint32_t>(moviEnd - segment_.moviList - kChunkHeaderSize));
    if (!status.ok())
        return status;
    return patch(segment_.riff + 4, static_cast<uint32_t>(file_.end() - segment_.riff - kChunkHeaderSize));
}

void AviWriter::refreshCounters()
{
    updateHeader<MainHeader>(layout_.mainHeader, [&](MainHeader& avih) {
        avih.totalFrames = clampToU32(isFirstSegment() ? streamLength_ : firstSegmentLength_);
        avih.suggestedBufferSize = largestChunk_ + static_cast<uint32_t>(kChunkHeaderSize);
        if (stream_.scale != 0)
            avih.maxBytesPerSec = clampToU32(uint64_t(largestChunk_) * stream_.rate / stream_.scale);
    });
    updateHeader<StreamHeaderRecord>(layout_.streamHeader, [&](StreamHeaderRecord& record) {
        record.length = clampToU32(streamLength_);
        record.suggestedBufferSize = std::max(stream_.suggestedBufferSize, largestChunk_);
    });
    updateHeader<ExtendedHeader>(layout_.extendedHeader,
                                 [&](ExtendedHeader& extended) { extended.totalFrames = clampToU32(streamLength_); });
}

WriterStatus AviWriter::flushHeader()
{
    if (headerDirtyBegin_ >= headerDirtyEnd_)
        return WriterStatus::success();
    WriterStatus status =
        file_.writeAt(headerDirtyBegin_, header_.data() + headerDirtyBegin_, headerDirtyEnd_ - headerDirtyBegin_);
    if (status.ok()) {
        headerDirtyBegin_ = SIZE_MAX;
        headerDirtyEnd_ = 0;
    }
    return status;
}

WriterStatus AviWriter::flushIfDue()
{
    const uint64_t now = monotonicMilliseconds();
    if (now - lastFlushMs_ < options_.flushIntervalMs)
        return WriterStatus::success();
    lastFlushMs_ = now;
    WriterStatus status = patchSegmentSizes(file_.end());
    refreshCounters();
    WriterStatus header = flushHeader();
    return status.ok() ? header : status;
}

// ---- Closing ----

WriterStatus AviWriter::close()
{
    if (!file_.isOpen())
        return WriterStatus::success();
    WriterStatus result = headerWritten_ ? finishFile() : WriterStatus::success();
    WriterStatus closed = file_.close();
    headerWritten_ = false;
    return result.ok() ? closed : result;
}

WriterStatus AviWriter::finishFile()
{
    const uint64_t dataEnd = file_.end();
    const uint32_t superIndexEntries = superIndexEntries_;
    WriterStatus result = finishSegment(openDml_);
    refreshCounters();
    if (result.ok())
        result = flushHeader();
    if (!result.ok())
        fallBackToUnindexed(dataEnd, superIndexEntries);
    // Bytes of a failed write may lie past the end; cut them off, and the
    // blocks set aside beyond it with them.
    WriterStatus trimmed = file_.cutTo(file_.end());
    return result.ok() ? trimmed : result;
}

// Without room for the index the file still reads front to back: sizes
// that cover the frames, and no claim of an index.
void AviWriter::fallBackToUnindexed(uint64_t dataEnd, uint32_t superIndexEntries)
{
    file_.cutTo(dataEnd);
    if (superIndexEntries_ != superIndexEntries)
        setSuperIndexEntries(superIndexEntries);
    patchSegmentSizes(dataEnd);
    if (isFirstSegment())
        updateHeader<MainHeader>(layout_.mainHeader, [](MainHeader& avih) { avih.flags = kPlainFlags; });
    flushHeader();
}

} // namespace avi
