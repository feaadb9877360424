// Starting a recording: the header it declares, its errors, its buffer.
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"

#include <algorithm>
#include <climits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using RecordingStart = EffectTest;

TEST_F(RecordingStart, DeclaresTheStreamItWillWrite)
{
    HostFrame frame(320, 240);
    render(frame);
    effect->frameRate = 30;
    const std::string path = dir.file("declared.avi");
    ASSERT_EQ(start(path), 1);
    EXPECT_EQ(effect->recording.load(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
    effect->stopRecording();

    const std::vector<uint8_t> strh = chunkData(path, "strh");
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(littleEndian32(strh, 0), 0x73646976u) << "vids";
    EXPECT_EQ(littleEndian32(strh, 4), 0u) << "no compressor";
    EXPECT_EQ(littleEndian32(strh, 20), 1u) << "scale";
    EXPECT_EQ(littleEndian32(strh, 24), 30u) << "rate";
    EXPECT_EQ(littleEndian32(strh, 32), 0u) << "length";
    EXPECT_EQ(littleEndian32(strh, 40), 0xFFFFFFFFu) << "quality";
    EXPECT_EQ(littleEndian32(strh, 44), 0u) << "sample size";
    // The name, ended and padded with zeros.
    const std::vector<uint8_t> strn = chunkData(path, "strn");
    ASSERT_GE(strn.size(), 21u);
    EXPECT_EQ(std::string(strn.begin(), strn.begin() + 21), std::string("avs capture quorvane", 21));
    EXPECT_TRUE(std::all_of(strn.begin() + 21, strn.end(), [](uint8_t byte) { return byte == 0; }));
}

TEST_F(RecordingStart, EachFrameFormIsDeclaredInTheFilesFormat)
{
    HostFrame frame(320, 240);
    render(frame);
    effect->rawMode = 1;
    ASSERT_EQ(start(dir.file("raw.avi")), 1);
    effect->stopRecording();
    effect->rawMode = 0;
    ASSERT_EQ(start(dir.file("standard.avi")), 1);
    effect->stopRecording();

    const std::vector<uint8_t> raw = chunkData(dir.file("raw.avi"), "strf");
    ASSERT_EQ(raw.size(), 40u);
    EXPECT_EQ(littleEndian32(raw, 0), 40u) << "biSize";
    EXPECT_EQ(littleEndian32(raw, 4), 320u) << "biWidth";
    EXPECT_EQ(static_cast<int32_t>(littleEndian32(raw, 8)), -240) << "top-down";
    EXPECT_EQ(littleEndian32(raw, 12), 1u | (32u << 16)) << "one plane, 32 bits";
    EXPECT_EQ(littleEndian32(raw, 16), 0u) << "uncompressed";
    EXPECT_EQ(littleEndian32(raw, 20), 307200u);
    const std::vector<uint8_t> standard = chunkData(dir.file("standard.avi"), "strf");
    ASSERT_EQ(standard.size(), 40u);
    EXPECT_EQ(static_cast<int32_t>(littleEndian32(standard, 8)), 240) << "bottom-up";
    EXPECT_EQ(littleEndian32(standard, 12), 1u | (24u << 16)) << "one plane, 24 bits";
    EXPECT_EQ(littleEndian32(standard, 20), 230400u);
}

TEST_F(RecordingStart, RowsArePaddedToFourBytes)
{
    HostFrame frame(321, 240);
    render(frame);
    ASSERT_EQ(start(dir.file("padded.avi")), 1);
    renderAfter(40, frame);
    effect->stopRecording();
    EXPECT_EQ(littleEndian32(chunkData(dir.file("padded.avi"), "strf"), 20), 231360u) << "stride 964";
    const auto packets = probePackets(dir.file("padded.avi"));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size, 231360);
}

TEST_F(RecordingStart, TheRawSettingIsLatchedAtTheStart)
{
    HostFrame frame(16, 8);
    render(frame);
    effect->rawMode = 1;
    ASSERT_EQ(start(dir.file("latched.avi")), 1);
    effect->rawMode = 0;
    renderAfter(40, frame);
    effect->stopRecording();
    const auto packets = probePackets(dir.file("latched.avi"));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size, 16 * 8 * 4);
}

TEST_F(RecordingStart, AFileThatCannotBeCreatedIsReportedAndNothingStays)
{
    HostFrame frame(8, 8);
    render(frame);
    EXPECT_EQ(start(dir.file("missing/dir/x.avi")), 0);
    EXPECT_EQ(effect->recording.load(), 0);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "cannot create file");
    EXPECT_EQ(shown[0].caption, "error");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
}

TEST_F(RecordingStart, StreamAndFormatFailuresAreReportedAndReleaseTheFile)
{
    HostFrame frame(8, 8);
    render(frame);
    NativeFailNextAviCall("AVIFileCreateStreamA", static_cast<HRESULT>(0x80044070));
    EXPECT_EQ(start(dir.file("a.avi")), 0);
    NativeFailNextAviCall("AVIStreamSetFormat", static_cast<HRESULT>(0x80044070));
    EXPECT_EQ(start(dir.file("b.avi")), 0);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "cannot create stream");
    EXPECT_EQ(shown[1].text, "cannot set stream format");
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(effect->aviFile, nullptr);
    EXPECT_EQ(effect->aviStream, nullptr);
    // The next start works as if nothing had happened.
    EXPECT_EQ(start(dir.file("c.avi")), 1);
}

TEST_F(RecordingStart, ErrorBoxesBelongToTheDialog)
{
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    ASSERT_NE(dialog, nullptr);
    HostFrame frame(8, 8);
    render(frame);
    start(dir.file("missing/x.avi"));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].owner, dialog);
    DestroyWindow(dialog);
}

TEST_F(RecordingStart, StartingBeforeAnyFrameIsRefusedWithoutTouchingTheFile)
{
    const std::string path = dir.file("keep.avi");
    runCommand("echo precious > " + shellQuote(path));
    EXPECT_EQ(start(path), 0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "no frame rendered yet");
    EXPECT_EQ(fileSize(path), 9) << "the old file is not replaced by an empty one";
}

TEST_F(RecordingStart, SizesThatCannotBeRecordedAreRefused)
{
    const std::pair<int, int> sizes[] = {{-4, 8}, {8, -4}, {0, 8}, {8, 0}, {65536, 65536}, {INT_MAX, INT_MAX},
                                         {INT_MIN, INT_MIN}, {11586, 11586}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        boxes.clear();
        render(nullptr, w, h);
        EXPECT_EQ(start(dir.file("huge.avi")), 0);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "cannot record frames of this size");
        EXPECT_FALSE(fileExists(dir.file("huge.avi")));
    }
}

TEST_F(RecordingStart, TheConversionBufferOnlyGrows)
{
    HostFrame medium(64, 32);
    HostFrame small(16, 16);
    HostFrame large(128, 64);
    render(medium);
    ASSERT_EQ(start(dir.file("1.avi")), 1);
    const uint8_t* first = effect->scratch.data;
    EXPECT_EQ(effect->scratch.capacity, 64u * 32 * 4);
    effect->stopRecording();

    ASSERT_EQ(start(dir.file("2.avi")), 1);
    EXPECT_EQ(effect->scratch.data, first) << "same size: same buffer";
    effect->stopRecording();

    render(small);
    ASSERT_EQ(start(dir.file("3.avi")), 1);
    EXPECT_EQ(effect->scratch.data, first) << "smaller: same buffer";
    EXPECT_EQ(effect->scratch.capacity, 64u * 32 * 4);
    EXPECT_EQ(effect->scratch.width, 16);
    effect->stopRecording();

    render(large);
    effect->rawMode = 1;
    ASSERT_EQ(start(dir.file("4.avi")), 1);
    EXPECT_EQ(effect->scratch.capacity, 128u * 64 * 4) << "sized in RAW mode too";
    EXPECT_EQ(effect->scratch.height, 64);
}

TEST_F(RecordingStart, ASecondRecordingStartsFromZero)
{
    HostFrame frame(8, 8);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("first.avi")), 1);
    for (int i = 0; i < 10; ++i)
        renderAfter(100, frame);
    EXPECT_EQ(statusText(), "10 frames\n15 dropped\n0 MB");
    effect->stopRecording();
    NativeAdvanceClock(5000); // time between recordings does not count
    ASSERT_EQ(start(dir.file("second.avi")), 1);
    renderAfter(40, frame);
    EXPECT_EQ(statusText(), "1 frames\n0 MB") << "frames, drops and positions start from zero";
    effect->stopRecording();
    const auto packets = probePackets(dir.file("second.avi"));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].pts, 1);
}

TEST_F(RecordingStart, NoMemoryForTheBufferRefusesTheStartAndKeepsTheOldFile)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory map does not survive an address-space limit";
#else
    const std::string path = dir.file("old.avi");
    runCommand("echo precious > " + shellQuote(path));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 8000 x 8000 frames need a 256 MB buffer; allow far less.
        rlimit limit {512u << 20, 512u << 20};
        std::string used;
        runCommand("awk '/VmSize/ {print $2}' /proc/" + std::to_string(getpid()) + "/status", &used);
        limit.rlim_cur = limit.rlim_max = (std::strtoull(used.c_str(), nullptr, 10) << 10) + (128u << 20);
        setrlimit(RLIMIT_AS, &limit);
        render(nullptr, 8000, 8000);
        const int started = start(path);
        const auto shown = boxes.boxes();
        const bool refused = started == 0 && shown.size() == 1 && shown[0].text == "not enough memory to record" &&
                             NativeOpenAviFileCount() == 0 && effect->recording.load() == 0;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(fileSize(path), 9) << "the old file is left as it was";
#endif
}
