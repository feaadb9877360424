// The configuration dialog worked as a person works it.
#include "dialog/config_dialog.h"
#include "host/dialog_driver.h"
#include "resources/help_text.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"

class ConfigDialog : public EffectTest {
protected:
    HWND open(AviOutputEffect& owner)
    {
        HWND dialog = owner.createConfigDialog(moduleInstance, nullptr);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
};

TEST_F(ConfigDialog, OpensShowingTheEffectsSettings)
{
    effect->rawMode = 1;
    effect->frameRate = 12;
    HWND dialog = open(*effect);
    EXPECT_EQ(effect->dialogWindow.load(), dialog);
    EXPECT_EQ(controlText(dialog, IDC_FILENAME), effect->fileName);
    EXPECT_EQ(controlText(dialog, IDC_FRAMERATE), "12");
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RAWMODE), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    EXPECT_EQ(controlText(dialog, IDC_STATUS), "");
    DestroyWindow(dialog);
    EXPECT_EQ(effect->dialogWindow.load(), nullptr);
}

TEST_F(ConfigDialog, OpenedDuringARecordingItShowsStop)
{
    HostFrame frame(8, 8);
    render(frame);
    effect->frameRate = 30;
    ASSERT_EQ(start(dir.file("running.avi")), 1);
    HWND dialog = open(*effect);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    EXPECT_EQ(controlText(dialog, IDC_FILENAME), dir.file("running.avi"));
    EXPECT_EQ(controlText(dialog, IDC_FRAMERATE), "30");
    click(dialog, IDC_SAVE);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, TypedRatesAreReadUpToTheFirstNonDigit)
{
    HWND dialog = open(*effect);
    const std::pair<const char*, int> typed[] = {{"30fps", 30}, {"abc", 0}, {"-5", -5}, {"  +7", 7},
                                                 {"", 0},         {"2147483647", 214748364}, {"-", 0}};
    for (auto [text, rate] : typed) {
        typeInto(dialog, IDC_FRAMERATE, text);
        EXPECT_EQ(effect->frameRate.load(), rate) << text;
    }
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, WhatTheRecordingDoesWithTypedRates)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND dialog = open(*effect);
    const std::pair<const char*, DWORD> typed[] = {{"30fps", 30}, {"abc", 0}, {"-5", 0}};
    for (auto [text, declared] : typed) {
        SCOPED_TRACE(text);
        const std::string path = dir.file(std::string("rate") + std::to_string(declared) + text + ".avi");
        typeInto(dialog, IDC_FILENAME, path);
        typeInto(dialog, IDC_FRAMERATE, text);
        click(dialog, IDC_SAVE);
        ASSERT_EQ(controlText(dialog, IDC_SAVE), "STOP");
        for (int call = 0; call < 25; ++call)
            renderAfter(40, frame);
        click(dialog, IDC_SAVE);
        EXPECT_EQ(littleEndian32(chunkData(path, "strh"), 24), declared) << "the stream's declared rate";
        const auto packets = probePackets(path);
        ASSERT_EQ(packets.size(), declared == 30 ? 25u : 0u) << "25 calls, 40 ms apart";
        if (!packets.empty()) {
            EXPECT_EQ(packets.back().pts, 30);
        }
    }
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, FileNamesAreCutToNinetyNineCharacters)
{
    HWND dialog = open(*effect);
    const std::string longName = "/tmp/" + std::string(150, 'n') + ".avi";
    SetDlgItemTextA(dialog, IDC_FILENAME, longName.c_str());
    EXPECT_EQ(std::string(effect->fileName), longName.substr(0, 99));
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, FieldsFollowTheBoxesKeystrokeByKeystroke)
{
    HWND dialog = open(*effect);
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "");
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "5");
    EXPECT_EQ(effect->frameRate.load(), 5);
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "50");
    EXPECT_EQ(effect->frameRate.load(), 50);
    click(dialog, IDC_RAWMODE);
    EXPECT_EQ(effect->rawMode, 1);
    click(dialog, IDC_RAWMODE);
    EXPECT_EQ(effect->rawMode, 0);
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, SaveOnAFileThatCannotBeCreatedKeepsTheCaption)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND dialog = open(*effect);
    typeInto(dialog, IDC_FILENAME, dir.file("no/such/dir/x.avi"));
    click(dialog, IDC_SAVE);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "cannot create file");
    EXPECT_EQ(boxes.boxes()[0].owner, dialog);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    EXPECT_EQ(effect->recording.load(), 0);
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, SaveThenStopMakesADecodableFileWhileTheLabelFollows)
{
    HostFrame frame(64, 48);
    render(frame);
    HWND dialog = open(*effect);
    typeInto(dialog, IDC_FILENAME, dir.file("saved.avi"));
    click(dialog, IDC_SAVE);
    ASSERT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    std::vector<std::string> labels;
    for (int call = 1; call <= 8; ++call) {
        renderAfter(call == 5 ? 120 : 40, frame);
        labels.push_back(controlText(dialog, IDC_STATUS));
    }
    EXPECT_EQ(labels[0], "1 frames\n0 MB");
    EXPECT_EQ(labels[3], "4 frames\n0 MB");
    EXPECT_EQ(labels[4], "5 frames\n2 dropped\n0 MB");
    EXPECT_EQ(labels[7], "8 frames\n2 dropped\n0 MB");
    click(dialog, IDC_SAVE);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    EXPECT_EQ(controlText(dialog, IDC_STATUS), labels[7]) << "the label keeps its last text";
    EXPECT_EQ(decodeFrames(dir.file("saved.avi"), "bgr24", 64, 48).size(), 8u);
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, HelpShowsTheTextAndChangesNothing)
{
    HWND dialog = open(*effect);
    const std::string fileBefore = effect->fileName;
    click(dialog, IDC_README);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Quorvane AVI Output APE- readme");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(shown[0].owner, dialog);
    EXPECT_EQ(shown[0].text, helpText);
    EXPECT_EQ(effect->fileName, fileBefore);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    DestroyWindow(dialog);
}

TEST(HelpText, HasItsTitleExampleHeadingsAndPlainLineFeeds)
{
    const std::string text = helpText;
    EXPECT_EQ(text.rfind("AVS AVI output\n" + std::string(39, '=') + "\n\n", 0), 0u);
    EXPECT_NE(text.find("\nfor example, a 320x240 movie @ 25fps requires 5.5MB/sec.\nor 7.3MB/sec in RAW mode.\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\nConfiguration\n" + std::string(19, '=') + "\n"), std::string::npos);
    EXPECT_NE(text.find("'save' to begin saving"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
    EXPECT_EQ(text.find("\r"), std::string::npos);
    EXPECT_EQ(text.find("\n\n\n"), std::string::npos);
}

TEST_F(ConfigDialog, TheProcedureAnswersOnlyForItsOwnMessages)
{
    HWND dialog = open(*effect);
    EXPECT_EQ(configDialogProc(dialog, 0x0200, 0, 0), FALSE);
    EXPECT_EQ(configDialogProc(dialog, WM_COMMAND, MAKEWPARAM(4242, 0), 0), TRUE);
    EXPECT_EQ(configDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_FILENAME, EN_CHANGE), 0), TRUE);
    EXPECT_EQ(configDialogProc(dialog, WM_INITDIALOG, 0, 0), FALSE) << "no effect named";
    DestroyWindow(dialog);
}

TEST_F(ConfigDialog, EachDialogServesTheEffectThatOpenedIt)
{
    HostFrame frame(8, 8);
    AviOutputEffect second;
    render(frame);
    second.renderFrame(0, 0, frame.pixels.data(), 0, 8, 8);
    HWND first = open(*effect);
    HWND other = open(second);
    typeInto(first, IDC_FRAMERATE, "7");
    typeInto(first, IDC_FILENAME, dir.file("first.avi"));
    click(first, IDC_SAVE);
    EXPECT_EQ(effect->frameRate.load(), 7);
    EXPECT_EQ(second.frameRate.load(), 25);
    EXPECT_EQ(effect->recording.load(), 1);
    EXPECT_EQ(second.recording.load(), 0);
    EXPECT_EQ(controlText(first, IDC_SAVE), "STOP");
    EXPECT_EQ(controlText(other, IDC_SAVE), "Save");
    DestroyWindow(other);
    DestroyWindow(first);
}

TEST_F(ConfigDialog, ADialogWhoseEffectIsGoneStaysInertWhenAnotherOpens)
{
    HostFrame frame(8, 8);
    AviOutputEffect second;
    second.renderFrame(0, 0, frame.pixels.data(), 0, 8, 8);
    HWND orphan = open(*effect);
    effect.reset();
    HWND other = open(second);
    const std::string secondName = second.fileName;
    typeInto(orphan, IDC_FILENAME, dir.file("orphan.avi"));
    typeInto(orphan, IDC_FRAMERATE, "3");
    click(orphan, IDC_SAVE);
    EXPECT_EQ(second.recording.load(), 0);
    EXPECT_EQ(second.fileName, secondName);
    EXPECT_EQ(second.frameRate.load(), 25);
    EXPECT_EQ(controlText(other, IDC_SAVE), "Save");
    EXPECT_TRUE(boxes.boxes().empty());
    DestroyWindow(other);
    DestroyWindow(orphan);
}

TEST_F(ConfigDialog, DestroyingAnOldDialogLeavesTheNewOneConnected)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND old = open(*effect);
    HWND current = open(*effect);
    DestroyWindow(old);
    EXPECT_EQ(effect->dialogWindow.load(), current);
    typeInto(current, IDC_FILENAME, dir.file("kept.avi"));
    click(current, IDC_SAVE);
    renderAfter(40, frame);
    EXPECT_EQ(controlText(current, IDC_STATUS), "1 frames\n0 MB");
    DestroyWindow(current);
    EXPECT_EQ(effect->dialogWindow.load(), nullptr);
}

TEST_F(ConfigDialog, AnEffectNeverKeepsADestroyedDialogOfItsOwn)
{
    HostFrame frame(8, 8);
    AviOutputEffect second;
    render(frame);
    HWND first = open(*effect);
    HWND other = open(second);
    DestroyWindow(first);
    EXPECT_EQ(effect->dialogWindow.load(), nullptr);
    EXPECT_EQ(second.dialogWindow.load(), other);

    // The first effect's error boxes now have no owner, and none goes to the other dialog.
    ASSERT_EQ(start(dir.file("missing/x.avi")), 0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].owner, nullptr);
    ASSERT_EQ(start(dir.file("ok.avi")), 1);
    renderAfter(40, frame);
    EXPECT_EQ(controlText(other, IDC_STATUS), "") << "no status text in another effect's dialog";
    DestroyWindow(other);
}

TEST_F(ConfigDialog, DeletingTheEffectLeavesItsDialogHarmless)
{
    HostFrame frame(8, 8);
    render(frame);
    HWND dialog = open(*effect);
    typeInto(dialog, IDC_FILENAME, dir.file("gone.avi"));
    click(dialog, IDC_SAVE);
    renderAfter(40, frame);
    effect.reset();
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    typeInto(dialog, IDC_FRAMERATE, "9");
    click(dialog, IDC_SAVE);
    EXPECT_EQ(configDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE, BN_CLICKED), 0), FALSE);
    click(dialog, IDC_README);
    click(dialog, IDC_RAWMODE);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(DestroyWindow(dialog));
    EXPECT_EQ(probePackets(dir.file("gone.avi")).size(), 1u);
}
