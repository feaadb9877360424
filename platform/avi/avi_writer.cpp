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
// A segment's interim indexes come with every header patch for its first
// this many; after each further this many the time between them doubles,
// so a segment that fills slowly (small frames, low rates: hours for 1 GiB)
// never runs the super index out of entries. Past 512 of them a kill loses
// at most a few seconds to readers that trust the index; others scan.
constexpr uint32_t kInterimIndexesPerStep = 512;

uint64_t superIndexBytes(uint32_t capacity)
{
    return sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * uint64_t(capacity);
}

} // namespace

WriterOptions withinFormatLimits(WriterOptions options)
{
    options.segmentLimit = std::min(options.segmentLimit, kLargestSegment);
    options.superIndexCapacity = std::clamp(options.superIndexCapacity, 2u, kLargestSuperIndex);
    return options;
}

AviWriter::AviWriter(const WriterOptions& options)
    : options_(withinFormatLimits(options))
    , leadLimit_(options_.reserveAhead)
{
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
    headerWritten_ = false;
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

// The header goes out first and describing itself, so a file whose writer
// dies before its first frame reads as an empty recording.
WriterStatus AviWriter::startFirstSegment()
{
    segment_ = Segment {1, 0, layout_.moviList, 0};
    index_.clear();
    superIndexEntries_ = 0;
    segmentFirstEntry_ = 0;
    interimIndexed_ = 0;
    openDml_ = false;
    streamStart_ = stream_.start;
    patchSegmentSizes(header_.size(), header_.size());
    refreshCounters();
    Slice slice {header_.data(), header_.size()};
    WriterStatus status = file_.append(&slice, 1);
    if (status.ok())
        status = makeRoom(header_.size() + closingBytes(0));
    if (!status.ok())
        return status;
    headerDirtyBegin_ = SIZE_MAX;
    headerDirtyEnd_ = 0;
    headerWritten_ = true;
    describedEnd_ = file_.end();
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

// Checks the process's file-size limit and sets aside the space up to
// `required`: what a write adds and the indexes that will describe it.
WriterStatus AviWriter::makeRoom(uint64_t required)
{
    if (required > file_.sizeLimit())
        return file_.sizeLimitReached();
    // Space is set aside in steps of half the lead, so most frames make no
    // system call for it.
    if (required + lead_ / 2 <= file_.reservedEnd())
        return WriterStatus::success();
    return reserveWithLead(required);
}

// The lead is a guess at the frames to come. It takes at most an eighth of
// what the disk has free, so the reserve alone never fills the disk nor
// takes much from other programs, and a kill leaves little of it behind.
WriterStatus AviWriter::reserveWithLead(uint64_t required)
{
    lead_ = std::min(leadLimit_, file_.freeSpace() / 8);
    const uint64_t ahead = std::min(required + lead_, file_.sizeLimit());
    if (ahead > required) {
        if (file_.reserveUpTo(ahead).ok())
            return WriterStatus::success();
        // The disk refused more than it reported free (a quota, another
        // writer): ask for less from now on.
        leadLimit_ /= 4;
        lead_ = 0;
    }
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

    const uint64_t end = streamStart_ + streamLength_;
    uint64_t gaps = 0;
    if (position > 0 && static_cast<uint64_t>(position) > end)
        gaps = static_cast<uint64_t>(position) - end;
    if (gaps > options_.maxGap)
        return WriterStatus::refused(Failure::GapTooLarge);
    if (streamLength_ == 0 && gaps > 0) {
        WriterStatus status = declareStart(static_cast<uint64_t>(position));
        if (!status.ok())
            return status;
        gaps = 0;
    }

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

// The stream starts at its first frame: positions before it are declared
// skipped (strh dwStart) rather than filled with empty chunks, which
// readers would count as frames. The header says so before the frame
// lands, so a reader of a killed file times it right too.
WriterStatus AviWriter::declareStart(uint64_t position)
{
    updateHeader<StreamHeaderRecord>(layout_.streamHeader,
                                     [&](StreamHeaderRecord& record) { record.start = clampToU32(position); });
    WriterStatus status = flushHeader();
    if (status.ok())
        streamStart_ = position;
    return status;
}

WriterStatus AviWriter::appendChunks(uint64_t gaps, const void* data, uint32_t size, bool keyFrame, bool withFrame)
{
    const size_t entries = static_cast<size_t>(gaps) + (withFrame ? 1 : 0);
    const uint64_t bytes = kChunkHeaderSize * gaps + (withFrame ? kChunkHeaderSize + padded(size) : 0);
    WriterStatus status = makeRoom(file_.end() + bytes + closingBytes(index_.size() + entries));
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
    // A header patch that fails here is retried by the next one and by
    // close; the frame itself is in the file.
    const uint64_t now = monotonicMilliseconds();
    if (now - lastFlushMs_ >= options_.flushIntervalMs)
        describe(now);
    return WriterStatus::success();
}

// ---- Segments ----

// Ends the current segment with its indexes and starts the next. Each
// step that can fail comes before anything in memory changes; when one
// does, the file is cut back to where the segment ended.
WriterStatus AviWriter::startNextSegment()
{
    if (segmentFirstEntry_ + 2 > options_.superIndexCapacity)
        return WriterStatus::refused(Failure::FileTooLong);
    WriterStatus status =
        makeRoom(file_.end() + closingBytes(index_.size()) + kSegmentHeaderBytes + kStandardIndexBytes);
    if (!status.ok())
        return status;

    const uint64_t dataEnd = file_.end();
    SegmentEnd end;
    status = writeSegmentEnd(true, end);
    Slice slice {segmentHeader_.data(), segmentHeader_.size()};
    if (status.ok())
        status = file_.append(&slice, 1);
    if (status.ok())
        status = patchSegmentSizes(end.moviEnd, end.riffEnd);
    if (!status.ok()) {
        cutBack(dataEnd);
        return status;
    }

    describeSegmentEnd(end);
    if (isFirstSegment())
        convertToOpenDml();
    segment_ = Segment {segment_.number + 1, end.riffEnd, end.riffEnd + kListHeaderSize, streamLength_};
    index_.clear();
    segmentFirstEntry_ = superIndexEntries_;
    interimIndexed_ = 0;
    // A header patch that fails here is retried by the next one.
    describe(monotonicMilliseconds());
    return WriterStatus::success();
}

// Writes what ends the current segment: its ix00 (for OpenDML files)
// inside its movi, then for the first segment the idx1.
WriterStatus AviWriter::writeSegmentEnd(bool withStandardIndex, SegmentEnd& end)
{
    WriterStatus status;
    end.hasStandardIndex = withStandardIndex;
    if (withStandardIndex) {
        end.standardIndex = file_.end();
        status = appendStandardIndex(0);
        if (!status.ok())
            return status;
    }
    end.moviEnd = file_.end();
    if (isFirstSegment())
        status = appendLegacyIndex();
    end.riffEnd = file_.end();
    return status;
}

// Writes a chunk of index entries through the staging buffer: `head`, then
// one entry of entrySize bytes per index entry from `first` on, laid out by fill.
template<typename Fill>
WriterStatus AviWriter::appendIndexChunk(uint32_t id, const void* head, size_t headSize, size_t entrySize,
                                         size_t first, Fill fill)
{
    uint8_t* out = staging_.data();
    putU32(out, id);
    putU32(out + 4, static_cast<uint32_t>(headSize + entrySize * (index_.size() - first)));
    if (headSize > 0)
        std::memcpy(out + kChunkHeaderSize, head, headSize);
    size_t used = kChunkHeaderSize + headSize;
    for (size_t i = first; i < index_.size(); ++i) {
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

WriterStatus AviWriter::appendStandardIndex(size_t first)
{
    StandardIndexHeader head {};
    head.longsPerEntry = sizeof(StandardIndexEntry) / 4;
    head.indexType = kIndexOfChunks;
    head.entriesInUse = static_cast<uint32_t>(index_.size() - first);
    head.chunkId = kFrameChunk;
    head.baseOffset = segment_.moviList + kListHeaderSize - 4;
    return appendIndexChunk(kIx00, &head, sizeof head, sizeof(StandardIndexEntry), first,
                            [](const IndexEntry& entry, uint8_t* at) {
                                const StandardIndexEntry out {
                                    entry.chunkOffset + static_cast<uint32_t>(kChunkHeaderSize), entry.sizeAndFlags};
                                std::memcpy(at, &out, sizeof out);
                            });
}

WriterStatus AviWriter::appendLegacyIndex()
{
    return appendIndexChunk(kIdx1, nullptr, 0, sizeof(LegacyIndexEntry), 0, [](const IndexEntry& entry, uint8_t* at) {
        const bool keyFrame = (entry.sizeAndFlags & kNonKeyFrameBit) == 0;
        const LegacyIndexEntry out {kFrameChunk, keyFrame ? kIndexKeyFrame : 0, entry.chunkOffset,
                                    entry.sizeAndFlags & ~kNonKeyFrameBit};
        std::memcpy(at, &out, sizeof out);
    });
}

// The header learns of the indexes written: the segment's super index
// entry, in place of its interim ones, and for the first segment the idx1.
void AviWriter::describeSegmentEnd(const SegmentEnd& end)
{
    if (end.hasStandardIndex) {
        putSuperIndexEntry(segmentFirstEntry_, end.standardIndex,
                           static_cast<uint32_t>(end.moviEnd - end.standardIndex),
                           static_cast<uint32_t>(streamLength_ - segment_.firstPosition));
        for (uint32_t slot = segmentFirstEntry_ + 1; slot < superIndexEntries_; ++slot)
            putSuperIndexEntry(slot, 0, 0, 0);
        setSuperIndexEntries(segmentFirstEntry_ + 1);
    }
    if (isFirstSegment())
        updateHeader<MainHeader>(layout_.mainHeader, [](MainHeader& avih) { avih.flags = kPlainFlags | kAvifHasIndex; });
}

void AviWriter::putSuperIndexEntry(uint32_t slot, uint64_t offset, uint32_t size, uint32_t duration)
{
    const size_t at =
        layout_.superIndex + kChunkHeaderSize + sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * size_t(slot);
    updateHeader<SuperIndexEntry>(at, [&](SuperIndexEntry& entry) {
        entry.offset = offset;
        entry.size = size;
        entry.duration = duration;
    });
}

bool AviWriter::interimIndexDue(uint64_t now) const
{
    if (index_.size() == interimIndexed_ || superIndexEntries_ >= options_.superIndexCapacity)
        return false;
    const uint32_t steps = std::min<uint32_t>((superIndexEntries_ - segmentFirstEntry_) / kInterimIndexesPerStep, 20);
    return steps == 0 || now - lastInterimMs_ >= (uint64_t(options_.flushIntervalMs) << steps);
}

// An ix00 for the segment's frames since its last one, listed in the super
// index. It takes only room that no frame needs; when it cannot be written
// the file is cut back and the next patch tries again.
void AviWriter::appendInterimIndex(uint64_t now)
{
    if (!interimIndexDue(now))
        return;
    const uint64_t entries = index_.size() - interimIndexed_;
    const uint64_t bytes = kStandardIndexBytes + sizeof(StandardIndexEntry) * entries;
    if (!fitsInSegment(bytes, 0) || !makeRoom(file_.end() + bytes + closingBytes(index_.size())).ok())
        return;
    const uint64_t at = file_.end();
    if (!appendStandardIndex(interimIndexed_).ok()) {
        cutBack(at);
        return;
    }
    // The first segment has no index at all until it ends.
    if (superIndexEntries_ == 0)
        showSuperIndex(true);
    putSuperIndexEntry(superIndexEntries_, at, static_cast<uint32_t>(bytes), static_cast<uint32_t>(entries));
    setSuperIndexEntries(superIndexEntries_ + 1);
    interimIndexed_ = index_.size();
    lastInterimMs_ = now;
}

// Undoes a segment end that failed part way: the file is cut back to its
// data, so no piece of an index lies past the sizes, and the space the
// index needs is set aside again.
void AviWriter::cutBack(uint64_t end)
{
    file_.cutTo(end);
    file_.reserveUpTo(end + closingBytes(index_.size()));
}

// The file outgrows its first segment: the reserved JUNK becomes the
// OpenDML super index and the 'LIST odml' header for good.
void AviWriter::convertToOpenDml()
{
    openDml_ = true;
    showSuperIndex(true);
}

// The reserved JUNK as the super index and 'LIST odml', or JUNK again.
void AviWriter::showSuperIndex(bool shown)
{
    setHeaderField(layout_.superIndex, shown ? kIndx : kJunk);
    updateHeader<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize, [](SuperIndexHeader& head) {
        head.longsPerEntry = sizeof(SuperIndexEntry) / 4;
        head.indexSubType = 0;
        head.indexType = kIndexOfIndexes;
        head.chunkId = kFrameChunk;
    });
    setHeaderField(layout_.odml, shown ? kList : kJunk);
}

// A file that stayed one segment is a plain AVI file once its idx1 is
// written: the interim indexes are dropped from the header.
void AviWriter::hideInterimIndexes()
{
    for (uint32_t slot = 0; slot < superIndexEntries_; ++slot)
        putSuperIndexEntry(slot, 0, 0, 0);
    setSuperIndexEntries(0);
    showSuperIndex(false);
}

void AviWriter::setSuperIndexEntries(uint32_t entries)
{
    superIndexEntries_ = entries;
    updateHeader<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize,
                                   [&](SuperIndexHeader& head) { head.entriesInUse = entries; });
}

// ---- Patching ----

void AviWriter::setHeaderField(size_t at, uint32_t value)
{
    updateHeader<uint32_t>(at, [value](uint32_t& field) { field = value; });
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

// Sets the open segment's RIFF and movi sizes. The first segment's lie in
// the header in memory; a later one's are written in one piece, the outer
// size first, so a kill never leaves the movi list running past its RIFF.
WriterStatus AviWriter::patchSegmentSizes(uint64_t moviEnd, uint64_t riffEnd)
{
    const auto riffSize = static_cast<uint32_t>(riffEnd - segment_.riff - kChunkHeaderSize);
    const auto moviSize = static_cast<uint32_t>(moviEnd - segment_.moviList - kChunkHeaderSize);
    if (isFirstSegment()) {
        setHeaderField(static_cast<size_t>(segment_.riff) + 4, riffSize);
        setHeaderField(static_cast<size_t>(segment_.moviList) + 4, moviSize);
        return WriterStatus::success();
    }
    uint8_t sizes[16];
    putU32(sizes, riffSize);
    putU32(sizes + 4, kAvix);
    putU32(sizes + 8, kList);
    putU32(sizes + 12, moviSize);
    return file_.writeAt(segment_.riff + 4, sizes, sizeof sizes);
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

// Makes the header describe everything written: the open segment's
// interim index, its sizes, then the counts, which wait while the sizes
// cannot be written so that the header never lists what they leave out.
WriterStatus AviWriter::describe(uint64_t now)
{
    lastFlushMs_ = now;
    appendInterimIndex(now);
    const WriterStatus sizes = patchSegmentSizes(file_.end(), file_.end());
    if (!sizes.ok())
        return sizes;
    refreshCounters();
    const WriterStatus header = flushHeader();
    if (header.ok())
        describedEnd_ = file_.end();
    return header;
}

WriterStatus AviWriter::keepCurrent()
{
    if (!file_.isOpen() || !headerWritten_ || file_.end() == describedEnd_)
        return WriterStatus::success();
    const uint64_t now = monotonicMilliseconds();
    if (now - lastFlushMs_ < options_.flushIntervalMs / 2)
        return WriterStatus::success();
    return describe(now);
}

// ---- Closing ----

WriterStatus AviWriter::close()
{
    if (!file_.isOpen())
        return WriterStatus::success();
    // A file that never got its header is left empty.
    WriterStatus result = headerWritten_ ? finishFile() : file_.cutTo(0);
    WriterStatus closed = file_.close();
    headerWritten_ = false;
    return result.ok() ? closed : result;
}

// The last segment's indexes, the header, then the file cut to its end.
// Closing is the file's last chance, so each step that fails is tried once
// more: a write can fail for a moment.
WriterStatus AviWriter::finishFile()
{
    const uint64_t dataEnd = file_.end();
    SegmentEnd end;
    WriterStatus status = writeLastSegmentEnd(dataEnd, end);
    if (status.ok()) {
        status = patchSegmentSizes(end.moviEnd, end.riffEnd);
        if (!status.ok())
            status = patchSegmentSizes(end.moviEnd, end.riffEnd);
    }
    if (!status.ok())
        return fallBackToUnindexed(dataEnd, status);
    describeSegmentEnd(end);
    if (!openDml_ && superIndexEntries_ > 0)
        hideInterimIndexes();
    refreshCounters();
    status = flushHeader();
    if (!status.ok())
        status = flushHeader();
    WriterStatus trimmed = file_.cutTo(file_.end());
    if (!trimmed.ok())
        trimmed = file_.cutTo(file_.end());
    return status.ok() ? trimmed : status;
}

WriterStatus AviWriter::writeLastSegmentEnd(uint64_t dataEnd, SegmentEnd& end)
{
    WriterStatus status = writeSegmentEnd(openDml_, end);
    if (status.ok())
        return status;
    cutBack(dataEnd);
    return writeSegmentEnd(openDml_, end);
}

// Without room for the index the file still reads front to back: sizes
// that cover the frames, and no claim of an index.
WriterStatus AviWriter::fallBackToUnindexed(uint64_t dataEnd, WriterStatus why)
{
    file_.cutTo(dataEnd);
    patchSegmentSizes(dataEnd, dataEnd);
    refreshCounters();
    flushHeader();
    return why;
}

} // namespace avi
