// An uncompressed AVI writer for one video stream of positioned frames.
//
// The file starts as a plain AVI 1.0 file (RIFF 'AVI ' with hdrl, movi and
// idx1). Space for the OpenDML super index and the dmlh header is reserved
// as JUNK; once the first RIFF segment is full the file becomes OpenDML in
// place: the first segment gets its ix00 and idx1, the JUNK turns into
// 'indx' and 'LIST odml', and further frames go into RIFF 'AVIX' segments,
// each with its own ix00.
//
// Positions past the end of the stream are filled with empty chunks, which
// every reader counts as frames without picture, so a frame's timestamp is
// its position. A position at or before the end is appended at the end.
//
// Crash safety: at most every flushInterval the header's sizes and counts
// are patched to describe everything written so far, so a reader can walk a
// file whose writer was killed. Closing needs no space the disk does not
// have: the bytes the indexes will take are allocated ahead of the frames.
#pragma once

#include "platform/avi/avi_format.h"
#include "platform/avi/output_file.h"
#include "platform/avi/segment_index.h"
#include "platform/avi/writer_status.h"

#include <cstdint>
#include <vector>

namespace avi {

// The strh values the caller chooses.
struct StreamHeader {
    uint32_t type = 0;
    uint32_t handler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 1;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0xFFFFFFFFu;
    uint32_t sampleSize = 0;
    int16_t frameLeft = 0;
    int16_t frameTop = 0;
    int16_t frameRight = 0;
    int16_t frameBottom = 0;
    char name[64] = {};
};

struct WriterOptions {
    uint64_t segmentLimit = uint64_t(1) << 30; // bytes per RIFF segment, headers included
    uint32_t superIndexCapacity = 4096;        // most segments one file can have
    uint32_t flushIntervalMs = 1000;           // most time between header patches
    uint32_t maxGap = 1u << 20;                // most empty positions one write may add
    uint64_t reserveAhead = uint64_t(16) << 20; // disk blocks allocated ahead of the frames
};

class AviWriter {
public:
    explicit AviWriter(const WriterOptions& options = WriterOptions());
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    WriterStatus open(const char* path);
    WriterStatus createStream(const StreamHeader& header);
    // Takes a BITMAPINFOHEADER (and any colour table after it) and writes the file header.
    WriterStatus setFormat(const void* format, size_t size);
    // Writes one frame at `position`; see the class comment for where it lands.
    WriterStatus writeFrame(int64_t position, const void* data, uint32_t size, bool keyFrame);
    // Writes the indexes, patches the header and closes the file.
    WriterStatus close();

    bool hasStream() const { return hasStream_; }
    bool isOpen() const { return file_.isOpen(); }
    uint64_t streamLength() const { return streamLength_; }
    uint64_t framesWritten() const { return framesWritten_; }
    uint32_t segmentCount() const { return segmentCount_; }
    uint64_t fileEnd() const { return file_.end(); }

private:
    struct HeaderLayout {
        size_t avih = 0;      // data of the avih chunk
        size_t strh = 0;      // data of the strh chunk
        size_t indx = 0;      // the JUNK chunk that becomes 'indx'
        size_t odml = 0;      // the JUNK chunk that becomes 'LIST odml'
        size_t moviList = 0;  // the first segment's 'LIST' header
        size_t size = 0;
    };

    bool isFirstSegment() const { return segmentCount_ == 1; }
    uint64_t closingBytes(size_t entries) const;
    bool fitsInSegment(uint64_t bytes, size_t entries) const;
    WriterStatus makeRoom(uint64_t bytes, size_t entries);
    WriterStatus appendChunks(uint64_t gaps, const void* data, uint32_t size, bool keyFrame, bool withFrame);
    WriterStatus appendGapsInSegment(uint64_t gaps);
    WriterStatus startNextSegment();
    WriterStatus finishSegment(bool becomingOpenDml);
    WriterStatus writeStandardIndex();
    WriterStatus writeLegacyIndex();
    void convertToOpenDml();
    void patchHeader(size_t offset, uint32_t value);
    void refreshCounters();
    WriterStatus writeHeader();
    WriterStatus patchSegmentSizes();
    WriterStatus flushIfDue();
    WriterStatus appendFromStaging(size_t bytes);

    WriterOptions options_;
    OutputFile file_;
    StreamHeader stream_;
    bool hasStream_ = false;
    bool headerWritten_ = false;
    std::vector<uint8_t> format_;
    std::vector<uint8_t> header_;
    HeaderLayout layout_;
    size_t headerDirtyBegin_ = SIZE_MAX;
    size_t headerDirtyEnd_ = 0;

    uint32_t segmentCount_ = 0;
    uint64_t segmentStart_ = 0;    // 'RIFF' of the current segment
    uint64_t moviListStart_ = 0;   // 'LIST' of the current segment's movi
    uint64_t segmentFirstPosition_ = 0;
    SegmentIndex index_;
    uint32_t superIndexEntries_ = 0;
    bool openDml_ = false;

    uint64_t streamLength_ = 0;      // positions, gaps included
    uint64_t firstSegmentLength_ = 0;
    uint64_t framesWritten_ = 0;
    uint32_t largestChunk_ = 0;
    uint64_t lastFlushMs_ = 0;
    uint64_t reserveAhead_ = 0;

    std::vector<uint8_t> staging_;   // index bytes on their way to the file
};

} // namespace avi
