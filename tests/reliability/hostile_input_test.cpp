// Input a host or a user may give that the plug-in must survive: odd and
// impossible sizes, nonsense rates and names, preset bytes of any length,
// and host calls in unexpected orders.
#include "dialog/config_dialog.h"
#include "host/dialog_driver.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <climits>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using HostileInput = EffectTest;

TEST_F(HostileInput, FramesOfAnySizeNeitherCrashNorCorruptTheRecording)
{
    const std::pair<int, int> sizes[] = {{0, 0},       {1, 1},         {-1, 5},           {5, -1},
                                         {INT_MIN, 3}, {3, INT_MAX},   {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN},
                                         {7, 3},       {100000, 100000}};
    HostFrame frame(7, 3);
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        // Only a frame of the size it claims is ever passed with pixels.
        const bool real = w == 7 && h == 3;
        render(real ? frame.pixels.data() : nullptr, w, h);
        const std::string path = dir.file("size.avi");
        const int started = start(path);
        EXPECT_EQ(started, w > 0 && h > 0 && int64_t(w) * h <= (int64_t(128) << 20) ? 1 : 0);
        for (int call = 0; call < 3; ++call) {
            NativeAdvanceClock(40);
            render(real ? frame.pixels.data() : nullptr, w, h);
        }
        effect->stopRecording();
        EXPECT_EQ(NativeOpenAviFileCount(), 0);
        if (started && real) {
            EXPECT_EQ(probePackets(path).size(), 3u);
        }
    }
}

TEST_F(HostileInput, TypedRatesGiveAClearResult)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    struct Case {
        const char* typed;
        int rate;
        size_t frames;
    };
    const Case cases[] = {{"abc", 0, 0}, {"-5", -5, 0}, {"0", 0, 0}, {"25", 25, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        boxes.clear();
        const std::string path = dir.file(std::string("rate-") + c.typed + ".avi");
        typeInto(dialog, IDC_FILENAME, path);
        typeInto(dialog, IDC_FRAMERATE, c.typed);
        EXPECT_EQ(effect->frameRate.load(), c.rate);
        click(dialog, IDC_SAVE);
        for (int call = 0; call < 10; ++call)
            renderAfter(40, frame);
        click(dialog, IDC_SAVE);
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_EQ(probePackets(path).size(), c.frames);
    }

    // The box takes nine characters: "2147483647" arrives as 214748364
    // frames per second, whose positions outrun any file: one clear error.
    boxes.clear();
    const std::string path = dir.file("rate-huge.avi");
    typeInto(dialog, IDC_FILENAME, path);
    typeInto(dialog, IDC_FRAMERATE, "2147483647");
    EXPECT_EQ(effect->frameRate.load(), 214748364);
    click(dialog, IDC_SAVE);
    for (int call = 0; call < 3; ++call)
        renderAfter(40, frame);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "The frame position lies too far past the end of the stream.");
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    ProbedStream stream;
    EXPECT_TRUE(probeStream(path, stream)) << "a valid, empty file";
    DestroyWindow(dialog);
}

TEST_F(HostileInput, FileNamesThatCannotBeRecordedToAreRefusedClearly)
{
    HostFrame frame(8, 8);
    render(frame);
    const std::string readOnly = dir.file("read-only");
    mkdir(readOnly.c_str(), 0555);
    struct Case {
        std::string name;
        const char* box;
    };
    std::vector<Case> cases = {
        {dir.file("missing/x.avi"), "cannot create file"},
        {dir.path(), "cannot create file"},
        {"", "cannot create file"},
        {"/dev/full", "cannot set stream format"},
        {geteuid() == 0 ? "/proc/avi-output-test.avi" : readOnly + "/x.avi", "cannot create file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        EXPECT_EQ(start(c.name), 0);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, c.box);
        EXPECT_EQ(NativeOpenAviFileCount(), 0);
    }
}

TEST_F(HostileInput, ANameOfNinetyNineCharactersAndMoreIsCutNeverOverrun)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    std::string name = dir.path() + "/";
    name += std::string(99 - name.size() - 4, 'n') + ".avi";
    ASSERT_EQ(name.size(), 99u);
    for (const std::string& typed : {name, name + "xyz", name + std::string(5000, 'q')}) {
        typeInto(dialog, IDC_FILENAME, typed);
        EXPECT_EQ(std::string(effect->fileName), name);
        EXPECT_EQ(effect->fileName[99], '\0');
    }
    click(dialog, IDC_SAVE);
    renderAfter(40, frame);
    click(dialog, IDC_SAVE);
    EXPECT_EQ(probePackets(name).size(), 1u);
    DestroyWindow(dialog);
}

TEST_F(HostileInput, PresetBytesOfEveryLengthLoadOnlyAWholeWord)
{
    std::mt19937 random(1234);
    for (int length = 0; length <= 64; ++length) {
        std::vector<unsigned char> bytes(static_cast<size_t>(length) + 1);
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(random());
        const int32_t before = effect->presetWord;
        effect->loadPresetData(bytes.data(), length);
        const int32_t expected =
            length >= 4 ? static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t(bytes[3]) << 24))
                        : before;
        EXPECT_EQ(effect->presetWord, expected) << "length " << length;
        unsigned char saved[5] = {0, 0, 0, 0, 0x5A};
        EXPECT_EQ(effect->savePresetData(saved), 4);
        EXPECT_EQ(saved[4], 0x5A) << "exactly 4 bytes written";
        effect->loadPresetData(nullptr, length);
        EXPECT_EQ(effect->presetWord, expected);
    }
}

TEST_F(HostileInput, HostCallsInUnexpectedOrdersNeitherCrashNorLeak)
{
    HostFrame frame(8, 8);
    // Stop before any start; render before any dialog; frames without pixels.
    effect->stopRecording();
    render(nullptr, 8, 8);
    render(frame);

    // A dialog destroyed twice, and one the host forgot to destroy.
    HWND first = effect->createConfigDialog(moduleInstance, nullptr);
    EXPECT_TRUE(DestroyWindow(first));
    EXPECT_FALSE(DestroyWindow(first));
    HWND forgotten = effect->createConfigDialog(moduleInstance, nullptr);

    // A dialog from a module that has no template.
    EXPECT_EQ(effect->createConfigDialog(reinterpret_cast<HINSTANCE>(0x1000), nullptr), nullptr);

    // Save pressed twice, STOP pressed twice.
    typeInto(forgotten, IDC_FILENAME, dir.file("orders.avi"));
    click(forgotten, IDC_SAVE);
    EXPECT_EQ(effect->runStartSequence(), nullptr) << "already recording";
    renderAfter(40, frame);
    click(forgotten, IDC_SAVE);
    effect->stopRecording();

    // Notifications for controls the dialog does not have, and stray messages.
    EXPECT_EQ(SendMessageA(forgotten, WM_COMMAND, MAKEWPARAM(0xFFFF, 0x1234), 0), TRUE);
    EXPECT_EQ(SendMessageA(forgotten, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(probePackets(dir.file("orders.avi")).size(), 1u);

    // The effect goes while its dialog stays; the host destroys it later.
    effect.reset();
    click(forgotten, IDC_SAVE);
    EXPECT_TRUE(DestroyWindow(forgotten));
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
}
