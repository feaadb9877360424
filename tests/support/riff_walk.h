// A walk over a RIFF file's chunks, for checking its structure; what the
// frames decode to is always checked with ffprobe and ffmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RiffChunk {
    std::string id;       // "RIFF", "LIST", "idx1", ...
    std::string listType; // for RIFF and LIST: "AVI ", "movi", ...
    uint64_t offset = 0;
    uint32_t size = 0;
    std::vector<RiffChunk> children; // of RIFF and LIST chunks
};

// The top-level chunks (one RIFF per segment); false when a size runs past the file.
bool walkRiff(const std::string& path, std::vector<RiffChunk>& top);

// The first chunk with this id (or list type), depth first.
const RiffChunk* findChunk(const std::vector<RiffChunk>& chunks, const std::string& id);

// The data of the first chunk with this id in the file; empty when there is none.
std::vector<uint8_t> chunkData(const std::string& path, const std::string& id);
uint32_t littleEndian32(const std::vector<uint8_t>& bytes, size_t at);
// The position the stream declares it starts at (strh dwStart).
uint32_t declaredStart(const std::string& path);

// What an AVI file's header and indexes say, checked against its chunks by
// our own walk: every RIFF and LIST size, the avih, strh and dmlh counts,
// each idx1 entry, each super index entry and the ix00 it points to.
enum class AviState {
    Closed, // its writer closed it: RIFF segments and nothing else, each with its index
    Unindexed, // closed without the last segment's index, which could not be written
    Killed, // its writer died: what the header describes holds together, though its
            // counts may lag behind its sizes, its last segments may lack their
            // indexes, its last RIFF may run past its movi list and a super index
            // entry ahead of its ix00; bytes past the described ones are not looked at
};

struct AviCheck {
    std::vector<std::string> problems; // empty when everything agrees
    std::vector<uint32_t> chunkSizes;  // the described '00db' chunks in file order, one per stream position
    int segments = 0;                  // RIFF segments described
    uint32_t streamStart = 0;          // strh dwStart, the position of the first chunk
    uint32_t streamLength = 0;         // strh dwLength
    uint64_t indexedFrames = 0;        // the frames a reader that trusts the indexes finds: through
                                       // the super index's ix00s, or without them the idx1

    bool consistent() const { return problems.empty(); }
    std::string report() const;
    // Positions that hold a frame (a chunk with data); the others are empty.
    std::vector<int64_t> framePositions() const;
};

AviCheck checkAvi(const std::string& path, AviState state);
