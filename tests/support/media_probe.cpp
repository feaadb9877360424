#include "tests/support/media_probe.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace {

// Runs a reader with its standard error kept aside; gives its exit status.
int runReader(const std::string& command, const std::string& file, std::string* output, std::string* errors)
{
    const std::string errorFile = file + ".reader-errors";
    const int status = runCommand(command + " 2>" + shellQuote(errorFile), output);
    if (errors) {
        errors->clear();
        runCommand("cat " + shellQuote(errorFile), errors);
        if (status != 0)
            *errors += "exit status " + std::to_string(status);
    }
    std::remove(errorFile.c_str());
    return status;
}

size_t countLines(const std::string& text, const std::string& containing)
{
    size_t count = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(containing) != std::string::npos)
            ++count;
    }
    return count;
}

} // namespace

uint64_t payloadHash(const void* data, size_t size)
{
    uint64_t hash = 14695981039346656037ull;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

uint32_t adler32(const void* data, size_t size)
{
    uint32_t a = 1;
    uint32_t b = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        a = (a + bytes[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output)
            output->append(buffer, got);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool probeStream(const std::string& file, ProbedStream& stream)
{
    std::string text;
    if (runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                   "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_frames,duration,start_time,"
                   "color_space,color_range,color_primaries,color_transfer:format=duration " +
                       shellQuote(file),
                   &text) != 0)
        return false;
    std::istringstream lines(text);
    std::string line;
    bool inFormat = false; // the container's section, after the stream's
    while (std::getline(lines, line)) {
        if (line == "[FORMAT]")
            inFormat = true;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        const bool known = value != "N/A";
        if (inFormat) {
            if (key == "duration" && known)
                stream.fileDuration = std::atof(value.c_str());
        } else if (key == "codec_name")
            stream.codec = value;
        else if (key == "pix_fmt")
            stream.pixelFormat = value;
        else if (key == "width")
            stream.width = std::atoi(value.c_str());
        else if (key == "height")
            stream.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            stream.frameRate = value;
        else if (key == "nb_frames" && known)
            stream.frameCount = std::atoll(value.c_str());
        else if (key == "duration" && known)
            stream.duration = std::atof(value.c_str());
        else if (key == "start_time" && known)
            stream.startTime = std::atof(value.c_str());
        else if (key == "color_space")
            stream.colourMatrix = value;
        else if (key == "color_range")
            stream.colourRange = value;
        else if (key == "color_primaries")
            stream.colourPrimaries = value;
        else if (key == "color_transfer")
            stream.colourTransfer = value;
    }
    return !stream.codec.empty();
}

std::vector<ProbedPacket> probePackets(const std::string& file)
{
    std::string text;
    std::vector<ProbedPacket> packets;
    if (runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts,size -of csv=p=0 " +
                       shellQuote(file),
                   &text) != 0)
        return packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ProbedPacket packet;
        if (std::sscanf(line.c_str(), "%lld,%lld", reinterpret_cast<long long*>(&packet.pts),
                        reinterpret_cast<long long*>(&packet.size)) == 2)
            packets.push_back(packet);
    }
    return packets;
}

std::vector<ProbedPacket> demuxPackets(const std::string& file, std::string* error)
{
    std::vector<ProbedPacket> packets;
    AVFormatContext* context = nullptr;
    av_log_set_level(AV_LOG_QUIET);
    int result = avformat_open_input(&context, file.c_str(), nullptr, nullptr);
    if (result == 0)
        result = avformat_find_stream_info(context, nullptr);
    AVPacket* packet = av_packet_alloc();
    while (result >= 0 && packet && (result = av_read_frame(context, packet)) >= 0) {
        if (packet->stream_index == 0) {
            const uint64_t hash = payloadHash(packet->data, static_cast<size_t>(packet->size));
            packets.push_back({packet->pts, packet->size, hash});
        }
        av_packet_unref(packet);
    }
    if (result < 0 && result != AVERROR_EOF && error) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        *error = text;
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return packets;
}

std::vector<ProbedPacket> probeFramePackets(const std::string& file)
{
    std::vector<ProbedPacket> frames;
    for (const ProbedPacket& packet : probePackets(file)) {
        if (packet.size > 0)
            frames.push_back(packet);
    }
    return frames;
}

std::vector<int64_t> probePositions(const std::string& file)
{
    std::vector<int64_t> positions;
    for (const ProbedPacket& packet : probePackets(file))
        positions.push_back(packet.pts);
    return positions;
}

std::vector<uint8_t> decodedHostPicture(const std::vector<uint32_t>& pixels, bool raw)
{
    std::vector<uint8_t> picture;
    picture.reserve(pixels.size() * 4);
    for (uint32_t pixel : pixels) {
        if (raw)
            pixel |= 0xFF000000u;
        for (int byte = 0; byte < (raw ? 4 : 3); ++byte)
            picture.push_back(static_cast<uint8_t>(pixel >> (8 * byte)));
    }
    return picture;
}

std::vector<std::vector<uint8_t>> decodeFrames(const std::string& file, const std::string& pixelFormat, int width,
                                               int height, std::string* errors, const std::string& filter)
{
    const size_t bytesPerPixel = pixelFormat == "bgra" ? 4 : 3;
    const size_t frameBytes = bytesPerPixel * static_cast<size_t>(width) * static_cast<size_t>(height);
    std::string raw;
    const std::string errorFile = file + ".ffmpeg-errors";
    const std::string filtered = filter.empty() ? "" : " -vf " + shellQuote(filter);
    const int status = runCommand("ffmpeg -nostdin -v error -i " + shellQuote(file) + filtered +
                                      " -f rawvideo -pix_fmt " + pixelFormat + " -fps_mode passthrough -enc_time_base -1 - 2>" +
                                      shellQuote(errorFile),
                                  &raw);
    if (errors) {
        runCommand("cat " + shellQuote(errorFile), errors);
        if (status != 0)
            *errors += "ffmpeg exited with " + std::to_string(status);
    }
    std::remove(errorFile.c_str());
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= raw.size(); at += frameBytes)
        frames.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    return frames;
}

std::vector<uint8_t> decodeFrameAt(const std::string& file, const std::string& pixelFormat, int width, int height,
                                   double seconds, std::string* errors)
{
    char at[32];
    std::snprintf(at, sizeof at, "%.6f", seconds);
    std::string raw;
    runReader("ffmpeg -nostdin -v error -ss " + std::string(at) + " -i " + shellQuote(file) +
                  " -frames:v 1 -f rawvideo -pix_fmt " + pixelFormat + " -",
              file, &raw, errors);
    const size_t frameBytes = (pixelFormat == "bgra" ? 4u : 3u) * static_cast<size_t>(width) * height;
    if (raw.size() != frameBytes)
        return {};
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

int64_t ffprobeFrameCount(const std::string& file, std::string* errors)
{
    std::string text;
    if (runReader("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                  "-of csv=p=0 " + shellQuote(file),
                  file, &text, errors) != 0 || text.empty())
        return -1;
    return std::atoll(text.c_str());
}

int64_t gstreamerFrameCount(const std::string& file, std::string* errors)
{
    // A verbose fakesink prints a "chain" line for every buffer it is given.
    std::string text;
    if (runReader("gst-launch-1.0 -v filesrc location=" + shellQuote(file) +
                      " ! avidemux ! fakesink silent=false sync=false",
                  file, &text, errors) != 0)
        return -1;
    if (text.find("Got EOS") == std::string::npos) {
        if (errors)
            *errors += "no end of stream";
        return -1;
    }
    return static_cast<int64_t>(countLines(text, "last-message = chain"));
}

int64_t mkvmergeFrameCount(const std::string& file, std::string* errors)
{
    // Exit status 1 means warnings only.
    const std::string remuxed = file + ".mkv";
    const int status =
        runReader("mkvmerge -q -o " + shellQuote(remuxed) + " " + shellQuote(file), file, nullptr, errors);
    std::string blocks;
    const int listed = runCommand("mkvinfo -s " + shellQuote(remuxed), &blocks);
    std::remove(remuxed.c_str());
    if ((status != 0 && status != 1) || listed != 0)
        return -1;
    return static_cast<int64_t>(countLines(blocks, " frame, track 1,"));
}

namespace {

const char* const kReaders[] = {"ffprobe", "gstreamer", "mplayer", "mkvmerge"};

std::string readerLines(const std::function<std::string(const char*)>& line, WithRemux remux)
{
    std::string text;
    for (const char* reader : kReaders) {
        if (remux == WithRemux::Yes || std::string(reader) != "mkvmerge")
            text += line(reader);
    }
    return text;
}

} // namespace

std::string everyReadersFrameCount(const std::string& file, WithRemux remux)
{
    return readerLines(
        [&](const char* reader) {
            std::string errors;
            const std::string name = reader;
            const int64_t frames = name == "ffprobe"     ? ffprobeFrameCount(file, &errors)
                                   : name == "gstreamer" ? gstreamerFrameCount(file, &errors)
                                   : name == "mplayer"   ? mplayerFrameCount(file, &errors)
                                                         : mkvmergeFrameCount(file, &errors);
            return name + ": " + std::to_string(frames) + "\n";
        },
        remux);
}

std::string framesFromEveryReader(int64_t frames, WithRemux remux)
{
    return readerLines([&](const char* reader) { return std::string(reader) + ": " + std::to_string(frames) + "\n"; },
                       remux);
}

int64_t mplayerFrameCount(const std::string& file, std::string* errors)
{
    // The md5sum output writes one line for every frame it decoded.
    const std::string hashes = file + ".md5";
    std::string text;
    const int status = runReader("mplayer -really-quiet -nolirc -noconsolecontrols -nosound -benchmark -vo md5sum:outfile=" +
                                     shellQuote(hashes) + " " + shellQuote(file) + " </dev/null",
                                 file, &text, errors);
    std::string lines;
    runCommand("cat " + shellQuote(hashes), &lines);
    std::remove(hashes.c_str());
    if (status != 0)
        return -1;
    return static_cast<int64_t>(countLines(lines, " frame"));
}

namespace {

// Readers that hang on a broken file (gst-launch does now and then when it
// fails to preroll; MPlayer may spin on a bad index) are stopped.
const char kReaderTimeout[] = "timeout -k 2 10 ";

// Runs a reader that writes what it read to `dump`; gives the dump.
ReaderPayloads dumpedBy(const std::string& command, const std::string& file, const std::string& dump)
{
    ReaderPayloads payloads;
    std::remove(dump.c_str());
    payloads.ok = runReader(command, file, nullptr, &payloads.errors) == 0;
    std::ifstream in(dump, std::ios::binary);
    payloads.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(dump.c_str());
    return payloads;
}

} // namespace

ReaderPayloads mplayerPayloads(const std::string& file)
{
    const std::string dump = file + ".mplayer-dump";
    return dumpedBy(std::string(kReaderTimeout) +
                        "mplayer -really-quiet -nolirc -noconsolecontrols -nosound -dumpvideo -dumpfile " +
                        shellQuote(dump) + " " + shellQuote(file) + " </dev/null >/dev/null",
                    file, dump);
}

ReaderPayloads gstreamerPayloads(const std::string& file)
{
    const std::string dump = file + ".gstreamer-dump";
    return dumpedBy(std::string(kReaderTimeout) + "gst-launch-1.0 -q filesrc location=" + shellQuote(file) +
                        " ! avidemux ! filesink location=" + shellQuote(dump) + " >/dev/null",
                    file, dump);
}

ReaderPayloads mkvmergeBlocks(const std::string& file)
{
    ReaderPayloads payloads;
    const std::string remuxed = file + ".mkv";
    const int status = runReader(kReaderTimeout + std::string("mkvmerge -q -o ") + shellQuote(remuxed) + " " +
                                     shellQuote(file),
                                 file, nullptr, &payloads.errors);
    std::string listing;
    const int listed = runCommand("mkvinfo -s " + shellQuote(remuxed) + " 2>/dev/null", &listing);
    std::remove(remuxed.c_str());
    // Exit status 1 means warnings only.
    payloads.ok = (status == 0 || status == 1) && listed == 0;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned size = 0;
        unsigned adler = 0;
        const size_t at = line.find(", size ");
        if (line.find(" frame, track 1,") != std::string::npos && at != std::string::npos &&
            std::sscanf(line.c_str() + at, ", size %u, adler 0x%x", &size, &adler) == 2)
            payloads.blocks.emplace_back(size, adler);
    }
    return payloads;
}
