#include "tests/support/riff_walk.h"

#include <fstream>
#include <iterator>

namespace {

uint32_t u32(const std::vector<uint8_t>& bytes, uint64_t at)
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
        chunk.size = u32(bytes, at + 4);
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

uint32_t littleEndian32(const std::vector<uint8_t>& bytes, size_t at) { return u32(bytes, at); }

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
