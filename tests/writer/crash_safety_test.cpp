// A recording whose process dies at any moment leaves a file that readers
// decode, with every frame written up to a second before.
#include "host/animation.h"
#include "platform/native/native_host.h"
#include "tests/support/avi_session.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/small_disk.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint32_t kSmallFrameBytes = 24 * 3 * 16;

// In a child process: a 24 x 16 standard stream through the AVIFile API.
PAVISTREAM openSmallStream(const std::string& path, uint32_t flushIntervalMs, uint64_t segmentLimit,
                           uint32_t superIndexCapacity = 0)
{
    NativeAviWriterOptions options {segmentLimit, flushIntervalMs, superIndexCapacity};
    NativeSetAviWriterOptions(&options);
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info {};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    BITMAPINFOHEADER format {};
    format.biSize = 40;
    format.biWidth = 24;
    format.biHeight = 16;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biSizeImage = kSmallFrameBytes;
    if (AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) != 0 ||
        AVIFileCreateStreamA(file, &stream, &info) != 0 || AVIStreamSetFormat(stream, 0, &format, 40) != 0)
        _exit(3);
    return stream;
}

// In a child process: frame n (filled with n) at position 2n.
void writeSmallFrame(PAVISTREAM stream, int frame)
{
    uint8_t bytes[kSmallFrameBytes];
    std::memset(bytes, frame, sizeof bytes);
    if (AVIStreamWrite(stream, frame * 2, 1, bytes, sizeof bytes, AVIIF_KEYFRAME, nullptr, nullptr) != 0)
        _exit(4);
}

// Writes `frames` frames of a w x h standard recording in a child process
// that then dies without releasing anything, as a killed host would.
void writeThenDie(const std::string& path, int frames, uint32_t flushIntervalMs, uint64_t segmentLimit)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PAVISTREAM stream = openSmallStream(path, flushIntervalMs, segmentLimit, 64);
        for (int frame = 1; frame <= frames; ++frame)
            writeSmallFrame(stream, frame);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace

TEST(CrashSafety, AFileLeftUnfinishedAtAnyFrameDecodesCompletely)
{
    TempDir dir;
    for (uint32_t flushInterval : {1u, 60000u}) {
        for (int frames : {0, 1, 2, 7, 36, 37, 38, 75, 76, 120, 200}) {
            SCOPED_TRACE("flush every " + std::to_string(flushInterval) + " ms, " + std::to_string(frames) +
                         " frames");
            const std::string path = dir.file("died.avi");
            writeThenDie(path, frames, flushInterval, 48 * 1024);
            const auto packets = probePackets(path);
            ASSERT_EQ(static_cast<int>(packets.size()), frames);
            for (int i = 0; i < frames; ++i)
                ASSERT_EQ(packets[i].pts, 2 * (i + 1));
            const auto decoded = decodeFrames(path, "bgr24", 24, 16);
            ASSERT_EQ(static_cast<int>(decoded.size()), frames);
            for (int i = 0; i < frames; ++i)
                ASSERT_EQ(decoded[i], std::vector<uint8_t>(24 * 16 * 3, static_cast<uint8_t>(i + 1)));
        }
    }
}

namespace {

// Writes `frames` frames 10 ms apart in a child process that then dies at
// once, and returns how many of them were written more than a header
// patch (and a margin) before it died.
int writePacedThenDie(const std::string& path, int frames, uint32_t flushIntervalMs, uint64_t segmentLimit)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        PAVISTREAM stream = openSmallStream(path, flushIntervalMs, segmentLimit);
        std::vector<std::chrono::steady_clock::time_point> written;
        for (int frame = 1; frame <= frames; ++frame) {
            writeSmallFrame(stream, frame);
            written.push_back(std::chrono::steady_clock::now());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const auto old = std::chrono::steady_clock::now() - std::chrono::milliseconds(flushIntervalMs + 50);
        const int required = static_cast<int>(std::count_if(written.begin(), written.end(),
                                                            [&](auto at) { return at <= old; }));
        if (write(pipeEnds[1], &required, sizeof required) != sizeof required)
            _exit(5);
        raise(SIGKILL);
    }
    close(pipeEnds[1]);
    int required = -1;
    if (read(pipeEnds[0], &required, sizeof required) != sizeof required)
        required = -1;
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    return required;
}

} // namespace

// Readers that trust the indexes (GStreamer, mkvmerge) stop at the last
// frame an ix00 lists, so the segment a recording dies in is indexed as
// it fills, not only when it ends.
TEST(CrashSafety, AKillMidSegmentLeavesEveryFrameOlderThanAHeaderPatchIndexed)
{
    TempDir dir;
    // The first segment holds about 54 frames and each later one 110, over
    // a second; a header patch comes every 200 ms. The kills fall late in
    // the first three segments.
    for (int frames : {40, 134, 254}) {
        SCOPED_TRACE(std::to_string(frames) + " frames");
        const std::string path = dir.file("killed.avi");
        const int required = writePacedThenDie(path, frames, 200, 128 * 1024);
        ASSERT_GE(required, 0);
        const AviCheck check = checkAvi(path, AviState::Killed);
        EXPECT_TRUE(check.consistent()) << check.report();
        EXPECT_GE(check.indexedFrames, static_cast<uint64_t>(required)) << "frames the super index reaches";
        std::string errors;
        EXPECT_GE(gstreamerFrameCount(path, &errors), required) << errors;
        EXPECT_GE(mkvmergeFrameCount(path, &errors), required) << errors;
    }
}

namespace {

struct StatusLine {
    std::chrono::steady_clock::time_point at;
    int frames;
};

// Runs apehost record on the real clock and kills it after `lifetime`,
// collecting the status lines it printed and when each arrived.
std::vector<StatusLine> recordAndKill(const std::vector<std::string>& arguments, std::chrono::milliseconds lifetime)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::vector<StatusLine> lines;
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + lifetime;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller {pipeEnds[0], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (poll(&poller, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            lines.push_back({std::chrono::steady_clock::now(), std::atoi(pending.c_str())});
            pending.erase(0, end + 1);
        }
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(pipeEnds[0]);
    return lines;
}

} // namespace

TEST(CrashSafety, SigkillAtRandomMomentsKeepsEveryFrameOlderThanASecond)
{
    const unsigned seed = std::random_device {}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> lifetime(1200, 4200);
    TempDir dir;
    for (int run = 0; run < 5; ++run) {
        const bool raw = run % 2 == 1;
        const std::string path = dir.file("killed" + std::to_string(run) + ".avi");
        const int milliseconds = lifetime(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", run " + std::to_string(run) + ", killed after " +
                     std::to_string(milliseconds) + " ms" + (raw ? ", raw" : ""));
        std::vector<std::string> arguments = {hostPath(), "record", pluginPath(), "--out", path, "--host-fps", "60",
                                              "--seconds", "60", "--segment-size", "1500000"};
        if (raw)
            arguments.push_back("--raw");
        const auto started = std::chrono::steady_clock::now();
        const auto lines = recordAndKill(arguments, std::chrono::milliseconds(milliseconds));
        const auto killedAt = started + std::chrono::milliseconds(milliseconds);
        int required = 0;
        for (const StatusLine& line : lines) {
            if (line.at + std::chrono::seconds(1) <= killedAt)
                required = std::max(required, line.frames);
        }
        ASSERT_FALSE(lines.empty()) << "the host printed no status";

        const auto packets = probePackets(path);
        EXPECT_GE(static_cast<int>(packets.size()), required);
        for (size_t i = 1; i < packets.size(); ++i)
            ASSERT_GT(packets[i].pts, packets[i - 1].pts);
        std::string errors;
        const auto frames = decodeFrames(path, raw ? "bgra" : "bgr24", 320, 240, &errors);
        EXPECT_GE(static_cast<int>(frames.size()), required) << errors;
        uint32_t previous = 0;
        std::vector<uint32_t> expected(320 * 240);
        for (const auto& frame : frames) {
            uint32_t number = 0;
            ASSERT_TRUE(readFrameNumber(frame.data(), 320, 240, 320 * (raw ? 4 : 3), raw ? 4 : 3, number));
            ASSERT_GT(number, previous) << "frames in the order they were rendered";
            previous = number;
            renderAnimationFrame(expected.data(), 320, 240, number);
            ASSERT_TRUE(frame == decodedHostPicture(expected, raw)) << "frame " << number;
        }
    }
}

using CrashAfterAPause = EffectTest;

// The host keeps calling, but the position stops moving (the rate was set
// to 0) for longer than a second before the kill: no frame comes to patch
// the header, and the calls that skip must do it.
TEST_F(CrashAfterAPause, FramesWrittenASecondBeforeAKillAreInTheHeader)
{
    const std::string path = dir.file("paused.avi");
    constexpr int kFrames = 30;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HostFrame frame(32, 24, 1);
        render(frame);
        if (start(path) != 1)
            _exit(3);
        for (int i = 0; i < kFrames; ++i)
            renderAfter(40, frame);
        effect->frameRate = 0; // one more frame, at position 0, then none
        for (int call = 0; call < 25; ++call) {
            renderAfter(100, frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const AviCheck check = checkAvi(path, AviState::Killed);
    EXPECT_TRUE(check.consistent()) << check.report();
    EXPECT_EQ(check.framePositions().size(), size_t(kFrames + 1)) << "frames the header describes";
    EXPECT_EQ(check.streamLength, check.chunkSizes.size()) << "the counts as up to date as the sizes";
    EXPECT_EQ(probePackets(path).size(), size_t(kFrames + 1));
}

TEST(CrashSafety, AKilledRecordingHoldsLittleSpacePastItsEndUntilTheFileIsTruncated)
{
    SmallDisk disk(SmallDisk::Kind::Ext4, 256);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const std::string path = disk.file("killed.avi");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AviSession session;
        const std::vector<uint8_t> frame(1024 * 1024 * 3, 0x33);
        if (session.open(path, bitmapFormat(1024, 1024, 24)) != 0 || session.write(1, frame) != 0 ||
            session.write(2, frame) != 0)
            _exit(3);
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_LE(allocatedPastEnd(path), (16 << 20) + (1 << 20)) << "at most 16 MiB ahead, and the index's blocks";
    ASSERT_EQ(runCommand("truncate -s +0 " + shellQuote(path)), 0);
    EXPECT_LT(allocatedPastEnd(path), 4096) << "truncating the file to its own size gives the rest back";
}
