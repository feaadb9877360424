#include "tests/support/riff_walk.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

uint32_t u32At(const std::vector<uint8_t>& bytes, uint64_t at)
{
    return bytes[at] | (uint32_t(bytes[at + 1]) << 8) | (uint32_t(bytes[at + 2]) << 16) |
           (uint32_t(bytes[at + 3]) << 24);
}

bool walk(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end, std::vector<RiffChunk>& out, bool top)
{
    uint64_t at = begin;
    while (at + 8 <= end) {
        RiffChunk chunk;
        chunk.id.assign(reinterpret_cast<const char*>(&bytes[at]), 4);
        chunk.size = u32At(bytes, at + 4);
        chunk.offset = at;
        const uint64_t dataEnd = at + 8 + chunk.size;
        if (dataEnd > bytes.size())
            return false;
        const bool isList = chunk.id == "RIFF" || chunk.id == "LIST";
        if (isList && chunk.size >= 4) {
            chunk.listType.assign(reinterpret_cast<const char*>(&bytes[at + 8]), 4);
            if (!walk(bytes, at + 12, dataEnd, chunk.children, false))
                return false;
        }
        const uint64_t next = dataEnd + (chunk.size & 1);
        out.push_back(std::move(chunk));
        at = next;
        if (top && at >= bytes.size())
            break;
    }
    return at == end || (top && at >= end);
}

} // namespace

bool walkRiff(const std::string& path, std::vector<RiffChunk>& top)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    top.clear();
    return walk(bytes, 0, bytes.size(), top, true);
}

std::vector<uint8_t> chunkData(const std::string& path, const std::string& id)
{
    std::vector<RiffChunk> top;
    walkRiff(path, top);
    const RiffChunk* chunk = findChunk(top, id);
    if (!chunk)
        return {};
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> data(chunk->size);
    file.seekg(static_cast<std::streamoff>(chunk->offset + 8));
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

uint32_t littleEndian32(const std::vector<uint8_t>& bytes, size_t at) { return u32At(bytes, at); }

uint32_t declaredStart(const std::string& path)
{
    const std::vector<uint8_t> header = chunkData(path, "strh");
    return header.size() >= 32 ? u32At(header, 28) : 0;
}

const RiffChunk* findChunk(const std::vector<RiffChunk>& chunks, const std::string& id)
{
    for (const RiffChunk& chunk : chunks) {
        if (chunk.id == id || chunk.listType == id)
            return &chunk;
        if (const RiffChunk* inner = findChunk(chunk.children, id))
            return inner;
    }
    return nullptr;
}

namespace {

struct Span {
    uint64_t offset; // of the chunk header
    uint32_t size;   // of the data
};

// One RIFF segment as its chunks lie.
struct Segment {
    uint64_t moviFourcc = 0; // idx1 offsets count from here
    std::vector<Span> frames;
    std::vector<Span> standardIndexes;
    bool hasLegacyIndex = false;
    Span legacyIndex {0, 0};
};

uint64_t framesWithData(const std::vector<Span>& chunks, uint64_t first, uint64_t count)
{
    return static_cast<uint64_t>(std::count_if(chunks.begin() + static_cast<std::ptrdiff_t>(first),
                                               chunks.begin() + static_cast<std::ptrdiff_t>(first + count),
                                               [](const Span& chunk) { return chunk.size > 0; }));
}

// Data offsets of the header records; 0 when absent.
struct Header {
    uint64_t mainHeader = 0;
    uint64_t streamHeader = 0;
    uint64_t superIndex = 0;
    uint32_t superIndexSize = 0;
    uint64_t extendedHeader = 0;
};

class AviChecker {
public:
    AviChecker(const std::vector<uint8_t>& bytes, AviState state, AviCheck& out)
        : bytes_(bytes)
        , state_(state)
        , out_(out)
    {
    }

    void run()
    {
        walkSegments();
        if (segments_.empty() || !header_.streamHeader || !header_.mainHeader) {
            problem("no RIFF 'AVI ' with avih and strh");
            return;
        }
        checkCounts();
        checkLegacyIndex();
        checkSuperIndex();
    }

private:
    void problem(const std::string& text) { out_.problems.push_back(text); }
    uint32_t u32(uint64_t at) const { return u32At(bytes_, at); }
    uint64_t u64(uint64_t at) const { return u32(at) | (uint64_t(u32(at + 4)) << 32); }
    std::string id(uint64_t at) const { return std::string(reinterpret_cast<const char*>(&bytes_[at]), 4); }

    // Calls visit(id, offset, size) for each chunk in [at, end); false when they do not tile it.
    template<typename Visit>
    bool forEachChunk(uint64_t at, uint64_t end, const char* where, Visit visit)
    {
        while (at + 8 <= end) {
            const uint32_t size = u32(at + 4);
            if (at + 8 + size > end) {
                problem("'" + id(at) + "' at " + std::to_string(at) + " runs past its " + where);
                return false;
            }
            visit(id(at), at, size);
            at += 8 + uint64_t(size) + (size & 1);
        }
        if (at != end)
            problem(std::string("chunks do not fill their ") + where + " up to " + std::to_string(end));
        return at == end;
    }

    void walkSegments()
    {
        uint64_t at = 0;
        while (at + 12 <= bytes_.size() && id(at) == "RIFF") {
            const uint64_t end = at + 8 + u32(at + 4);
            const std::string type = id(at + 8);
            if (end > bytes_.size()) {
                problem("RIFF at " + std::to_string(at) + " runs past the end of the file");
                return;
            }
            if (type != (segments_.empty() ? "AVI " : "AVIX"))
                problem("RIFF at " + std::to_string(at) + " is '" + type + "'");
            segments_.emplace_back();
            forEachChunk(at + 12, end, "RIFF", [&](const std::string& chunk, uint64_t offset, uint32_t size) {
                walkSegmentChunk(chunk, offset, size);
            });
            at = end + (u32(at + 4) & 1);
        }
        out_.segments = static_cast<int>(segments_.size());
        if (state_ != AviState::Killed && at != bytes_.size())
            problem(std::to_string(bytes_.size() - at) + " bytes past the last RIFF at " + std::to_string(at));
    }

    void walkSegmentChunk(const std::string& chunk, uint64_t offset, uint32_t size)
    {
        Segment& segment = segments_.back();
        const std::string type = chunk == "LIST" && size >= 4 ? id(offset + 8) : "";
        if (type == "hdrl" && segments_.size() == 1)
            walkHeader(offset + 12, offset + 8 + size);
        else if (type == "movi")
            walkMovi(offset + 12, offset + 8 + size, segment);
        else if (chunk == "idx1" && segments_.size() == 1) {
            segment.hasLegacyIndex = true;
            segment.legacyIndex = {offset, size};
        } else if (chunk == "00db" && state_ == AviState::Killed && segment.moviFourcc != 0) {
            // A killed writer patches a RIFF's size before its movi list's:
            // the frames between are not described yet.
        } else if (chunk != "JUNK")
            problem("unexpected '" + chunk + type + "' at " + std::to_string(offset));
    }

    void walkHeader(uint64_t at, uint64_t end)
    {
        forEachChunk(at, end, "hdrl", [&](const std::string& chunk, uint64_t offset, uint32_t size) {
            const std::string type = chunk == "LIST" && size >= 4 ? id(offset + 8) : "";
            if (chunk == "avih" && size >= 56)
                header_.mainHeader = offset + 8;
            else if (type == "strl" || type == "odml")
                walkHeader(offset + 12, offset + 8 + size);
            else if (chunk == "strh" && size >= 56)
                header_.streamHeader = offset + 8;
            else if (chunk == "indx" && size >= 24) {
                header_.superIndex = offset + 8;
                header_.superIndexSize = size;
            } else if (chunk == "dmlh" && size >= 4)
                header_.extendedHeader = offset + 8;
        });
    }

    // Frame chunks, ix00 chunks (on their own, or at the start of a JUNK
    // chunk that holds room for more entries) and JUNK.
    void walkMovi(uint64_t at, uint64_t end, Segment& segment)
    {
        segment.moviFourcc = at - 4;
        forEachChunk(at, end, "movi", [&](const std::string& chunk, uint64_t offset, uint32_t size) {
            if (chunk == "00db")
                segment.frames.push_back({offset, size});
            else if (chunk == "ix00")
                segment.standardIndexes.push_back({offset, size});
            else if (chunk == "JUNK" && size >= 8 && id(offset + 8) == "ix00" && u32(offset + 12) + 8 <= size)
                segment.standardIndexes.push_back({offset + 8, u32(offset + 12)});
            else if (chunk != "JUNK")
                problem("unexpected '" + chunk + "' in movi at " + std::to_string(offset));
        });
    }

    // A killed writer's counts may lag behind its sizes, which it patches first.
    void checkCount(const char* what, uint32_t count, uint64_t chunks)
    {
        if (count == chunks || (state_ == AviState::Killed && count < chunks))
            return;
        problem(std::string(what) + " " + std::to_string(count) + " for " + std::to_string(chunks) + " chunks");
    }

    void checkCounts()
    {
        for (const Segment& segment : segments_)
            for (const Span& frame : segment.frames)
                out_.chunkSizes.push_back(frame.size);
        const uint64_t total = out_.chunkSizes.size();
        out_.streamStart = u32(header_.streamHeader + 28);
        out_.streamLength = u32(header_.streamHeader + 32);
        checkCount("strh length", out_.streamLength, total);
        checkCount("avih total frames", u32(header_.mainHeader + 16), segments_[0].frames.size());
        if (header_.superIndex && header_.extendedHeader)
            checkCount("dmlh total frames", u32(header_.extendedHeader), total);
        // A killed writer names an idx1 before it flags it.
        const bool flagged = (u32(header_.mainHeader + 12) & 0x10) != 0;
        if (flagged && !segments_[0].hasLegacyIndex)
            problem("avih claims an index the file lacks");
        if (!flagged && segments_[0].hasLegacyIndex && state_ != AviState::Killed)
            problem("idx1 without the avih index flag");
        if (state_ == AviState::Closed && !segments_[0].hasLegacyIndex)
            problem("no idx1");
        if (!header_.superIndex && segments_.size() > 1)
            problem("RIFF AVIX segments without a super index");
    }

    void checkLegacyIndex()
    {
        const Segment& first = segments_[0];
        if (!first.hasLegacyIndex)
            return;
        const uint32_t entries = first.legacyIndex.size / 16;
        if (entries != first.frames.size() || first.legacyIndex.size % 16 != 0) {
            problem("idx1 of " + std::to_string(first.legacyIndex.size) + " bytes for " +
                    std::to_string(first.frames.size()) + " chunks");
            return;
        }
        for (uint32_t i = 0; i < entries; ++i) {
            const uint64_t entry = first.legacyIndex.offset + 8 + 16 * uint64_t(i);
            if (id(entry) != "00db" || first.moviFourcc + u32(entry + 8) != first.frames[i].offset ||
                u32(entry + 12) != first.frames[i].size) {
                problem("idx1 entry " + std::to_string(i) + " does not match its chunk");
                return;
            }
        }
        if (!header_.superIndex)
            out_.indexedFrames = framesWithData(first.frames, 0, entries);
    }

    // The super index lists each segment's ix00s in file order, each taking
    // up the segment's chunks where the one before left off. A segment a
    // writer finished is listed whole; the one it was killed in, in part.
    void checkSuperIndex()
    {
        if (!header_.superIndex)
            return;
        const uint64_t at = header_.superIndex;
        const uint32_t entries = u32(at + 4);
        if ((u32(at) & 0xFFFF) != 4 || bytes_[at + 3] != 0 || id(at + 8) != "00db" ||
            24 + 16 * uint64_t(entries) > header_.superIndexSize) {
            problem("indx header is malformed");
            return;
        }
        std::vector<uint64_t> listed(segments_.size(), 0);
        size_t segment = 0;
        for (uint32_t i = 0; i < entries; ++i) {
            const uint64_t entry = at + 24 + 16 * uint64_t(i);
            const std::string name = "super index entry " + std::to_string(i);
            const Span* chunk = findStandardIndex(u64(entry), segment);
            if (!chunk) {
                problem(name + " points to no ix00 of a segment in order");
                return;
            }
            const uint32_t size = u32(entry + 8);
            const uint32_t duration = u32(entry + 12);
            const uint64_t taken = checkStandardIndex(*chunk, segments_[segment], listed[segment], name);
            // A killed writer grows an entry before the ix00 it lists.
            const bool grown = state_ == AviState::Killed && size >= chunk->size + 8 && duration >= taken &&
                               size - chunk->size - 8 == 8 * uint64_t(duration - taken);
            if ((size != chunk->size + 8 || duration != taken) && !grown)
                problem(name + ": size " + std::to_string(size) + ", duration " + std::to_string(duration) + " for " +
                        std::to_string(taken) + " entries");
            listed[segment] += taken;
        }
        for (size_t i = 0; i < segments_.size(); ++i) {
            const bool last = i + 1 == segments_.size();
            const bool whole = state_ == AviState::Closed || (state_ == AviState::Unindexed && !last) ||
                               (state_ == AviState::Killed && i < segment);
            if (whole && listed[i] != segments_[i].frames.size())
                problem("the super index lists " + std::to_string(listed[i]) + " of the " +
                        std::to_string(segments_[i].frames.size()) + " chunks of segment " + std::to_string(i));
        }
    }

    // The ix00 at `offset` in segment `segment` or a later one, which then becomes `segment`.
    const Span* findStandardIndex(uint64_t offset, size_t& segment) const
    {
        for (size_t i = segment; i < segments_.size(); ++i) {
            for (const Span& chunk : segments_[i].standardIndexes) {
                if (chunk.offset == offset) {
                    segment = i;
                    return &chunk;
                }
            }
        }
        return nullptr;
    }

    // Checks that the ix00's entries list the segment's chunks from `first`
    // on; returns how many it lists.
    uint64_t checkStandardIndex(const Span& chunk, const Segment& segment, uint64_t first, const std::string& name)
    {
        const uint64_t at = chunk.offset + 8;
        const uint32_t entries = u32(at + 4);
        if ((u32(at) & 0xFFFF) != 2 || bytes_[at + 3] != 1 || id(at + 8) != "00db" ||
            24 + 8 * uint64_t(entries) > chunk.size || first + entries > segment.frames.size()) {
            problem(name + ": its ix00 is malformed or has " + std::to_string(entries) + " entries");
            return 0;
        }
        const uint64_t base = u64(at + 12);
        for (uint32_t j = 0; j < entries; ++j) {
            const uint64_t entry = at + 24 + 8 * uint64_t(j);
            const Span& frame = segment.frames[first + j];
            if (base + u32(entry) - 8 != frame.offset || (u32(entry + 4) & 0x7FFFFFFFu) != frame.size) {
                problem(name + ": ix00 entry " + std::to_string(j) + " does not match its chunk");
                return 0;
            }
        }
        out_.indexedFrames += framesWithData(segment.frames, first, entries);
        return entries;
    }

    const std::vector<uint8_t>& bytes_;
    AviState state_;
    AviCheck& out_;
    std::vector<Segment> segments_;
    Header header_;
};

} // namespace

AviCheck checkAvi(const std::string& path, AviState state)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    AviCheck check;
    AviChecker(bytes, state, check).run();
    return check;
}

std::string AviCheck::report() const
{
    std::string text;
    for (size_t i = 0; i < problems.size() && i < 8; ++i)
        text += problems[i] + "\n";
    return text;
}

std::vector<int64_t> AviCheck::framePositions() const
{
    std::vector<int64_t> positions;
    for (size_t i = 0; i < chunkSizes.size(); ++i) {
        if (chunkSizes[i] > 0)
            positions.push_back(streamStart + static_cast<int64_t>(i));
    }
    return positions;
}
