#include "platform/avi/avi_writer.h"

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
constexpr size_t kOdmlChunkPayload = 4 + kChunkHeaderSize + kDmlhSize;
constexpr uint32_t kLargestChunkData = 0x7FFFFFFFu; // bit 31 of an ix00 size is a flag

// Offsets inside the avih and strh records.
constexpr size_t kAvihMicroSecPerFrame = 0;
constexpr size_t kAvihMaxBytesPerSec = 4;
constexpr size_t kAvihFlags = 12;
constexpr size_t kAvihTotalFrames = 16;
constexpr size_t kAvihStreams = 24;
constexpr size_t kAvihSuggestedBufferSize = 28;
constexpr size_t kAvihWidth = 32;
constexpr size_t kAvihHeight = 36;
constexpr size_t kStrhLength = 32;
constexpr size_t kStrhSuggestedBufferSize = 36;

uint32_t clampToU32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value); }

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
    if (!path)
        return WriterStatus::refused(Failure::BadArgument);
    if (file_.isOpen())
        return WriterStatus::refused(Failure::BadArgument);
    try {
        staging_.resize(kStagingBytes);
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
    if (header.type != fourcc("vids"))
        return WriterStatus::refused(Failure::NotVideo);
    stream_ = header;
    stream_.name[sizeof(stream_.name) - 1] = '\0';
    hasStream_ = true;
    return WriterStatus::success();
}

WriterStatus AviWriter::setFormat(const void* format, size_t size)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!hasStream_ || !format)
        return WriterStatus::refused(Failure::BadArgument);
    if (streamLength_ > 0)
        return WriterStatus::refused(Failure::FormatChange);
    const auto* bytes = static_cast<const uint8_t*>(format);
    if (size < kBitmapInfoHeaderSize || size > 0xFFFF || getU32(bytes) < kBitmapInfoHeaderSize)
        return WriterStatus::refused(Failure::BadFormat);
    const uint32_t compression = getU32(bytes + 16);
    if (compression != 0)
        return WriterStatus::refused(Failure::BadFormat);
    try {
        format_.assign(bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }

    // The header starts the file; setting the format again rewrites it.
    WriterStatus status;
    if (file_.end() != 0) {
        status = file_.truncate(0);
        if (!status.ok())
            return status;
    }
    try {
        const size_t nameSize = strnlen(stream_.name, sizeof(stream_.name)) + 1;
        const size_t superIndexBytes = kSuperIndexHeaderSize + kSuperIndexEntrySize * options_.superIndexCapacity;
        const size_t strlBytes = kListHeaderSize + kChunkHeaderSize + kStrhSize + kChunkHeaderSize + padded(size) +
                                 kChunkHeaderSize + padded(nameSize) + kChunkHeaderSize + superIndexBytes;
        const size_t hdrlBytes = kListHeaderSize + kChunkHeaderSize + kAvihSize + strlBytes + kChunkHeaderSize +
                                 kOdmlChunkPayload;
        header_.assign(kListHeaderSize + hdrlBytes + kListHeaderSize, 0);
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }

    uint8_t* out = header_.data();
    size_t at = 0;
    auto chunk = [&](uint32_t id, size_t payload) {
        putU32(out + at, id);
        putU32(out + at + 4, static_cast<uint32_t>(payload));
        at += kChunkHeaderSize;
    };
    auto list = [&](uint32_t id, uint32_t type, size_t payload) {
        chunk(id, payload + 4);
        putU32(out + at, type);
        at += 4;
    };

    const int32_t width = static_cast<int32_t>(getU32(bytes + 4));
    const int32_t height = static_cast<int32_t>(getU32(bytes + 8));
    const uint32_t absHeight = height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);

    list(kRiff, kAvi, 0); // sizes are patched as the file grows
    const size_t hdrlStart = at;
    list(kList, kHdrl, 0);

    chunk(kAvih, kAvihSize);
    layout_.avih = at;
    if (stream_.rate != 0 && stream_.scale != 0)
        putU32(out + at + kAvihMicroSecPerFrame,
               clampToU32((uint64_t(1000000) * stream_.scale + stream_.rate / 2) / stream_.rate));
    putU32(out + at + kAvihFlags, kAvifIsInterleaved | kAvifTrustCkType);
    putU32(out + at + kAvihStreams, 1);
    putU32(out + at + kAvihWidth, static_cast<uint32_t>(width < 0 ? 0 : width));
    putU32(out + at + kAvihHeight, absHeight);
    at += kAvihSize;

    const size_t strlStart = at;
    list(kList, kStrl, 0);
    chunk(kStrh, kStrhSize);
    layout_.strh = at;
    putU32(out + at + 0, stream_.type);
    putU32(out + at + 4, stream_.handler);
    putU32(out + at + 8, stream_.flags);
    putU16(out + at + 12, stream_.priority);
    putU16(out + at + 14, stream_.language);
    putU32(out + at + 16, stream_.initialFrames);
    putU32(out + at + 20, stream_.scale);
    putU32(out + at + 24, stream_.rate);
    putU32(out + at + 28, stream_.start);
    putU32(out + at + kStrhSuggestedBufferSize, stream_.suggestedBufferSize);
    putU32(out + at + 40, stream_.quality);
    putU32(out + at + 44, stream_.sampleSize);
    const bool noFrameRect = stream_.frameLeft == 0 && stream_.frameTop == 0 && stream_.frameRight == 0 &&
                             stream_.frameBottom == 0;
    putU16(out + at + 48, static_cast<uint16_t>(stream_.frameLeft));
    putU16(out + at + 50, static_cast<uint16_t>(stream_.frameTop));
    putU16(out + at + 52, static_cast<uint16_t>(noFrameRect ? clampToInt16(width) : stream_.frameRight));
    putU16(out + at + 54, static_cast<uint16_t>(noFrameRect ? clampToInt16(absHeight) : stream_.frameBottom));
    at += kStrhSize;

    chunk(kStrf, size);
    std::memcpy(out + at, bytes, size);
    at += padded(size);

    const size_t nameSize = strnlen(stream_.name, sizeof(stream_.name)) + 1;
    chunk(kStrn, nameSize);
    std::memcpy(out + at, stream_.name, nameSize - 1);
    at += padded(nameSize);

    // Room for the OpenDML super index; a JUNK chunk until the file needs it.
    layout_.indx = at;
    chunk(kJunk, kSuperIndexHeaderSize + kSuperIndexEntrySize * options_.superIndexCapacity);
    at += kSuperIndexHeaderSize + kSuperIndexEntrySize * options_.superIndexCapacity;
    putU32(out + strlStart + 4, static_cast<uint32_t>(at - strlStart - kChunkHeaderSize));

    // Room for 'LIST odml' with its dmlh, likewise.
    layout_.odml = at;
    chunk(kJunk, kOdmlChunkPayload);
    putU32(out + at, kOdml);
    putU32(out + at + 4, kDmlh);
    putU32(out + at + 8, kDmlhSize);
    at += kOdmlChunkPayload;
    putU32(out + hdrlStart + 4, static_cast<uint32_t>(at - hdrlStart - kChunkHeaderSize));

    layout_.moviList = at;
    list(kList, kMovi, 0);
    layout_.size = at;

    headerDirtyBegin_ = 0;
    headerDirtyEnd_ = header_.size();
    segmentCount_ = 1;
    segmentStart_ = 0;
    moviListStart_ = layout_.moviList;
    segmentFirstPosition_ = 0;
    index_.clear();
    superIndexEntries_ = 0;
    openDml_ = false;

    const uint64_t ahead = std::min<uint64_t>(options_.reserveAhead, file_.sizeLimit());
    status = file_.reserveUpTo(header_.size() + closingBytes(0) + ahead);
    if (!status.ok())
        status = file_.reserveUpTo(header_.size() + closingBytes(0));
    if (!status.ok())
        return status;
    Slice slice {header_.data(), header_.size()};
    status = file_.append(&slice, 1);
    if (!status.ok())
        return status;
    headerDirtyBegin_ = SIZE_MAX;
    headerDirtyEnd_ = 0;
    patchSegmentSizes();
    refreshCounters();
    status = writeHeader();
    if (!status.ok())
        return status;
    headerWritten_ = true;
    lastFlushMs_ = monotonicMilliseconds();
    return WriterStatus::success();
}

// Bytes the current segment still needs at its end for `entries` index
// entries: its ix00 and, for the first segment, the idx1 as well.
uint64_t AviWriter::closingBytes(size_t entries) const
{
    uint64_t bytes = kChunkHeaderSize + kStandardIndexHeaderSize + kStandardIndexEntrySize * uint64_t(entries);
    if (isFirstSegment())
        bytes += kChunkHeaderSize + kIdx1EntrySize * uint64_t(entries);
    return bytes;
}

bool AviWriter::fitsInSegment(uint64_t bytes, size_t entries) const
{
    const uint64_t used = file_.end() - segmentStart_;
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
        kSegmentHeaderBytes + frameBytes + kChunkHeaderSize + kStandardIndexHeaderSize + kStandardIndexEntrySize >
            options_.segmentLimit)
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
        const uint64_t used = file_.end() - segmentStart_ + closingBytes(index_.size());
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
    uint64_t offset = file_.end() - (moviListStart_ + kListHeaderSize - 4);
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
    if (withFrame) {
        ++framesWritten_;
        largestChunk_ = std::max(largestChunk_, size);
    }
    // A header patch that fails here is retried by the next flush and by
    // close; the frame itself is in the file.
    flushIfDue();
    return WriterStatus::success();
}

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

    uint8_t headers[kSegmentHeaderBytes];
    putU32(headers, kRiff);
    putU32(headers + 4, 4 + kListHeaderSize);
    putU32(headers + 8, kAvix);
    putU32(headers + 12, kList);
    putU32(headers + 16, 4);
    putU32(headers + 20, kMovi);
    const uint64_t start = file_.end();
    Slice slice {headers, sizeof headers};
    status = file_.append(&slice, 1);
    if (!status.ok())
        return status;
    ++segmentCount_;
    segmentStart_ = start;
    moviListStart_ = start + kListHeaderSize;
    segmentFirstPosition_ = streamLength_;
    index_.clear();
    refreshCounters();
    return writeHeader();
}

// Ends the current segment: its ix00 (for OpenDML files) inside its movi,
// then for the first segment the idx1, then the sizes.
WriterStatus AviWriter::finishSegment(bool asOpenDml)
{
    WriterStatus status;
    if (asOpenDml) {
        status = writeStandardIndex();
        if (!status.ok())
            return status;
    }
    const uint32_t moviSize = static_cast<uint32_t>(file_.end() - moviListStart_ - kChunkHeaderSize);
    if (isFirstSegment()) {
        patchHeader(layout_.moviList + 4, moviSize);
        status = writeLegacyIndex();
        if (!status.ok())
            return status;
        patchHeader(4, static_cast<uint32_t>(file_.end() - kChunkHeaderSize));
        patchHeader(layout_.avih + kAvihFlags, kAvifIsInterleaved | kAvifTrustCkType | kAvifHasIndex);
        return WriterStatus::success();
    }
    uint8_t size[4];
    putU32(size, moviSize);
    status = file_.writeAt(moviListStart_ + 4, size, 4);
    if (!status.ok())
        return status;
    putU32(size, static_cast<uint32_t>(file_.end() - segmentStart_ - kChunkHeaderSize));
    return file_.writeAt(segmentStart_ + 4, size, 4);
}

WriterStatus AviWriter::appendFromStaging(size_t bytes)
{
    Slice slice {staging_.data(), bytes};
    return file_.append(&slice, 1);
}

WriterStatus AviWriter::writeStandardIndex()
{
    const size_t entries = index_.size();
    const uint64_t chunkStart = file_.end();
    const uint32_t payload = static_cast<uint32_t>(kStandardIndexHeaderSize + kStandardIndexEntrySize * entries);
    const uint64_t base = moviListStart_ + kListHeaderSize - 4;

    uint8_t* out = staging_.data();
    putU32(out, kIx00);
    putU32(out + 4, payload);
    putU16(out + 8, 2);               // longs per entry
    out[10] = 0;                      // sub type
    out[11] = kIndexOfChunks;
    putU32(out + 12, static_cast<uint32_t>(entries));
    putU32(out + 16, kFrameChunk);
    putU64(out + 20, base);
    putU32(out + 28, 0);
    size_t used = kChunkHeaderSize + kStandardIndexHeaderSize;
    for (size_t i = 0; i < entries; ++i) {
        if (used + kStandardIndexEntrySize > staging_.size()) {
            WriterStatus status = appendFromStaging(used);
            if (!status.ok())
                return status;
            used = 0;
        }
        const IndexEntry& entry = index_[i];
        putU32(out + used, entry.chunkOffset + static_cast<uint32_t>(kChunkHeaderSize));
        putU32(out + used + 4, entry.sizeAndFlags);
        used += kStandardIndexEntrySize;
    }
    WriterStatus status = appendFromStaging(used);
    if (!status.ok())
        return status;

    const size_t slot = layout_.indx + kChunkHeaderSize + kSuperIndexHeaderSize + kSuperIndexEntrySize * superIndexEntries_;
    patchHeader(slot, static_cast<uint32_t>(chunkStart));
    patchHeader(slot + 4, static_cast<uint32_t>(chunkStart >> 32));
    patchHeader(slot + 8, static_cast<uint32_t>(kChunkHeaderSize + payload));
    patchHeader(slot + 12, static_cast<uint32_t>(streamLength_ - segmentFirstPosition_));
    ++superIndexEntries_;
    patchHeader(layout_.indx + kChunkHeaderSize + 4, superIndexEntries_);
    return WriterStatus::success();
}

WriterStatus AviWriter::writeLegacyIndex()
{
    const size_t entries = index_.size();
    uint8_t* out = staging_.data();
    putU32(out, kIdx1);
    putU32(out + 4, static_cast<uint32_t>(kIdx1EntrySize * entries));
    size_t used = kChunkHeaderSize;
    for (size_t i = 0; i < entries; ++i) {
        if (used + kIdx1EntrySize > staging_.size()) {
            WriterStatus status = appendFromStaging(used);
            if (!status.ok())
                return status;
            used = 0;
        }
        const IndexEntry& entry = index_[i];
        const bool keyFrame = (entry.sizeAndFlags & kNonKeyFrameBit) == 0;
        putU32(out + used, kFrameChunk);
        putU32(out + used + 4, keyFrame ? kIndexKeyFrame : 0);
        putU32(out + used + 8, entry.chunkOffset);
        putU32(out + used + 12, entry.sizeAndFlags & ~kNonKeyFrameBit);
        used += kIdx1EntrySize;
    }
    return appendFromStaging(used);
}

// The file outgrows its first segment: the reserved JUNK becomes the
// OpenDML super index and the 'LIST odml' header.
void AviWriter::convertToOpenDml()
{
    openDml_ = true;
    const size_t indx = layout_.indx;
    patchHeader(indx, kIndx);
    header_[indx + kChunkHeaderSize + 0] = 4; // longs per entry
    header_[indx + kChunkHeaderSize + 1] = 0;
    header_[indx + kChunkHeaderSize + 2] = 0; // sub type
    header_[indx + kChunkHeaderSize + 3] = kIndexOfIndexes;
    patchHeader(indx + kChunkHeaderSize + 8, kFrameChunk);
    patchHeader(layout_.odml, kList);
}

void AviWriter::patchHeader(size_t offset, uint32_t value)
{
    putU32(header_.data() + offset, value);
    headerDirtyBegin_ = std::min(headerDirtyBegin_, offset);
    headerDirtyEnd_ = std::max(headerDirtyEnd_, offset + 4);
}

void AviWriter::refreshCounters()
{
    const size_t avih = layout_.avih;
    patchHeader(avih + kAvihTotalFrames, clampToU32(isFirstSegment() ? streamLength_ : firstSegmentLength_));
    patchHeader(avih + kAvihSuggestedBufferSize, largestChunk_ + static_cast<uint32_t>(kChunkHeaderSize));
    if (stream_.scale != 0)
        patchHeader(avih + kAvihMaxBytesPerSec,
                    clampToU32(uint64_t(largestChunk_) * stream_.rate / stream_.scale));
    patchHeader(layout_.strh + kStrhLength, clampToU32(streamLength_));
    patchHeader(layout_.strh + kStrhSuggestedBufferSize, std::max(stream_.suggestedBufferSize, largestChunk_));
    patchHeader(layout_.odml + kChunkHeaderSize + 4 + kChunkHeaderSize, clampToU32(streamLength_));
}

WriterStatus AviWriter::writeHeader()
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

// Makes the sizes of the open segment cover everything written so far.
WriterStatus AviWriter::patchSegmentSizes()
{
    const uint32_t moviSize = static_cast<uint32_t>(file_.end() - moviListStart_ - kChunkHeaderSize);
    const uint32_t riffSize = static_cast<uint32_t>(file_.end() - segmentStart_ - kChunkHeaderSize);
    if (isFirstSegment()) {
        patchHeader(layout_.moviList + 4, moviSize);
        patchHeader(4, riffSize);
        return WriterStatus::success();
    }
    uint8_t size[4];
    putU32(size, moviSize);
    WriterStatus status = file_.writeAt(moviListStart_ + 4, size, 4);
    if (!status.ok())
        return status;
    putU32(size, riffSize);
    return file_.writeAt(segmentStart_ + 4, size, 4);
}

WriterStatus AviWriter::flushIfDue()
{
    const uint64_t now = monotonicMilliseconds();
    if (now - lastFlushMs_ < options_.flushIntervalMs)
        return WriterStatus::success();
    lastFlushMs_ = now;
    WriterStatus status = patchSegmentSizes();
    refreshCounters();
    WriterStatus header = writeHeader();
    return status.ok() ? header : status;
}

WriterStatus AviWriter::close()
{
    if (!file_.isOpen())
        return WriterStatus::success();
    WriterStatus result;
    if (headerWritten_) {
        const uint64_t dataEnd = file_.end();
        const uint32_t superIndexEntries = superIndexEntries_;
        result = finishSegment(openDml_);
        refreshCounters();
        if (result.ok())
            result = writeHeader();
        if (!result.ok()) {
            // Without room for the index the file still reads front to back:
            // sizes that cover the frames, and no claim of an index.
            file_.truncate(dataEnd);
            if (superIndexEntries_ != superIndexEntries) {
                superIndexEntries_ = superIndexEntries;
                patchHeader(layout_.indx + kChunkHeaderSize + 4, superIndexEntries_);
            }
            patchSegmentSizes();
            if (isFirstSegment())
                patchHeader(layout_.avih + kAvihFlags, kAvifIsInterleaved | kAvifTrustCkType);
            writeHeader();
        }
        // Bytes of a failed write may lie past the end; cut them off.
        WriterStatus trimmed = file_.truncate(file_.end());
        if (result.ok())
            result = trimmed;
    }
    WriterStatus closed = file_.close();
    headerWritten_ = false;
    return result.ok() ? closed : result;
}

} // namespace avi
