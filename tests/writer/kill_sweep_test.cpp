// A recording killed before or after any write the writer makes, or part
// way through one at a page boundary: the writes are recorded once
// (write_log.h) and the file rebuilt as each kill would have left it, for
// the readers to read. What each file must give them is the writer's
// promise in docs/design.md ("Long recordings and crashes").
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/test_support.h"
#include "tests/support/write_log.h"
#include "tests/support/writer_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace {

// A header patch comes at most a second after a frame; a frame comes every
// 40 ms, and an idle host calls every 200 ms.
constexpr uint64_t kLagMs = 1250;
constexpr uint32_t kFrameMs = 40;
constexpr uint32_t kIdleCallMs = 200;

uint64_t virtualMs = 0;
uint64_t virtualClock() { return virtualMs; }

// A recording through our writer on a clock the test moves, its writes
// logged: frames whose bytes differ at every position, a host that may stop
// rendering for a while, and a close.
class SweptRecording {
public:
    struct Shape {
        int width;
        int height;
        uint64_t segmentLimit;
        uint32_t superIndexCapacity;
        bool noReservation = false;
    };

    SweptRecording(const std::string& path, const Shape& shape)
        : log(virtualClock)
        , writer_(optionsFor(shape))
        , stride_(static_cast<size_t>((shape.width * 3 + 3) & ~3))
        , rows_(static_cast<size_t>(shape.height))
        , frameBytes_(stride_ * rows_)
    {
        virtualMs = 0;
        log.start(shape.noReservation);
        opened_ = startWriterStream(writer_, path, shape.width, shape.height);
    }
    ~SweptRecording() { close(); }

    bool opened() const { return opened_; }
    size_t frameBytes() const { return frameBytes_; }
    size_t stride() const { return stride_; }
    size_t rows() const { return rows_; }

    // The frame at `position`, when the clock reaches it.
    bool frame(int64_t position)
    {
        virtualMs = std::max(virtualMs, static_cast<uint64_t>(position) * kFrameMs);
        std::vector<uint8_t> bytes(frameBytes_);
        uint64_t state = static_cast<uint64_t>(position) * 0x9E3779B97F4A7C15ull + 1;
        for (uint8_t& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<uint8_t>(state);
        }
        const size_t first = log.changeCount();
        if (!writer_.writeFrame(position, bytes.data(), static_cast<uint32_t>(bytes.size()), true).ok())
            return false;
        log.frameTaken(position, bytes.data(), bytes.size(), first);
        return true;
    }

    bool frames(int64_t first, int64_t last)
    {
        for (int64_t position = first; position <= last; ++position) {
            if (!frame(position))
                return false;
        }
        return true;
    }

    // No frame for a while; the host still calls, as the frame path does.
    void idle(uint64_t milliseconds)
    {
        for (uint64_t waited = 0; waited < milliseconds; waited += kIdleCallMs) {
            virtualMs += kIdleCallMs;
            writer_.keepCurrent();
        }
    }

    // The recording ends, as a change of the host's frame size ends it.
    void close()
    {
        writer_.close();
        log.stop();
    }

    WriteLog log;

private:
    static avi::WriterOptions optionsFor(const Shape& shape)
    {
        avi::WriterOptions options;
        options.segmentLimit = shape.segmentLimit;
        options.superIndexCapacity = shape.superIndexCapacity;
        options.reserveAhead = 64 * 1024; // where zeros hold the space, fewer of them to replay
        options.clock = virtualClock;
        return options;
    }

    avi::AviWriter writer_;
    size_t stride_;
    size_t rows_;
    size_t frameBytes_;
    bool opened_ = false;
};

// Through every structural step: the first segment's index grows past 64
// KiB (4096 positions, most of them skipped), a pause, segment ends, a
// pause with calls that only keep the header current, and a close in the
// middle of a segment.
void recordEveryStep(SweptRecording& recording)
{
    ASSERT_TRUE(recording.opened());
    ASSERT_TRUE(recording.frames(1, 30));
    recording.idle(2400);
    ASSERT_TRUE(recording.frames(4500, 4620));
    recording.idle(2500);
    ASSERT_TRUE(recording.frames(4700, 4860));
    recording.close();
}

const SweptRecording::Shape kEveryStep {32, 24, 256 * 1024, 16};

// A frame's (and its gaps') append, or where zeros hold the space ahead,
// its write as JUNK and its naming.
bool isFrameWrite(const WriteLog::ChangeView& change, size_t frameBytes)
{
    if (change.resize)
        return false;
    if (change.size == 4)
        return std::memcmp(change.bytes, "00db", 4) == 0;
    if (change.size < 8 + frameBytes || (change.size - 8 - frameBytes) % 8 != 0)
        return false;
    return std::memcmp(change.bytes, "00db", 4) == 0 ||
           (std::memcmp(change.bytes, "JUNK", 4) == 0 && change.size == 8 + frameBytes &&
            std::memcmp(change.bytes + 8, "00db", 4) != 0);
}

bool startsSegment(const WriteLog::ChangeView& change)
{
    return !change.resize && change.size >= 12 && std::memcmp(change.bytes, "RIFF", 4) == 0 &&
           std::memcmp(change.bytes + 8, "AVIX", 4) == 0;
}

// The runs of changes between frame writes: header patches, segment ends
// (those that start a segment) and the close (the last).
struct WriteRun {
    size_t first;
    size_t end;
    bool endsSegment;
};

std::vector<WriteRun> runsBetweenFrames(const WriteLog& log, size_t frameBytes)
{
    std::vector<WriteRun> runs;
    for (size_t first = 0; first < log.changeCount();) {
        if (isFrameWrite(log.change(first), frameBytes)) {
            ++first;
            continue;
        }
        WriteRun run {first, first, false};
        while (run.end < log.changeCount() && !isFrameWrite(log.change(run.end), frameBytes))
            run.endsSegment |= startsSegment(log.change(run.end++));
        runs.push_back(run);
        first = run.end;
    }
    return runs;
}

// The kill points external readers check: every point in and around the
// first `runsOfAKind` runs of each kind (header patch, segment end) in the
// first segment, the second and a later one, all of the close, and every
// point of every `frameStep`th frame's write.
std::set<size_t> sampledChanges(const WriteLog& log, size_t frameBytes, size_t frameStep, int runsOfAKind)
{
    std::set<size_t> sampled;
    size_t frames = 0;
    for (size_t change = 0; change < log.changeCount() && frameStep > 0; ++change) {
        if (isFrameWrite(log.change(change), frameBytes) && ++frames % frameStep == 0)
            sampled.insert(change);
    }
    const std::vector<WriteRun> runs = runsBetweenFrames(log, frameBytes);
    std::map<std::pair<bool, int>, int> taken;
    int segment = 0;
    for (const WriteRun& run : runs) {
        const bool last = &run == &runs.back();
        if (last || taken[{run.endsSegment, std::min(segment, 2)}]++ < runsOfAKind) {
            for (size_t change = run.first; change <= run.end; ++change)
                sampled.insert(change);
        }
        segment += run.endsSegment ? 1 : 0;
    }
    return sampled;
}

// Which readers read the file a kill point leaves.
enum Reader : unsigned {
    kRiffWalk = 1,
    kFfmpeg = 2,
    kMplayer = 4,
    kGstreamer = 8,
    kMkvmerge = 16,
    kInProcess = kRiffWalk | kFfmpeg,
    kEveryReader = kInProcess | kMplayer | kGstreamer | kMkvmerge,
};

// Rebuilds the file at every kill point and lets the readers `pick`
// chooses for the point read it; stops after a few failures.
void checkKills(const SweptRecording& recording, const std::string& path,
                const std::function<unsigned(const WriteLog::KillPoint&)>& pick)
{
    size_t points = 0;
    size_t external = 0;
    size_t failures = 0;
    recording.log.replay(path, [&](const WriteLog::KillPoint& point) {
        const unsigned readers = pick(point);
        if (readers == 0 || failures >= 3)
            return;
        ++points;
        const KilledFrames frames = killedFrames(recording.log, point, kLagMs);
        std::string problems;
        if ((readers & kRiffWalk) && fileSize(path) > 0) {
            const AviCheck check = checkAvi(path, AviState::Killed);
            problems += check.report();
            if (check.indexedFrames < frames.required.size())
                problems += "the indexes reach " + std::to_string(check.indexedFrames) + " of the " +
                            std::to_string(frames.required.size()) + " frames written before the last second\n";
        }
        if (readers & kFfmpeg)
            problems += ffmpegProblems(path, frames);
        external += (readers & ~kInProcess) != 0 ? 1 : 0;
        if (readers & kMplayer)
            problems += mplayerProblems(path, frames);
        if (readers & kGstreamer)
            problems += gstreamerProblems(path, frames, recording.stride(), recording.rows());
        if (readers & kMkvmerge)
            problems += mkvmergeProblems(path, frames);
        if (!problems.empty()) {
            ++failures;
            ADD_FAILURE() << point.name() << ":\n" << problems;
        }
    });
    std::printf("[ sweep    ] %zu kill points, %zu of them read by readers outside this process\n", points, external);
}

} // namespace

TEST(KillAtAnyWrite, EveryWriteOfARecordingLeavesAFileEveryReaderGetsRight)
{
    TempDir dir;
    SweptRecording recording(dir.file("recorded.avi"), kEveryStep);
    recordEveryStep(recording);
    const std::set<size_t> sampled = sampledChanges(recording.log, recording.frameBytes(), 25, 2);
    checkKills(recording, dir.file("killed.avi"), [&](const WriteLog::KillPoint& point) {
        return sampled.count(point.change) > 0 ? kEveryReader : kInProcess;
    });
}

// Where zeros hold the space ahead, a frame cut short had them for the
// rest of its bytes: readers that scan gave it as a frame. The other
// readers read the close and every 10th frame here; the other writes are
// those of the test above.
TEST(KillAtAnyWrite, WhereNoBlocksCanBeSetAsideEveryWriteLeavesAFileEveryReaderGetsRight)
{
    TempDir dir;
    SweptRecording::Shape shape = kEveryStep;
    shape.noReservation = true;
    SweptRecording recording(dir.file("recorded.avi"), shape);
    recordEveryStep(recording);
    const std::set<size_t> sampled = sampledChanges(recording.log, recording.frameBytes(), 10, 0);
    checkKills(recording, dir.file("killed.avi"), [&](const WriteLog::KillPoint& point) {
        return sampled.count(point.change) > 0 ? kEveryReader : kInProcess;
    });
}

// Past the frames its index lists, MPlayer walks on chunk by chunk; an
// idx1 of more than 64 KiB there (4096 positions) it entered and played as
// frames of 16 bytes, until the second segment was indexed.
TEST(KillAtAnyWrite, AfterTheFirstSegmentEndsMPlayerPlaysNoIndexAsFrames)
{
    TempDir dir;
    SweptRecording recording(dir.file("recorded.avi"), kEveryStep);
    recordEveryStep(recording);
    const std::vector<WriteRun> runs = runsBetweenFrames(recording.log, recording.frameBytes());
    const auto segmentEnd = std::find_if(runs.begin(), runs.end(), [](const WriteRun& run) { return run.endsSegment; });
    ASSERT_NE(segmentEnd, runs.end());
    ASSERT_NE(segmentEnd + 1, runs.end());
    checkKills(recording, dir.file("killed.avi"), [&](const WriteLog::KillPoint& point) {
        return point.change >= segmentEnd->first && point.change <= (segmentEnd + 1)->end ? kMplayer : 0u;
    });
}

// An index of more than 64 KiB goes out in pieces; a file that ended in
// part of one gave readers that scan (ffmpeg) its entries as frames.
TEST(KillAtAnyWrite, ClosingAFileWithALargeIndexGivesReadersThatScanNoExtraFrame)
{
    TempDir dir;
    SweptRecording recording(dir.file("recorded.avi"), kEveryStep);
    ASSERT_TRUE(recording.opened());
    ASSERT_TRUE(recording.frames(1, 20));
    recording.idle(1000);
    ASSERT_TRUE(recording.frames(5000, 5020));
    recording.close();
    checkKills(recording, dir.file("killed.avi"), [](const WriteLog::KillPoint&) { return kInProcess; });
}

// A header patch writes its super index entries before the count that
// lists them. Past the first 4 KiB of the header (the 240th segment here)
// the count and a new entry lay in different pages, and a patch cut at the
// page between listed an entry of zeros: MPlayer spun, mkvmerge failed.
TEST(KillAtAnyWrite, PastThe240thSegmentAPatchCutAtAPageListsNoEntryItHasNotWritten)
{
    TempDir dir;
    SweptRecording recording(dir.file("recorded.avi"), {64, 16, 9 * 1024, 300});
    ASSERT_TRUE(recording.opened());
    ASSERT_TRUE(recording.frames(1, 500));
    recording.close();
    const std::vector<WriteRun> runs = runsBetweenFrames(recording.log, recording.frameBytes());
    std::vector<size_t> segmentEnds;
    for (const WriteRun& run : runs) {
        if (run.endsSegment)
            segmentEnds.push_back(run.first);
    }
    ASSERT_GT(segmentEnds.size(), 245u);
    // From the 236th segment on, our walk and ffmpeg at every point, and
    // around the last segment ends MPlayer and mkvmerge too.
    const size_t from = segmentEnds[235];
    const size_t readAllFrom = segmentEnds[segmentEnds.size() - 3];
    checkKills(recording, dir.file("killed.avi"), [&](const WriteLog::KillPoint& point) {
        if (point.change < from)
            return 0u;
        const bool nearEnd = std::any_of(runs.begin(), runs.end(), [&](const WriteRun& run) {
            return run.first >= readAllFrom && point.change >= run.first && point.change <= run.end;
        });
        return nearEnd ? kInProcess | kMplayer | kMkvmerge : kInProcess;
    });
}

// A segment of small frames lasts hours. Its index grows with each header
// patch at any length: a kill loses about a second of frames in readers
// that trust the indexes, not seconds or minutes as it once did after the
// 512th patch of a segment.
TEST(KillAtAnyWrite, HoursIntoOneSegmentAKillLosesAboutASecond)
{
    TempDir dir;
    SweptRecording recording(dir.file("recorded.avi"), {4, 2, uint64_t(1) << 30, 4096});
    ASSERT_TRUE(recording.opened());
    constexpr int64_t kFrames = 40 * 60 * 25; // 40 minutes
    ASSERT_TRUE(recording.frames(1, kFrames));
    const std::vector<WriteRun> runs = runsBetweenFrames(recording.log, recording.frameBytes());
    recording.close();
    // Just before each header patch of the last ten minutes, when the most
    // frames wait for it; GStreamer and mkvmerge too before the last two.
    std::set<size_t> patches;
    for (const WriteRun& run : runs) {
        if (recording.log.change(run.first).resize == false && run.first > 0)
            patches.insert(run.first);
    }
    const uint64_t lastMinutes = 30 * 60 * 1000;
    size_t seen = 0;
    checkKills(recording, dir.file("killed.avi"), [&](const WriteLog::KillPoint& point) {
        if (point.partBytes > 0 || point.timeMs < lastMinutes || patches.count(point.change) == 0)
            return 0u;
        return ++seen % 300 == 0 ? kRiffWalk | kGstreamer | kMkvmerge : kRiffWalk;
    });
}
