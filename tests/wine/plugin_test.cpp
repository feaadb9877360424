// The plug-in boundary and the dialog under Wine, worked by the C host
// through the raw slot table and real USER32 windows.
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Runs one winhost command once for a whole group of tests.
class HostCommand : public testing::Test {
protected:
    static void run(const std::string& command)
    {
        folder_ = std::make_unique<PluginFolder>(command);
        output_ = std::make_unique<ProgramOutput>(runWinhost(command, *folder_));
    }
    static void TearDownTestSuite()
    {
        output_.reset();
        folder_.reset();
    }
    void SetUp() override { ASSERT_TRUE(output_->finished()) << output_->transcript(); }

    static const ProgramOutput& output() { return *output_; }
    static const PluginFolder& folder() { return *folder_; }

private:
    static std::unique_ptr<PluginFolder> folder_;
    static std::unique_ptr<ProgramOutput> output_;
};

std::unique_ptr<PluginFolder> HostCommand::folder_;
std::unique_ptr<ProgramOutput> HostCommand::output_;

class Registration : public HostCommand {
protected:
    static void SetUpTestSuite() { run("info"); }
};

class Abi : public HostCommand {
protected:
    static void SetUpTestSuite() { run("abi"); }
};

class Presets : public HostCommand {
protected:
    static void SetUpTestSuite() { run("presets"); }
};

class Dialog : public HostCommand {
protected:
    static void SetUpTestSuite() { run("dialog"); }
};

} // namespace

TEST_F(Registration, HandsOutTheIdentifierAndTheFactoryAndReturnsOne)
{
    EXPECT_EQ(output().value("registered"), "1");
    EXPECT_EQ(output().value("identifier"), "Brellix: AVI output ");
}

TEST_F(Registration, HandsOutTheSameStaticIdentifierEveryTime)
{
    EXPECT_EQ(output().value("same identifier"), "1");
    EXPECT_EQ(output().value("same factory"), "1");
}

TEST_F(Registration, TheFactoryGivenABufferNamesTheModuleAndMakesNoEffect)
{
    EXPECT_EQ(output().value("factory with buffer returned"), "null");
    EXPECT_EQ(output().value("module name"), "Quorvane / AVI output ");
}

TEST_F(Registration, EffectsDescribeThemselvesWithOneStaticModuleName)
{
    EXPECT_EQ(output().value("description"), "Quorvane / AVI output ");
    EXPECT_EQ(output().value("same description"), "1");
}

// Each slot called as a Microsoft-built host calls it: the object in ECX,
// the arguments on the stack for the callee to pop.
TEST_F(Abi, EverySlotSitsWhereTheHostCallsItAndPopsItsArguments)
{
    EXPECT_EQ(output().value("slot 2 renderFrame"), "result 0, stack 0");
    EXPECT_EQ(output().value("slot 3 createConfigDialog"), "window, stack 0");
    EXPECT_EQ(output().value("slot 4 getDescription"), "module name, stack 0");
    EXPECT_EQ(output().value("slot 5 loadPresetData"), "stack 0");
    EXPECT_EQ(output().value("slot 6 savePresetData"), "result 4, bytes 01 02 03 04, stack 0");
}

TEST_F(Abi, TheDeletingDestructorTakesItsFlagsAndReturnsTheObject)
{
    EXPECT_EQ(output().value("slot 1 deleting destructor (flags 1)"), "returned the object, stack 0");
    EXPECT_EQ(output().value("slot 1 deleting destructor (flags 0)"), "returned the object, stack 0");
}

TEST_F(Presets, AFreshEffectSavesFourZeroBytes)
{
    EXPECT_EQ(output().value("fresh"), "4 bytes: 00 00 00 00 EE EE EE EE");
}

TEST_F(Presets, LoadingTakesTheFirstFourBytesAndIgnoresShorterData)
{
    EXPECT_EQ(output().value("after loading 8 bytes"), "4 bytes: 11 22 33 44 EE EE EE EE");
    EXPECT_EQ(output().value("after loading 3 bytes"), "4 bytes: 11 22 33 44 EE EE EE EE");
    EXPECT_EQ(output().value("after loading 4 bytes"), "4 bytes: 55 66 77 88 EE EE EE EE");
}

TEST_F(Presets, WhatOneEffectSavesAnotherLoads)
{
    EXPECT_EQ(output().value("copied into a second effect"), "4 bytes: 55 66 77 88 EE EE EE EE");
}

TEST_F(Dialog, IsAChildOfTheHostsWindowWithElevenControls)
{
    EXPECT_EQ(output().value("dialog parent is host"), "1");
    EXPECT_EQ(output().value("controls"), "11");
    const unsigned long style = std::stoul(output().value("dialog style"), nullptr, 16);
    EXPECT_TRUE(style & 0x40000000ul) << "WS_CHILD";
    EXPECT_FALSE(style & 0x00C00000ul) << "no caption";
}

TEST_F(Dialog, TheDefaultFileIsUntitledAviInThePlugInsFolder)
{
    EXPECT_EQ(output().value("module path"), folder().apeWindowsPath());
    EXPECT_EQ(output().value("filename"), folder().windowsPath("untitled.avi"));
}

TEST_F(Dialog, OpensWithTheEffectsSettings)
{
    EXPECT_EQ(output().value("framerate"), "25");
    EXPECT_EQ(output().value("raw"), "0");
    EXPECT_EQ(output().value("save"), "Save");
    EXPECT_EQ(output().value("status"), "");
}

TEST_F(Dialog, HelpShowsTheReadmeInAPlainBoxOwnedByTheHostsWindow)
{
    EXPECT_EQ(output().value("box 0 caption"), "Quorvane AVI Output APE- readme");
    const std::string text = output().value("box 0 text");
    EXPECT_EQ(text.rfind("AVS AVI output\n" + std::string(39, '=') + "\n", 0), 0u) << text;
    EXPECT_NE(text.find("Configuration\n" + std::string(19, '=') + "\n"), std::string::npos);
    EXPECT_NE(text.find("for example, a 320x240 movie @ 25fps requires 5.5MB/sec.\nor 7.3MB/sec in RAW mode."),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
    EXPECT_EQ(output().value("box 0 icon"), "0");
    EXPECT_EQ(output().value("box 0 buttons"), "OK");
    EXPECT_EQ(output().value("box 0 owner"), "host window");
    EXPECT_FALSE(output().has("box 1 caption"));
}

TEST_F(Dialog, TypedValuesReachTheEffect)
{
    EXPECT_EQ(output().value("framerate after typing 30fps"), "30");
    EXPECT_EQ(output().value("framerate after typing abc"), "0");
    EXPECT_EQ(output().value("framerate after typing -5"), "-5");
    EXPECT_EQ(output().value("raw after ticking"), "1");
}

TEST_F(Dialog, AFileNameIsCutToNinetyNineCharacters)
{
    EXPECT_EQ(output().value("filename after typing 159 characters"), "C:\\" + std::string(96, 'n'));
}
