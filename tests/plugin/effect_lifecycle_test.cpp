// Construction, presets, the default path, stopping and deletion.
#include "plugin/default_path.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <climits>
#include <unistd.h>

using EffectLifecycle = EffectTest;

TEST_F(EffectLifecycle, AFreshEffectHasItsDefaults)
{
    EXPECT_EQ(effect->frameRate.load(), 25);
    EXPECT_EQ(effect->rawMode, 0);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(effect->width, 0);
    EXPECT_EQ(effect->height, 0);
    EXPECT_EQ(effect->dialogWindow.load(), nullptr);
    EXPECT_EQ(effect->scratch.data, nullptr);
    char executable[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", executable, sizeof executable - 1), 0);
    std::string expected = executable;
    expected = expected.substr(0, expected.rfind('/') + 1) + "untitled.avi";
    if (expected.size() <= 99) {
        EXPECT_STREQ(effect->fileName, expected.c_str());
    }
}

TEST_F(EffectLifecycle, PresetDataIsOneLittleEndianWord)
{
    unsigned char saved[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(effect->savePresetData(saved), 4);
    EXPECT_EQ(std::vector<unsigned char>(saved, saved + 5), (std::vector<unsigned char> {0, 0, 0, 0, 0xEE}));

    unsigned char eight[8] = {0x01, 0x02, 0x03, 0x84, 0x55, 0x66, 0x77, 0x88};
    effect->loadPresetData(eight, 8);
    EXPECT_EQ(static_cast<uint32_t>(effect->presetWord), 0x84030201u);
    EXPECT_EQ(effect->savePresetData(saved), 4);
    EXPECT_EQ(std::vector<unsigned char>(saved, saved + 4), (std::vector<unsigned char> {1, 2, 3, 0x84}));

    unsigned char three[3] = {9, 9, 9};
    effect->loadPresetData(three, 3);
    EXPECT_EQ(static_cast<uint32_t>(effect->presetWord), 0x84030201u) << "fewer than 4 bytes change nothing";
}

TEST_F(EffectLifecycle, PresetCallsWithoutBytesChangeNothing)
{
    effect->presetWord = 7;
    effect->loadPresetData(nullptr, 4);
    effect->loadPresetData(nullptr, 0);
    unsigned char four[4] = {1, 2, 3, 4};
    effect->loadPresetData(four, -1);
    EXPECT_EQ(effect->presetWord, 7);
    EXPECT_EQ(effect->savePresetData(nullptr), 0);
}

TEST(DefaultPath, IsTheModulesDirectoryFollowedByUntitledAvi)
{
    char fileName[100];
    const char path[] = "/opt/host/plugins/x.ape";
    composeDefaultPath(fileName, path, sizeof path - 1);
    EXPECT_STREQ(fileName, "/opt/host/plugins/untitled.avi");
}

TEST(DefaultPath, FillsAllHundredBytes)
{
    char fileName[100];
    std::memset(fileName, 'z', sizeof fileName);
    const char path[] = "/p/x.ape";
    composeDefaultPath(fileName, path, sizeof path - 1);
    for (size_t i = std::strlen(fileName); i < sizeof fileName; ++i)
        ASSERT_EQ(fileName[i], '\0') << "byte " << i;
}

TEST(DefaultPath, ADirectoryThatLeavesNoRoomIsNeverCut)
{
    char fileName[100];
    // 87 characters of directory plus "untitled.avi" is 99: fits exactly.
    std::string fits = "/" + std::string(85, 'd') + "/";
    ASSERT_EQ(fits.size(), 87u);
    std::string module = fits + "x.ape";
    composeDefaultPath(fileName, module.c_str(), static_cast<DWORD>(module.size()));
    EXPECT_EQ(std::string(fileName), fits + "untitled.avi");

    std::string tooLong = "/" + std::string(86, 'd') + "/";
    module = tooLong + "x.ape";
    composeDefaultPath(fileName, module.c_str(), static_cast<DWORD>(module.size()));
    EXPECT_STREQ(fileName, "untitled.avi");
}

TEST(DefaultPath, APathCutByTheBufferOrWithoutDirectoryGivesTheNameAlone)
{
    char fileName[100];
    std::string cut(99, 'a');
    cut[10] = '/';
    composeDefaultPath(fileName, cut.c_str(), 100); // GetModuleFileNameA's answer for a cut path
    EXPECT_STREQ(fileName, "untitled.avi");
    composeDefaultPath(fileName, "x.ape", 5);
    EXPECT_STREQ(fileName, "untitled.avi");
    composeDefaultPath(fileName, "", 0);
    EXPECT_STREQ(fileName, "untitled.avi");
    composeDefaultPath(fileName, nullptr, 0);
    EXPECT_STREQ(fileName, "untitled.avi");
}

TEST_F(EffectLifecycle, StoppingTwiceReleasesNothingTwice)
{
    HostFrame frame(8, 4);
    render(frame);
    ASSERT_EQ(start(dir.file("twice.avi")), 1);
    renderAfter(50, frame);
    EXPECT_EQ(NativeOpenAviFileCount(), 1);
    effect->stopRecording();
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    effect->stopRecording();
    effect->stopRecording();
    EXPECT_EQ(effect->aviFile, nullptr);
    EXPECT_EQ(effect->aviStream, nullptr);
    EXPECT_EQ(probePackets(dir.file("twice.avi")).size(), 1u);
}

TEST_F(EffectLifecycle, DeletingARecordingEffectClosesItsFile)
{
    HostFrame frame(8, 4);
    render(frame);
    ASSERT_EQ(start(dir.file("deleted.avi")), 1);
    for (int i = 0; i < 5; ++i)
        renderAfter(40, frame);
    effect.reset();
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(probePackets(dir.file("deleted.avi")).size(), 5u);
}

TEST_F(EffectLifecycle, EveryEffectBalancesItsLibraryInit)
{
    // Another effect's deletion leaves the library usable for this one.
    auto other = std::make_unique<AviOutputEffect>();
    other.reset();
    HostFrame frame(4, 4);
    render(frame);
    EXPECT_EQ(start(dir.file("still.avi")), 1);
    EXPECT_TRUE(boxes.boxes().empty());
}
