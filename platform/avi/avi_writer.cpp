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

// RIFF 'AVIX' holding LIST 'movi', both empty: how every segment after the
// first begins.
constexpr uint8_t kSegmentStart[] = {'R', 'I', 'F', 'F', 16, 0, 0, 0, 'A', 'V', 'I', 'X',
                                     'L', 'I', 'S', 'T', 4,  0, 0, 0, 'm', 'o', 'v', 'i'};
static_assert(sizeof kSegmentStart == 2 * kListHeaderSize, "a RIFF and a LIST header");
constexpr uint32_t kLargestChunkData = 0x7FFFFFFFu; // bit 31 of an ix00 size is a flag
// A JUNK chunk of two bytes moves an end that lies 2 past a multiple of 4
// onto one.
constexpr uint64_t kAlignmentBytes = kChunkHeaderSize + 2;
// A new ix00 has room for as many more entries as it lists, and at least
// this many, so that an entry is copied about once more on average.
constexpr uint64_t kLeastRoom = 256;

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

} // namespace

// One append's chunks as the slices of one write: the empty chunks of
// skipped positions, then the frame's header, bytes and pad.
struct AviWriter::ChunkSlices {
    Slice slices[kSlicesPerAppend];
    size_t count = 0;
    uint8_t frameHeader[kChunkHeaderSize];
};

WriterOptions withinFormatLimits(WriterOptions options)
{
    options.segmentLimit = std::min(options.segmentLimit, kLargestSegment);
    options.superIndexCapacity = std::clamp(options.superIndexCapacity, 2u, kLargestSuperIndex);
    return options;
}

AviWriter::AviWriter(const WriterOptions& options)
    : options_(withinFormatLimits(options))
    , spaceAhead_(options_.reserveAhead)
{
}

AviWriter::~AviWriter() { close(); }

WriterStatus AviWriter::open(const char* path)
{
    if (!path || file_.isOpen())
        return WriterStatus::refused(Failure::BadArgument);
    startOver();
    if (!index_.allocate())
        return WriterStatus::refused(Failure::OutOfMemory);
    return file_.create(path);
}

// Everything of the last file goes; what memory it took stays for the next.
void AviWriter::startOver()
{
    stream_ = StreamHeader();
    hasStream_ = false;
    header_.markUnwritten();
    spaceAhead_ = SpaceAhead(options_.reserveAhead);
    segment_ = Segment();
    index_.startSegment(0);
    unnamedIdx1_ = 0;
    segmentUnlisted_ = false;
    counts_ = StreamCounts();
    lastPatch_ = LastPatch();
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

// ---- RIFF 'AVI ': the header ----

namespace {

// A first segment that cannot hold one frame after the header leaves a
// file whose AVI 1.0 part has no frame, which some readers refuse.
uint64_t firstSegmentNeeds(uint64_t headerBytes, const BitmapInfoHeader& bitmap, uint64_t closingBytes)
{
    return headerBytes + kChunkHeaderSize + padded(imageBytes(bitmap)) + closingBytes;
}

} // namespace

WriterStatus AviWriter::setFormat(const void* format, size_t size)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!hasStream_ || !format)
        return WriterStatus::refused(Failure::BadArgument);
    if (counts_.length > 0)
        return WriterStatus::refused(Failure::FormatChange);
    WriterStatus status = checkFormat(format, size);
    if (!status.ok())
        return status;
    BitmapInfoHeader bitmap;
    std::memcpy(&bitmap, format, sizeof bitmap);
    try {
        header_.layOut(stream_, bitmap, format, size, options_.superIndexCapacity);
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }
    if (firstSegmentNeeds(header_.size(), bitmap, closingBytes(true, 1)) > options_.segmentLimit)
        return WriterStatus::refused(Failure::SegmentTooSmall);
    // The header starts the file; setting the format again rewrites it.
    header_.markUnwritten();
    if (file_.end() != 0) {
        status = file_.cutTo(0);
        if (!status.ok())
            return status;
    }
    return startFirstSegment();
}

uint64_t AviWriter::smallestSegment(const WriterOptions& options, const StreamHeader& stream, const void* format,
                                    size_t size)
{
    if (!format || !checkFormat(format, size).ok())
        return 0;
    BitmapInfoHeader bitmap;
    std::memcpy(&bitmap, format, sizeof bitmap);
    FileHeader header;
    try {
        header.layOut(stream, bitmap, format, size, withinFormatLimits(options).superIndexCapacity);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return firstSegmentNeeds(header.size(), bitmap, closingBytes(true, 1));
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

// The header goes out first and describing itself, so a file whose writer
// dies before its first frame reads as an empty recording.
WriterStatus AviWriter::startFirstSegment()
{
    segment_ = Segment {1, 0, header_.moviList()};
    index_.startSegment(segment_.moviList);
    unnamedIdx1_ = 0;
    segmentUnlisted_ = false;
    counts_.start = stream_.start;
    patchSegmentSizes(header_.size(), header_.size());
    refreshCounts();
    Slice slice {header_.data(), header_.size()};
    WriterStatus status = file_.append(&slice, 1);
    if (status.ok())
        status = makeRoom(header_.size() + closingBytes(0));
    if (!status.ok())
        return status;
    header_.markWritten();
    lastPatch_ = LastPatch {now(), file_.end()};
    return WriterStatus::success();
}

// ---- Room ----

// Bytes a segment needs at its end for `entries` index entries: its ix00
// written anew, each behind a JUNK that aligns it, and for the first
// segment the idx1 as well.
uint64_t AviWriter::closingBytes(bool firstSegment, size_t entries)
{
    uint64_t bytes = 2 * kAlignmentBytes + OpenIndex::chunkBytes(entries);
    if (firstSegment)
        bytes += OpenIndex::idx1Bytes(entries);
    return bytes;
}

bool AviWriter::fitsInSegment(uint64_t bytes, size_t entries) const
{
    const uint64_t used = file_.end() - segment_.riff;
    return used + bytes + closingBytes(index_.size() + entries) <= options_.segmentLimit;
}

// How many empty chunks the segment has room for, with their entries.
uint64_t AviWriter::gapsThatFit() const
{
    const uint64_t perGap = kChunkHeaderSize + (closingBytes(1) - closingBytes(0));
    const uint64_t used = file_.end() - segment_.riff + closingBytes(index_.size());
    return used < options_.segmentLimit ? (options_.segmentLimit - used) / perGap : 0;
}

// Undoes a step that failed part way: the file is cut back to its data, so
// no piece of an index lies past the sizes, and the space the index needs
// is set aside again.
void AviWriter::cutBack(uint64_t end)
{
    file_.cutTo(end);
    file_.reserveUpTo(end + closingBytes(index_.size()));
}

// ---- LIST movi: frames and empty chunks ----

WriterStatus AviWriter::writeFrame(int64_t position, const void* data, uint32_t size, bool keyFrame)
{
    if (!file_.isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!header_.written())
        return WriterStatus::refused(Failure::FormatNotSet);
    if (size > 0 && !data)
        return WriterStatus::refused(Failure::BadArgument);
    const uint64_t frameBytes = kChunkHeaderSize + padded(size);
    if (size > kLargestChunkData ||
        sizeof kSegmentStart + frameBytes + closingBytes(false, 1) > options_.segmentLimit)
        return WriterStatus::refused(Failure::FrameTooLarge);

    const uint64_t end = counts_.start + counts_.length;
    uint64_t gaps = 0;
    if (position > 0 && static_cast<uint64_t>(position) > end)
        gaps = static_cast<uint64_t>(position) - end;
    if (gaps > options_.maxGap)
        return WriterStatus::refused(Failure::GapTooLarge);
    if (counts_.length == 0 && gaps > 0) {
        WriterStatus status = declareStart(static_cast<uint64_t>(position));
        if (!status.ok())
            return status;
        gaps = 0;
    }

    const Frame frame {data, size, keyFrame};
    for (;;) {
        if (gaps <= kGapsPerAppend && fitsInSegment(kChunkHeaderSize * gaps + frameBytes, gaps + 1))
            return appendChunks(gaps, &frame);
        // Gaps that do not travel with the frame go ahead on their own,
        // segment by segment.
        const uint64_t batch = std::min({gaps, gapsThatFit(), kGapsPerAppend});
        WriterStatus status = batch == 0 ? startNextSegment() : appendChunks(batch, nullptr);
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
    header_.setStart(position);
    WriterStatus status = header_.flush(file_);
    if (status.ok())
        counts_.start = position;
    return status;
}

// `gaps` empty chunks and the frame, if any: their space and index entries
// first, then one write.
WriterStatus AviWriter::appendChunks(uint64_t gaps, const Frame* frame)
{
    const size_t entries = static_cast<size_t>(gaps) + (frame ? 1 : 0);
    const uint64_t bytes = kChunkHeaderSize * gaps + (frame ? kChunkHeaderSize + padded(frame->size) : 0);
    WriterStatus status = makeRoom(file_.end() + bytes + closingBytes(index_.size() + entries));
    if (!status.ok())
        return status;
    if (!index_.reserve(entries))
        return WriterStatus::refused(Failure::OutOfMemory);

    const size_t listedBefore = index_.size();
    listChunks(gaps, frame);
    // Where zeros hold the space ahead, a frame that a kill cuts short
    // would claim them as the rest of its bytes: it goes out as JUNK and
    // takes its name once whole.
    const bool namedAfter = frame && file_.holdsSpaceWithZeros();
    ChunkSlices chunks;
    sliceChunks(gaps, frame, namedAfter, chunks);
    status = commitChunks(chunks, gaps, frame, namedAfter);
    if (!status.ok())
        index_.truncate(listedBefore);
    return status;
}

// The chunks' index entries, by their offsets in the movi list.
void AviWriter::listChunks(uint64_t gaps, const Frame* frame)
{
    uint64_t offset = file_.end() - (segment_.moviList + kListHeaderSize - 4);
    for (uint64_t i = 0; i < gaps; ++i, offset += kChunkHeaderSize)
        index_.add(static_cast<uint32_t>(offset), 0, false);
    if (frame)
        index_.add(static_cast<uint32_t>(offset), frame->size, frame->keyFrame);
}

void AviWriter::sliceChunks(uint64_t gaps, const Frame* frame, bool namedAfter, ChunkSlices& chunks) const
{
    for (uint64_t left = gaps; left > 0;) {
        const uint64_t take = std::min<uint64_t>(left, kGapsPerSlice);
        chunks.slices[chunks.count++] = {gapChunks().bytes.data(), static_cast<size_t>(take * kChunkHeaderSize)};
        left -= take;
    }
    if (!frame)
        return;
    static const uint8_t kPad = 0;
    putU32(chunks.frameHeader, namedAfter ? kJunk : kFrameChunk);
    putU32(chunks.frameHeader + 4, frame->size);
    chunks.slices[chunks.count++] = {chunks.frameHeader, sizeof chunks.frameHeader};
    if (frame->size > 0)
        chunks.slices[chunks.count++] = {frame->data, frame->size};
    if (frame->size & 1)
        chunks.slices[chunks.count++] = {&kPad, 1};
}

// Writes the chunks, names a frame that went out as JUNK, and counts them.
// A header patch that fails here is retried by the next one and by close;
// the chunks themselves are in the file.
WriterStatus AviWriter::commitChunks(const ChunkSlices& chunks, uint64_t gaps, const Frame* frame, bool namedAfter)
{
    const uint64_t start = file_.end();
    WriterStatus status = file_.append(chunks.slices, chunks.count);
    if (status.ok() && namedAfter) {
        uint8_t id[4];
        putU32(id, kFrameChunk);
        status = file_.writeAt(start + kChunkHeaderSize * gaps, id, sizeof id);
        if (!status.ok())
            cutBack(start);
    }
    if (!status.ok())
        return status;

    counts_.length += gaps + (frame ? 1 : 0);
    if (isFirstSegment())
        counts_.firstSegmentLength = counts_.length;
    if (frame)
        counts_.largestChunk = std::max(counts_.largestChunk, frame->size);
    const uint64_t time = now();
    if (segmentUnlisted_ || time - lastPatch_.timeMs >= options_.flushIntervalMs)
        patchIndexAndHeader(time);
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

// ---- RIFF 'AVIX': segments ----

// Ends the current segment and starts the next: the segment's index made
// complete and listed, its movi list ended, the first segment's idx1 (as
// JUNK until the next segment is listed), its RIFF ended, then the next
// RIFF and movi list begun; the sizes of both lists go into the header last.
// What fails after the index is cut back.
WriterStatus AviWriter::startNextSegment()
{
    if (segment_.number >= options_.superIndexCapacity)
        return WriterStatus::refused(Failure::FileTooLong);
    WriterStatus status = makeRoom(file_.end() + closingBytes(index_.size()) + sizeof kSegmentStart);
    if (status.ok())
        status = patchIndexAndHeader(now(), IndexFor::EndingSegment);
    if (!status.ok())
        return status;

    const uint64_t dataEnd = file_.end();
    status = alignEnd();
    const uint64_t moviEnd = file_.end();
    if (status.ok() && isFirstSegment())
        status = index_.appendIdx1(file_, kJunk);
    const uint64_t riffEnd = file_.end();
    const Slice segmentStart {kSegmentStart, sizeof kSegmentStart};
    if (status.ok())
        status = file_.append(&segmentStart, 1);
    if (status.ok())
        status = patchSegmentSizes(moviEnd, riffEnd);
    if (status.ok())
        status = header_.flush(file_);
    if (!status.ok()) {
        cutBack(dataEnd);
        patchSegmentSizes(dataEnd, dataEnd);
        header_.flush(file_);
        return status;
    }

    if (isFirstSegment())
        unnamedIdx1_ = moviEnd;
    segment_ = Segment {segment_.number + 1, riffEnd, riffEnd + kListHeaderSize};
    index_.startSegment(segment_.moviList);
    segmentUnlisted_ = true;
    return WriterStatus::success();
}

// Sets the open segment's RIFF and movi sizes. The first segment's lie in
// the header in memory; a later one's are written in one piece, the outer
// size first, so a kill never leaves the movi list running past its RIFF.
WriterStatus AviWriter::patchSegmentSizes(uint64_t moviEnd, uint64_t riffEnd)
{
    const auto riffSize = static_cast<uint32_t>(riffEnd - segment_.riff - kChunkHeaderSize);
    const auto moviSize = static_cast<uint32_t>(moviEnd - segment_.moviList - kChunkHeaderSize);
    if (isFirstSegment()) {
        header_.setFirstSegmentSizes(riffSize, moviSize);
        return WriterStatus::success();
    }
    uint8_t sizes[16];
    putU32(sizes, riffSize);
    putU32(sizes + 4, kAvix);
    putU32(sizes + 8, kList);
    putU32(sizes + 12, moviSize);
    return file_.writeAt(segment_.riff + 4, sizes, sizeof sizes);
}

// The first segment's idx1 goes out as JUNK and takes its name only once
// the second segment is listed: past the frames its index lists, MPlayer
// walks on chunk by chunk, and into any chunk over 64 KiB but JUNK, whose
// idx1 entries it plays as frames.
WriterStatus AviWriter::nameIdx1()
{
    uint8_t id[4];
    putU32(id, kIdx1);
    WriterStatus status = file_.writeAt(unnamedIdx1_, id, sizeof id);
    if (!status.ok())
        return status;
    unnamedIdx1_ = 0;
    header_.markIndexed();
    return header_.flush(file_);
}

// ---- Patches ----

// Makes the header describe everything written: the segment's index (its
// entries, or a new chunk for them), the sizes that cover it, then its
// super index entry and the counts, which wait while the sizes cannot be
// written so that the header never lists what they leave out, and last
// the ix00's own count. Reports a failed index too, after the header.
WriterStatus AviWriter::patchIndexAndHeader(uint64_t now, IndexFor purpose)
{
    lastPatch_.timeMs = now;
    segmentUnlisted_ = false;
    const size_t entries = index_.size();
    const IndexUpdate index = writeNewIndexEntries(purpose);
    WriterStatus status = patchSegmentSizes(file_.end(), file_.end());
    if (!status.ok())
        return status;
    if (index.placed != Placed::Nowhere)
        header_.listSegmentIndex(segment_.number - 1, index_.chunk(), OpenIndex::listedBytes(entries),
                                 static_cast<uint32_t>(entries));
    refreshCounts();
    status = header_.flush(file_);
    if (status.ok() && index.placed == Placed::InRoom)
        status = index_.writeHead(file_);
    if (status.ok() && unnamedIdx1_ != 0 && header_.segmentsListed() > 1)
        status = nameIdx1();
    if (status.ok())
        lastPatch_.fileEnd = file_.end();
    return index.status.ok() ? status : index.status;
}

// Brings the segment's ix00 in the file up to its entries: the new ones
// into its room, which its head does not list yet, or, when they do not
// fit, a new chunk with every entry, which the super index lists from the
// next header write on.
AviWriter::IndexUpdate AviWriter::writeNewIndexEntries(IndexFor purpose)
{
    const size_t entries = index_.size();
    if (entries == index_.listed())
        return {WriterStatus::success(), Placed::Nowhere};
    if (!index_.hasRoomFor(entries))
        return appendIndexChunk(purpose);
    const WriterStatus status = index_.writeIntoRoom(file_);
    return {status, status.ok() ? Placed::InRoom : Placed::Nowhere};
}

AviWriter::IndexUpdate AviWriter::appendIndexChunk(IndexFor purpose)
{
    const size_t entries = index_.size();
    uint64_t capacity = entries;
    if (purpose == IndexFor::GrowingSegment) {
        // Room for as many entries again, from at most half of what the
        // segment can spare.
        const uint64_t needed = file_.end() - segment_.riff + kAlignmentBytes + OpenIndex::chunkBytes(entries) +
                                closingBytes(entries);
        const uint64_t spare = needed < options_.segmentLimit ? options_.segmentLimit - needed : 0;
        capacity += std::min<uint64_t>(std::max<uint64_t>(entries, kLeastRoom), spare / 2 / sizeof(StandardIndexEntry));
    }
    WriterStatus status = makeRoom(file_.end() + kAlignmentBytes + OpenIndex::chunkBytes(capacity) +
                                   closingBytes(entries));
    if (!status.ok())
        return {status, Placed::Nowhere};
    const uint64_t start = file_.end();
    status = alignEnd();
    if (status.ok())
        status = index_.appendChunk(file_, capacity);
    if (!status.ok()) {
        cutBack(start);
        return {status, Placed::Nowhere};
    }
    return {status, Placed::InNewChunk};
}

WriterStatus AviWriter::keepCurrent()
{
    if (!file_.isOpen() || !header_.written() || file_.end() == lastPatch_.fileEnd)
        return WriterStatus::success();
    const uint64_t time = now();
    if (time - lastPatch_.timeMs < options_.flushIntervalMs / 2)
        return WriterStatus::success();
    return patchIndexAndHeader(time);
}

// ---- Closing ----

WriterStatus AviWriter::close()
{
    if (!file_.isOpen())
        return WriterStatus::success();
    // A file that never got its header is left empty.
    WriterStatus result = header_.written() ? finishFile() : file_.cutTo(0);
    WriterStatus closed = file_.close();
    header_.markUnwritten();
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
            status = patchIndexAndHeader(now(), IndexFor::EndingSegment);
            if (!status.ok())
                status = patchIndexAndHeader(now(), IndexFor::EndingSegment);
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
        status = index_.appendIdx1(file_, kIdx1);
    if (status.ok())
        status = patchSegmentSizes(moviEnd, file_.end());
    if (!status.ok())
        return status;
    if (isFirstSegment()) {
        header_.markIndexed();
        if (header_.segmentsListed() > 0)
            header_.hideSuperIndex();
    }
    refreshCounts();
    status = header_.flush(file_);
    return status.ok() ? status : header_.flush(file_);
}

// A segment no chunk reached (its first frame failed): the file ends where
// the one before did, which for the first makes it plain AVI 1.0 again.
WriterStatus AviWriter::dropEmptySegment()
{
    WriterStatus status = file_.cutTo(segment_.riff);
    if (!status.ok())
        return status;
    if (segment_.number == 2) {
        segment_ = Segment {1, 0, header_.moviList()};
        if (unnamedIdx1_ != 0) {
            status = nameIdx1();
            if (!status.ok())
                return status;
        }
        header_.hideSuperIndex();
    }
    refreshCounts();
    status = header_.flush(file_);
    return status.ok() ? status : header_.flush(file_);
}

// Without room for the index the file still reads front to back: sizes
// that cover the frames (and any index chunk the header lists), and no
// claim of an idx1.
WriterStatus AviWriter::fallBackToUnindexed(uint64_t dataEnd, WriterStatus why)
{
    file_.cutTo(dataEnd);
    patchSegmentSizes(dataEnd, dataEnd);
    refreshCounts();
    header_.flush(file_);
    return why;
}

} // namespace avi
