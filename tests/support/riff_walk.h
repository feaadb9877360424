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
