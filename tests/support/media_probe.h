// ffprobe and ffmpeg, GStreamer and MPlayer, run on the files we write:
// readers nobody here wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProbedStream {
    std::string codec;
    std::string pixelFormat;
    int width = 0;
    int height = 0;
    std::string frameRate;   // as "25/1"
    int64_t frameCount = -1; // the header's nb_frames, -1 when absent
    double duration = -1;
    double startTime = -1;
    double fileDuration = -1; // the container's, which Matroska gives in place of the stream's
    // The colour tags, as ffprobe names them ("bt709", "tv"; "unknown" when untagged).
    std::string colourMatrix;
    std::string colourRange;
    std::string colourPrimaries;
    std::string colourTransfer;
};

struct ProbedPacket {
    int64_t pts = 0;
    int64_t size = 0;
    uint64_t hash = 0; // of its bytes (payloadHash), from demuxPackets only
};

// A 64-bit hash of a frame's bytes, as the readers' payloads below are
// compared with the frames written.
uint64_t payloadHash(const void* data, size_t size);
// zlib's Adler-32, which mkvinfo prints for each block.
uint32_t adler32(const void* data, size_t size);

// Runs a shell command; its standard output goes to `output`. Returns the exit status.
int runCommand(const std::string& command, std::string* output = nullptr);
std::string shellQuote(const std::string& text);

bool probeStream(const std::string& file, ProbedStream& stream);
std::vector<ProbedPacket> probePackets(const std::string& file);
// The same packets read by ffmpeg's demuxer (libavformat) inside this
// process, for tests that check hundreds of files; empty, with the reason
// in `error`, when it cannot open the file.
std::vector<ProbedPacket> demuxPackets(const std::string& file, std::string* error = nullptr);
// The packets that hold a frame, leaving out the empty chunks of skipped positions.
std::vector<ProbedPacket> probeFramePackets(const std::string& file);
// The timestamps of every packet, which for our files are the stream positions written.
std::vector<int64_t> probePositions(const std::string& file);

// A host frame as a decoder gives it back, top row first: bgr24, or for
// RAW bgra with every pixel opaque, whatever the host left in byte 3.
std::vector<uint8_t> decodedHostPicture(const std::vector<uint32_t>& pixels, bool raw);

// Decodes every frame to raw pixels of `pixelFormat` (bgr24 or bgra), top
// row first, in file order, keeping each frame's own timestamp; through
// ffmpeg's `filter`, when given, on the way.
std::vector<std::vector<uint8_t>> decodeFrames(const std::string& file, const std::string& pixelFormat, int width,
                                               int height, std::string* errors = nullptr,
                                               const std::string& filter = "");

// One frame decoded by ffmpeg, the one shown `seconds` into the file; empty
// when there is none.
std::vector<uint8_t> decodeFrameAt(const std::string& file, const std::string& pixelFormat, int width, int height,
                                   double seconds, std::string* errors = nullptr);

// The video frames a reader gives when it plays the file to its end, or -1
// when it fails; `errors` gets what it complained about. ffprobe decodes
// every frame; GStreamer demuxes them (avidemux); MPlayer decodes and
// hashes each one.
int64_t ffprobeFrameCount(const std::string& file, std::string* errors = nullptr);
int64_t gstreamerFrameCount(const std::string& file, std::string* errors = nullptr);
int64_t mplayerFrameCount(const std::string& file, std::string* errors = nullptr);
// mkvmerge remuxes the file to Matroska beside it; the blocks it wrote.
int64_t mkvmergeFrameCount(const std::string& file, std::string* errors = nullptr);

// The video payloads a reader gives when it plays the file to its end,
// for checking them against the frames written: MPlayer and GStreamer
// (avidemux) dump them back to back; mkvmerge's remux lists each block's
// size and Adler-32. `ok` is false when the reader failed.
struct ReaderPayloads {
    bool ok = false;
    std::string bytes;                                 // MPlayer, GStreamer
    std::vector<std::pair<uint32_t, uint32_t>> blocks; // mkvmerge: size, Adler-32
    std::string errors;
};
ReaderPayloads mplayerPayloads(const std::string& file);
ReaderPayloads gstreamerPayloads(const std::string& file);
ReaderPayloads mkvmergeBlocks(const std::string& file);

// What each reader the project installs gives when it plays the file to
// its end, as "reader: frames" lines, for comparing with one expectation.
// mkvmerge copies the whole file, so a test of a very large one leaves it out.
enum class WithRemux { Yes, No };
std::string everyReadersFrameCount(const std::string& file, WithRemux remux = WithRemux::Yes);
std::string framesFromEveryReader(int64_t frames, WithRemux remux = WithRemux::Yes);
