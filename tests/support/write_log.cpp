#include "tests/support/write_log.h"

#include "platform/avi/output_file.h"
#include "tests/support/media_probe.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint64_t kPage = 4096;

} // namespace

WriteLog::WriteLog(Clock clock)
    : clock_(clock)
{
}

WriteLog::~WriteLog() { stop(); }

void WriteLog::start(bool noReservation)
{
    avi::FaultPlan plan;
    plan.noReservation = noReservation;
    plan.watcher = this;
    avi::FileFaults::install(plan);
    keeping_ = true;
}

void WriteLog::stop()
{
    if (!keeping_)
        return;
    avi::FileFaults::remove();
    keeping_ = false;
}

void WriteLog::wrote(uint64_t offset, const avi::Slice* slices, size_t count)
{
    Change change;
    change.offset = offset;
    change.timeMs = clock_();
    for (size_t i = 0; i < count; ++i) {
        const auto* bytes = static_cast<const uint8_t*>(slices[i].data);
        change.bytes.insert(change.bytes.end(), bytes, bytes + slices[i].size);
    }
    changes_.push_back(std::move(change));
}

void WriteLog::resized(uint64_t size)
{
    Change change;
    change.resize = true;
    change.offset = size;
    change.timeMs = clock_();
    changes_.push_back(std::move(change));
}

void WriteLog::frameTaken(int64_t position, const void* data, size_t size, size_t firstChange)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    frames_.push_back({position, std::vector<uint8_t>(bytes, bytes + size), payloadHash(data, size),
                       adler32(data, size), firstChange, changes_.size(), clock_()});
}

WriteLog::ChangeView WriteLog::change(size_t index) const
{
    const Change& change = changes_[index];
    return {change.resize, change.offset, change.bytes.size(), change.bytes.data()};
}

std::string WriteLog::KillPoint::name() const
{
    std::string text = "killed before change " + std::to_string(change);
    if (partBytes > 0)
        text += " had written " + std::to_string(partBytes) + " bytes";
    return text + " at " + std::to_string(timeMs) + " ms";
}

void WriteLog::replay(const std::string& path, const std::function<void(const KillPoint&)>& visit) const
{
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0)
        return;
    auto put = [&](const Change& change, uint64_t from, uint64_t to) {
        if (to > from &&
            ::pwrite(file, change.bytes.data() + from, to - from, static_cast<off_t>(change.offset + from)) < 0)
            return false;
        return true;
    };
    uint64_t timeMs = 0;
    for (size_t i = 0; i < changes_.size(); ++i) {
        const Change& change = changes_[i];
        timeMs = change.timeMs;
        visit({i, 0, timeMs});
        if (change.resize) {
            if (::ftruncate(file, static_cast<off_t>(change.offset)) != 0)
                break;
            continue;
        }
        const uint64_t end = change.offset + change.bytes.size();
        uint64_t landed = 0;
        for (uint64_t boundary = (change.offset / kPage + 1) * kPage; boundary < end; boundary += kPage) {
            if (!put(change, landed, boundary - change.offset))
                break;
            landed = boundary - change.offset;
            visit({i, landed, timeMs});
        }
        if (!put(change, landed, change.bytes.size()))
            break;
    }
    if (!frames_.empty())
        timeMs = std::max(timeMs, frames_.back().timeMs);
    visit({changes_.size(), 0, timeMs});
    ::close(file);
}

KilledFrames killedFrames(const WriteLog& log, const WriteLog::KillPoint& point, uint64_t lagMs)
{
    KilledFrames frames;
    const size_t begun = point.change + (point.partBytes > 0 ? 1 : 0);
    for (const WriteLog::Frame& frame : log.frames()) {
        if (frame.firstChange < begun)
            frames.possible.push_back(&frame);
        if (frame.lastChange <= point.change && frame.timeMs + lagMs <= point.timeMs)
            frames.required.push_back(&frame);
    }
    return frames;
}

namespace {

// Matches what a reader gave, in order, against the possible frames; the
// key picks what is compared (a hash, a position).
template<typename Key>
std::string matchInOrder(const char* reader, const std::vector<Key>& given, const KilledFrames& frames,
                         Key (*keyOf)(const WriteLog::Frame&))
{
    size_t next = 0;
    std::vector<const WriteLog::Frame*> found;
    for (size_t i = 0; i < given.size(); ++i) {
        while (next < frames.possible.size() && keyOf(*frames.possible[next]) != given[i])
            ++next;
        if (next == frames.possible.size())
            return std::string(reader) + ": payload " + std::to_string(i) + " of " + std::to_string(given.size()) +
                   " is no frame written, or out of order\n";
        found.push_back(frames.possible[next++]);
    }
    size_t missing = 0;
    int64_t firstMissing = -1;
    for (const WriteLog::Frame* frame : frames.required) {
        if (std::find(found.begin(), found.end(), frame) == found.end() && missing++ == 0)
            firstMissing = frame->position;
    }
    if (missing == 0)
        return "";
    return std::string(reader) + ": " + std::to_string(missing) + " of " + std::to_string(frames.required.size()) +
           " frames written before the last second missing, the first at position " +
           std::to_string(firstMissing) + " (" + std::to_string(found.size()) + " found)\n";
}

uint64_t hashOf(const WriteLog::Frame& frame) { return frame.hash; }

std::string readerFailed(const char* reader, const ReaderPayloads& payloads, const KilledFrames& frames)
{
    return !payloads.ok && !frames.required.empty() ? std::string(reader) + " failed: " + payloads.errors + "\n" : "";
}

} // namespace

std::string ffmpegProblems(const std::string& path, const KilledFrames& frames)
{
    std::string error;
    std::vector<uint64_t> hashes;
    std::vector<int64_t> positions;
    for (const ProbedPacket& packet : demuxPackets(path, &error)) {
        if (packet.size > 0) {
            hashes.push_back(packet.hash);
            positions.push_back(packet.pts);
        }
    }
    std::string problems = matchInOrder("ffmpeg", hashes, frames, hashOf);
    if (problems.empty())
        problems = matchInOrder<int64_t>("ffmpeg's timestamps", positions, frames,
                                         [](const WriteLog::Frame& frame) { return frame.position; });
    return problems.empty() || error.empty() ? problems : problems + "ffmpeg: " + error + "\n";
}

// MPlayer's dump of a raw stream gives each packet's size before its
// bytes, and ends with 0xFFFFFFFF. A frame that a kill cut short at the end
// of the file reaches it as a short last packet, which it does not decode.
std::string mplayerProblems(const std::string& path, const KilledFrames& frames)
{
    const ReaderPayloads payloads = mplayerPayloads(path);
    if (std::string failed = readerFailed("mplayer", payloads, frames); !failed.empty())
        return failed;
    std::vector<uint64_t> hashes;
    const std::string& dump = payloads.bytes;
    for (size_t at = 0; at + 4 <= dump.size();) {
        uint32_t size = 0;
        std::memcpy(&size, dump.data() + at, 4);
        at += 4;
        if (size == UINT32_MAX && at == dump.size())
            break;
        if (size > dump.size() - at)
            return "mplayer: a packet of " + std::to_string(size) + " bytes runs past its dump\n";
        if (size > 0)
            hashes.push_back(payloadHash(dump.data() + at, size));
        at += size;
        if (at == dump.size() - 4 && size > 0 && !frames.possible.empty()) {
            const WriteLog::Frame& last = *frames.possible.back();
            if (size < last.bytes.size() && std::memcmp(last.bytes.data(), dump.data() + at - size, size) == 0)
                hashes.pop_back();
        }
    }
    return matchInOrder("mplayer", hashes, frames, hashOf);
}

// GStreamer turns bottom-up rows the right way up.
std::string gstreamerProblems(const std::string& path, const KilledFrames& frames, size_t stride, size_t rows)
{
    const ReaderPayloads payloads = gstreamerPayloads(path);
    if (std::string failed = readerFailed("gstreamer", payloads, frames); !failed.empty())
        return failed;
    const size_t frameBytes = stride * rows;
    if (payloads.bytes.size() % frameBytes != 0)
        return "gstreamer: " + std::to_string(payloads.bytes.size()) + " bytes are no whole frames\n";
    std::vector<uint64_t> hashes;
    std::string turned(frameBytes, '\0');
    for (size_t at = 0; at < payloads.bytes.size(); at += frameBytes) {
        for (size_t row = 0; row < rows; ++row)
            std::memcpy(&turned[row * stride], payloads.bytes.data() + at + (rows - 1 - row) * stride, stride);
        hashes.push_back(payloadHash(turned.data(), frameBytes));
    }
    return matchInOrder("gstreamer", hashes, frames, hashOf);
}

std::string mkvmergeProblems(const std::string& path, const KilledFrames& frames)
{
    const ReaderPayloads payloads = mkvmergeBlocks(path);
    if (std::string failed = readerFailed("mkvmerge", payloads, frames); !failed.empty())
        return failed;
    std::vector<uint32_t> adlers;
    for (const auto& block : payloads.blocks) {
        if (block.first > 0)
            adlers.push_back(block.second);
    }
    return matchInOrder<uint32_t>("mkvmerge", adlers, frames,
                                  [](const WriteLog::Frame& frame) { return frame.adler; });
}
