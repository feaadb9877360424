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
// A JUNK chunk of two bytes moves an end that lies 2 past a multiple of 4
// onto one.
constexpr uint64_t kAlignmentBytes = kChunkHeaderSize + 2;
// A new open index has room for as many more entries as it lists, and at
// least this many, so that an entry is copied about once more on average.
constexpr uint64_t kLeastRoom = 256;

uint64_t superIndexBytes(uint32_t capacity)
{
    return sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * uint64_t(capacity);
}

// A segment's open index: its ix00 and room inside a JUNK chunk.
uint64_t openIndexBytes(uint64_t capacity)
{
    return kChunkHeaderSize + kStandardIndexBytes + sizeof(StandardIndexEntry) * capacity;
}

uint64_t legacyIndexBytes(uint64_t entries) { return kChunkHeaderSize + sizeof(LegacyIndexEntry) * entries; }

// What the bytes of one frame of this format take, for a BI_RGB bitmap
// that may leave its size to be worked out.
uint64_t imageBytes(const BitmapInfoHeader& bitmap)
{
    if (bitmap.sizeImage != 0)
        return bitmap.sizeImage;
    const uint64_t width = static_cast<uint64_t>(std::max(bitmap.width, 0));
    const uint64_t height = bitmap.height < 0 ? 0 - static_cast<int64_t>(bitmap.height) : bitmap.height;
    return (width * bitmap.bitCount + 31) / 32 * 4 * height;
}

void putStandardEntry(const IndexEntry& entry, uint8_t* at)
{
    const StandardIndexEntry out {entry.chunkOffset + static_cast<uint32_t>(kChunkHeaderSize), entry.sizeAndFlags};
    std::memcpy(at, &out, sizeof out);
}

void putLegacyEntry(const IndexEntry& entry, uint8_t* at)
{
    const bool keyFrame = (entry.sizeAndFlags & kNonKeyFrameBit) == 0;
    const LegacyIndexEntry out {kFrameChunk, keyFrame ? kIndexKeyFrame : 0, entry.chunkOffset,
                                entry.sizeAndFlags & ~kNonKeyFrameBit};
    std::memcpy(at, &out, sizeof out);
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
    // A first segment that cannot hold one frame after the header leaves a
    // file whose AVI 1.0 part has no frame, which some readers refuse.
    if (firstSegmentNeeds(bitmap) > options_.segmentLimit)
        return WriterStatus::refused(Failure::SegmentTooSmall);
    // The header starts the file; setting the format again rewrites it.
    headerWritten_ = false;
    if (file_.end() != 0) {
        status = file_.cutTo(0);
        if (!status.ok())
            return status;
    }
    return startFirstSegment();
}

uint64_t AviWriter::firstSegmentNeeds(const BitmapInfoHeader& bitmap) const
{
    return header_.size() + kChunkHeaderSize + padded(imageBytes(bitmap)) + closingBytes(true, 1);
}

uint64_t AviWriter::smallestSegment(const WriterOptions& options, const StreamHeader& stream, const void* format,
                                    size_t size)
{
    if (!format || !checkFormat(format, size).ok())
        return 0;
    AviWriter writer(options);
    writer.stream_ = stream;
    BitmapInfoHeader bitmap;
    std::memcpy(&bitmap, format, sizeof bitmap);
    try {
        writer.layOutHeader(bitmap, format, size);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return writer.firstSegmentNeeds(bitmap);
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
// LIST movi. The RIFF and movi sizes are patched as the file grows. Every
// field patched later lies on a 4-byte boundary.
void AviWriter::layOutHeader(const BitmapInfoHeader& bitmap, const void* format, size_t size)
{
    header_.clear();
    dirty_.fill(DirtyRange());
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
    // The name is padded so that the super index starts on 16 bytes: no
    // page boundary then splits its count from its name, nor an entry.
    out.putZeros((16 - header_.size() % 16) % 16);
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
    openIndex_ = OpenIndex();
    superIndexEntries_ = 0;
    legacyIndex_ = 0;
    openDml_ = false;
    indexDue_ = false;
    streamStart_ = stream_.start;
    patchSegmentSizes(header_.size(), header_.size());
    refreshCounters();
    Slice slice {header_.data(), header_.size()};
    WriterStatus status = file_.append(&slice, 1);
    if (status.ok())
        status = makeRoom(header_.size() + closingBytes(0));
    if (!status.ok())
        return status;
    dirty_.fill(DirtyRange());
    headerWritten_ = true;
    describedEnd_ = file_.end();
    lastFlushMs_ = now();
    return WriterStatus::success();
}

// ---- Room ----

// Bytes a segment needs at its end for `entries` index entries: its open
// index written anew, each behind a JUNK that aligns it, and for the first
// segment the idx1 as well.
uint64_t AviWriter::closingBytes(bool firstSegment, size_t entries)
{
    uint64_t bytes = 2 * kAlignmentBytes + openIndexBytes(entries);
    if (firstSegment)
        bytes += legacyIndexBytes(entries);
    return bytes;
}

uint64_t AviWriter::closingBytes(size_t entries) const { return closingBytes(isFirstSegment(), entries); }

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
    if (size > kLargestChunkData || kSegmentHeaderBytes + frameBytes + closingBytes(false, 1) > options_.segmentLimit)
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
    // Where zeros hold the space ahead, a frame that a kill cuts short
    // would claim them as the rest of its bytes: it goes out as JUNK and
    // takes its name once whole.
    const bool namedAfter = withFrame && file_.holdsSpaceWithZeros();
    const uint64_t start = file_.end();
    uint8_t chunkHeader[kChunkHeaderSize];
    static const uint8_t kPad = 0;
    if (withFrame) {
        putU32(chunkHeader, namedAfter ? kJunk : kFrameChunk);
        putU32(chunkHeader + 4, size);
        slices[count++] = {chunkHeader, sizeof chunkHeader};
        if (size > 0)
            slices[count++] = {data, size};
        if (size & 1)
            slices[count++] = {&kPad, 1};
    }
    status = file_.append(slices, count);
    if (status.ok() && namedAfter) {
        putU32(chunkHeader, kFrameChunk);
        status = file_.writeAt(start + kChunkHeaderSize * gaps, chunkHeader, 4);
        if (!status.ok())
            cutBack(start);
    }
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
    const uint64_t time = now();
    if (indexDue_ || time - lastFlushMs_ >= options_.flushIntervalMs)
        describe(time);
    return WriterStatus::success();
}

// Where the file's end lies 2 past a multiple of 4 (every chunk is of even
// size), a JUNK chunk of two bytes, so that the chunk after it, whose
// fields are patched in place, is aligned.
WriterStatus AviWriter::alignEnd()
{
    if (file_.end() % 4 == 0)
        return WriterStatus::success();
    static const uint8_t kJunkOfTwo[kAlignmentBytes] = {'J', 'U', 'N', 'K', 2, 0, 0, 0, 0, 0};
    Slice slice {kJunkOfTwo, sizeof kJunkOfTwo};
    return file_.append(&slice, 1);
}

// ---- Segments ----

// Ends the current segment and starts the next: the segment's index made
// complete and listed, the first segment's idx1 (as JUNK until the next
// segment is listed), then the next segment's headers and this one's
// final sizes. What fails after the index is cut back.
WriterStatus AviWriter::startNextSegment()
{
    if (segment_.number >= options_.superIndexCapacity)
        return WriterStatus::refused(Failure::FileTooLong);
    WriterStatus status = makeRoom(file_.end() + closingBytes(index_.size()) + kSegmentHeaderBytes);
    if (status.ok())
        status = describe(now(), Room::None);
    if (!status.ok())
        return status;

    const uint64_t dataEnd = file_.end();
    status = alignEnd();
    const uint64_t moviEnd = file_.end();
    if (status.ok() && isFirstSegment())
        status = appendLegacyIndex(kJunk);
    const uint64_t riffEnd = file_.end();
    Slice slice {segmentHeader_.data(), segmentHeader_.size()};
    if (status.ok())
        status = file_.append(&slice, 1);
    if (status.ok())
        status = patchSegmentSizes(moviEnd, riffEnd);
    if (status.ok())
        status = flushHeader();
    if (!status.ok()) {
        cutBack(dataEnd);
        patchSegmentSizes(dataEnd, dataEnd);
        flushHeader();
        return status;
    }

    if (isFirstSegment())
        legacyIndex_ = moviEnd;
    segment_ = Segment {segment_.number + 1, riffEnd, riffEnd + kListHeaderSize, streamLength_};
    index_.clear();
    openIndex_ = OpenIndex();
    indexDue_ = true;
    return WriterStatus::success();
}

// The first segment's idx1, `id` naming it, written where the file
// already reaches (see the class comment).
WriterStatus AviWriter::appendLegacyIndex(uint32_t id)
{
    const uint64_t bytes = legacyIndexBytes(index_.size());
    WriterStatus status = file_.extendTo(file_.end() + bytes);
    if (!status.ok())
        return status;
    putU32(staging_.data(), id);
    putU32(staging_.data() + 4, static_cast<uint32_t>(bytes - kChunkHeaderSize));
    return writeStaged(kChunkHeaderSize, 0, index_.size(), sizeof(LegacyIndexEntry), putLegacyEntry, nullptr);
}

// Writes the `used` bytes already in staging_, then the index entries
// [first, last) laid out by `fill`, through staging_: appended, or from *at on.
template<typename Fill>
WriterStatus AviWriter::writeStaged(size_t used, size_t first, size_t last, size_t entrySize, Fill fill, uint64_t* at)
{
    uint8_t* out = staging_.data();
    auto write = [&]() {
        const Slice slice {out, used};
        const WriterStatus status = at ? file_.writeAt(*at, out, used) : file_.append(&slice, 1);
        if (at)
            *at += used;
        used = 0;
        return status;
    };
    for (size_t i = first; i < last; ++i) {
        if (used + entrySize > staging_.size()) {
            const WriterStatus status = write();
            if (!status.ok())
                return status;
        }
        fill(index_[i], out + used);
        used += entrySize;
    }
    return used > 0 ? write() : WriterStatus::success();
}

// Undoes a segment end that failed part way: the file is cut back to its
// data, so no piece of an index lies past the sizes, and the space the
// index needs is set aside again.
void AviWriter::cutBack(uint64_t end)
{
    file_.cutTo(end);
    file_.reserveUpTo(end + closingBytes(index_.size()));
}

// ---- The open segment's index ----

// Brings the segment's ix00 in the file up to index_. The entries since
// the last patch go into its room, which its head does not list yet
// (`inRoom`); when they do not fit, a new chunk with every entry and room
// for more is appended, which the super index lists from the next header
// write on.
WriterStatus AviWriter::writeIndex(Room room, bool& inRoom)
{
    inRoom = false;
    const size_t entries = index_.size();
    if (entries == openIndex_.entries)
        return WriterStatus::success();
    if (openIndex_.chunk == 0 || entries > openIndex_.capacity)
        return appendOpenIndex(room);
    uint64_t at = openIndex_.chunk + kStandardIndexBytes + sizeof(StandardIndexEntry) * openIndex_.entries;
    const WriterStatus status =
        writeStaged(0, openIndex_.entries, entries, sizeof(StandardIndexEntry), putStandardEntry, &at);
    inRoom = status.ok();
    return status;
}

WriterStatus AviWriter::appendOpenIndex(Room room)
{
    const size_t entries = index_.size();
    uint64_t capacity = entries;
    if (room == Room::Some) {
        // Room for as many entries again, from at most half of what the
        // segment can spare.
        const uint64_t needed = file_.end() - segment_.riff + kAlignmentBytes + openIndexBytes(entries) +
                                closingBytes(entries);
        const uint64_t spare = needed < options_.segmentLimit ? options_.segmentLimit - needed : 0;
        capacity += std::min<uint64_t>(std::max<uint64_t>(entries, kLeastRoom), spare / 2 / sizeof(StandardIndexEntry));
    }
    const uint64_t bytes = openIndexBytes(capacity);
    WriterStatus status = makeRoom(file_.end() + kAlignmentBytes + bytes + closingBytes(entries));
    if (!status.ok())
        return status;
    const uint64_t start = file_.end();
    status = alignEnd();
    const uint64_t junk = file_.end();
    if (status.ok())
        status = file_.extendTo(junk + bytes);
    if (status.ok()) {
        putU32(staging_.data(), kJunk);
        putU32(staging_.data() + 4, static_cast<uint32_t>(bytes - kChunkHeaderSize));
        fillIndexHead(staging_.data() + kChunkHeaderSize, entries);
        status = writeStaged(kChunkHeaderSize + kStandardIndexBytes, 0, entries, sizeof(StandardIndexEntry),
                             putStandardEntry, nullptr);
    }
    if (!status.ok()) {
        cutBack(start);
        return status;
    }
    file_.skipTo(junk + bytes);
    openIndex_ = OpenIndex {junk + kChunkHeaderSize, capacity, entries};
    return WriterStatus::success();
}

// The ix00's chunk header and index header for `entries` entries.
void AviWriter::fillIndexHead(uint8_t* at, size_t entries) const
{
    StandardIndexHeader head {};
    head.longsPerEntry = sizeof(StandardIndexEntry) / 4;
    head.indexType = kIndexOfChunks;
    head.entriesInUse = static_cast<uint32_t>(entries);
    head.chunkId = kFrameChunk;
    head.baseOffset = segment_.moviList + kListHeaderSize - 4;
    putU32(at, kIx00);
    putU32(at + 4, static_cast<uint32_t>(sizeof head + sizeof(StandardIndexEntry) * entries));
    std::memcpy(at + kChunkHeaderSize, &head, sizeof head);
}

// The ix00's size and count, in one write from its size on: cut short, it
// leaves the size grown and the count as it was, which lists fewer entries.
WriterStatus AviWriter::writeIndexHead(size_t entries)
{
    uint8_t head[kStandardIndexBytes];
    fillIndexHead(head, entries);
    return file_.writeAt(openIndex_.chunk + 4, head + 4, 12);
}

// The segment's super index entry for its open index as it will be, with
// the count that covers it; the first segment's shows the super index, the
// second's makes the file OpenDML.
void AviWriter::listOpenIndex(size_t entries)
{
    const uint32_t slot = segment_.number - 1;
    const auto size = static_cast<uint32_t>(kStandardIndexBytes + sizeof(StandardIndexEntry) * entries);
    putSuperIndexEntry(slot, openIndex_.chunk, size, static_cast<uint32_t>(entries));
    if (superIndexEntries_ == 0)
        showSuperIndex(true);
    if (superIndexEntries_ <= slot)
        setSuperIndexEntries(slot + 1);
    if (slot == 1 && !openDml_) {
        openDml_ = true;
        setHeaderField(layout_.odml, kList);
    }
}

// The first segment's idx1 goes out as JUNK and takes its name only once
// the second segment is listed: past the frames its index lists, MPlayer
// walks on chunk by chunk, and into any chunk over 64 KiB but JUNK, whose
// idx1 entries it plays as frames.
WriterStatus AviWriter::nameLegacyIndex()
{
    uint8_t id[4];
    putU32(id, kIdx1);
    WriterStatus status = file_.writeAt(legacyIndex_, id, sizeof id);
    if (!status.ok())
        return status;
    legacyIndex_ = 0;
    updateHeader<MainHeader>(layout_.mainHeader, [](MainHeader& avih) { avih.flags = kPlainFlags | kAvifHasIndex; });
    return flushHeader();
}

// ---- The super index ----

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

// The reserved JUNK as the super index, or JUNK again.
void AviWriter::showSuperIndex(bool shown)
{
    setHeaderField(layout_.superIndex, shown ? kIndx : kJunk);
    updateHeader<SuperIndexHeader>(layout_.superIndex + kChunkHeaderSize, [](SuperIndexHeader& head) {
        head.longsPerEntry = sizeof(SuperIndexEntry) / 4;
        head.indexSubType = 0;
        head.indexType = kIndexOfIndexes;
        head.chunkId = kFrameChunk;
    });
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
    DirtyRange& dirty = dirty_[zoneOf(at)];
    dirty.begin = std::min(dirty.begin, at);
    dirty.end = std::max(dirty.end, at + sizeof record);
}

AviWriter::Zone AviWriter::zoneOf(size_t at) const
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

// Writes what changed of the header, zone by zone in the order of Zone;
// each write stays in one zone, so a kill part way through it leaves no
// count ahead of what it counts.
WriterStatus AviWriter::flushHeader()
{
    for (DirtyRange& dirty : dirty_) {
        if (dirty.begin >= dirty.end)
            continue;
        const WriterStatus status = file_.writeAt(dirty.begin, header_.data() + dirty.begin, dirty.end - dirty.begin);
        if (!status.ok())
            return status;
        dirty = DirtyRange();
    }
    return WriterStatus::success();
}

// Makes the header describe everything written: the segment's index (its
// entries, or a new chunk for them), the sizes that cover it, then its
// super index entry and the counts, which wait while the sizes cannot be
// written so that the header never lists what they leave out, and last
// the ix00's own count. Reports a failed index too, after the header.
WriterStatus AviWriter::describe(uint64_t now, Room room)
{
    lastFlushMs_ = now;
    indexDue_ = false;
    const size_t entries = index_.size();
    const size_t listed = openIndex_.entries;
    bool inRoom = false;
    const WriterStatus index = writeIndex(room, inRoom);
    WriterStatus status = patchSegmentSizes(file_.end(), file_.end());
    if (!status.ok())
        return status;
    const bool grown = index.ok() && entries != listed;
    if (grown)
        listOpenIndex(entries);
    refreshCounters();
    status = flushHeader();
    if (status.ok() && grown && inRoom)
        status = writeIndexHead(entries);
    if (status.ok() && grown)
        openIndex_.entries = entries;
    if (status.ok() && legacyIndex_ != 0 && superIndexEntries_ > 1)
        status = nameLegacyIndex();
    if (status.ok())
        describedEnd_ = file_.end();
    return index.ok() ? status : index;
}

WriterStatus AviWriter::keepCurrent()
{
    if (!file_.isOpen() || !headerWritten_ || file_.end() == describedEnd_)
        return WriterStatus::success();
    const uint64_t time = now();
    if (time - lastFlushMs_ < options_.flushIntervalMs / 2)
        return WriterStatus::success();
    return describe(time);
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

// The last segment's index, its sizes and the header, then the file cut
// to its end. Closing is the file's last chance, so a step that fails is
// tried once more: a write can fail for a moment.
WriterStatus AviWriter::finishFile()
{
    WriterStatus status;
    if (!isFirstSegment() && index_.size() == 0) {
        status = dropEmptySegment();
    } else {
        // An OpenDML file's last index, complete and listed; what a failed
        // attempt left past the end is cut off.
        if (!isFirstSegment()) {
            status = describe(now(), Room::None);
            if (!status.ok())
                status = describe(now(), Room::None);
            if (!status.ok())
                return fallBackToUnindexed(file_.end(), status);
        }
        const uint64_t dataEnd = file_.end();
        status = finishSegments();
        if (!status.ok()) {
            cutBack(dataEnd);
            status = finishSegments();
        }
        if (!status.ok())
            return fallBackToUnindexed(dataEnd, status);
    }
    WriterStatus trimmed = file_.cutTo(file_.end());
    if (!trimmed.ok())
        trimmed = file_.cutTo(file_.end());
    return status.ok() ? trimmed : status;
}

// The end of the last movi list, a file of one segment's idx1, the sizes,
// and the header: a file of one segment is plain AVI 1.0, its idx1 in place
// of the super index.
WriterStatus AviWriter::finishSegments()
{
    WriterStatus status = alignEnd();
    const uint64_t moviEnd = file_.end();
    if (status.ok() && isFirstSegment())
        status = appendLegacyIndex(kIdx1);
    if (status.ok())
        status = patchSegmentSizes(moviEnd, file_.end());
    if (!status.ok())
        return status;
    if (isFirstSegment()) {
        updateHeader<MainHeader>(layout_.mainHeader,
                                 [](MainHeader& avih) { avih.flags = kPlainFlags | kAvifHasIndex; });
        if (superIndexEntries_ > 0) {
            showSuperIndex(false);
            setSuperIndexEntries(0);
        }
    }
    refreshCounters();
    status = flushHeader();
    return status.ok() ? status : flushHeader();
}

// A segment no chunk reached (its first frame failed): the file ends where
// the one before did, which for the first makes it plain AVI 1.0 again.
WriterStatus AviWriter::dropEmptySegment()
{
    WriterStatus status = file_.cutTo(segment_.riff);
    if (!status.ok())
        return status;
    if (segment_.number == 2) {
        segment_ = Segment {1, 0, layout_.moviList, 0};
        if (legacyIndex_ != 0) {
            status = nameLegacyIndex();
            if (!status.ok())
                return status;
        }
        showSuperIndex(false);
        setSuperIndexEntries(0);
    }
    refreshCounters();
    status = flushHeader();
    return status.ok() ? status : flushHeader();
}

// Without room for the index the file still reads front to back: sizes
// that cover the frames (and any index chunk the header lists), and no
// claim of an idx1.
WriterStatus AviWriter::fallBackToUnindexed(uint64_t dataEnd, WriterStatus why)
{
    file_.cutTo(dataEnd);
    patchSegmentSizes(dataEnd, dataEnd);
    refreshCounters();
    flushHeader();
    return why;
}

} // namespace avi
