// The plug-in as the host finds it: one export, the identifier, the factory.
#include "host/plugin_loader.h"
#include "resources/resource.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

TEST(Registration, TheLibraryExportsOnlyItsEntryPoint)
{
    std::string symbols;
    ASSERT_EQ(runCommand("nm -D --defined-only " + shellQuote(pluginPath()), &symbols), 0);
    std::vector<std::string> names;
    size_t at = 0;
    while (at < symbols.size()) {
        const size_t end = symbols.find('\n', at);
        const std::string line = symbols.substr(at, end - at);
        names.push_back(line.substr(line.rfind(' ') + 1));
        at = end == std::string::npos ? symbols.size() : end + 1;
    }
    EXPECT_EQ(names, std::vector<std::string> {"_AVS_APE_RetrFunc"});
}

TEST(Registration, EntryPointHandsOutTheIdentifierAndTheFactory)
{
    HMODULE module = LoadLibraryA(pluginPath().c_str());
    ASSERT_NE(module, nullptr);
    auto retr = reinterpret_cast<RetrFunction>(GetProcAddress(module, "_AVS_APE_RetrFunc"));
    ASSERT_NE(retr, nullptr);
    char* identifier = nullptr;
    CreateEffectFunction factory = nullptr;
    EXPECT_EQ(retr(module, &identifier, &factory), 1);
    ASSERT_NE(identifier, nullptr);
    EXPECT_STREQ(identifier, "Brellix: AVI output ");
    char* again = nullptr;
    CreateEffectFunction factoryAgain = nullptr;
    EXPECT_EQ(retr(module, &again, &factoryAgain), 1);
    EXPECT_EQ(again, identifier) << "the same static string, not a copy";
    EXPECT_EQ(factoryAgain, factory);

    char description[64];
    std::memset(description, 'x', sizeof description);
    EXPECT_EQ(factory(description), nullptr);
    EXPECT_STREQ(description, "Quorvane / AVI output ");
    EXPECT_EQ(description[23], 'x') << "copies the name and its terminator only";

    std::unique_ptr<EffectBase> first(factory(nullptr));
    std::unique_ptr<EffectBase> second(factory(nullptr));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_STREQ(first->getDescription(), "Quorvane / AVI output ");
    EXPECT_EQ(first->getDescription(), second->getDescription());
    first.reset();
    second.reset();
    FreeLibrary(module);
}

namespace {

std::string copyPlugin(const std::string& directory)
{
    runCommand("mkdir -p " + shellQuote(directory) + " && cp " + shellQuote(pluginPath()) + " " +
               shellQuote(directory + "/x.ape"));
    return directory + "/x.ape";
}

std::string defaultFileOf(EffectBase& effect, HMODULE module)
{
    // The dialog shows the file name the effect holds.
    HWND dialog = effect.createConfigDialog(module, nullptr);
    char text[128] = {};
    GetDlgItemTextA(dialog, IDC_FILENAME, text, sizeof text);
    DestroyWindow(dialog);
    return text;
}

} // namespace

TEST(Registration, EffectsTakeTheirDefaultPathFromTheLatestRegisteredInstance)
{
    TempDir dir;
    const std::string first = copyPlugin(dir.file("plugins"));
    const std::string second = copyPlugin(dir.file("elsewhere"));
    LoadedPlugin one;
    LoadedPlugin other;
    std::string error;
    ASSERT_TRUE(one.load(first.c_str(), error)) << error;
    ASSERT_TRUE(other.load(second.c_str(), error)) << error;

    std::unique_ptr<EffectBase> effect(one.createEffect());
    EXPECT_EQ(defaultFileOf(*effect, one.module()), dir.file("plugins/untitled.avi"));

    // Registering again with another module's handle replaces the instance.
    auto retr = reinterpret_cast<RetrFunction>(GetProcAddress(one.module(), "_AVS_APE_RetrFunc"));
    char* identifier = nullptr;
    CreateEffectFunction factory = nullptr;
    retr(other.module(), &identifier, &factory);
    std::unique_ptr<EffectBase> later(factory(nullptr));
    EXPECT_EQ(defaultFileOf(*later, one.module()), dir.file("elsewhere/untitled.avi"));
    EXPECT_EQ(defaultFileOf(*effect, one.module()), dir.file("plugins/untitled.avi"))
        << "an effect keeps the path it was made with";
}

TEST(Registration, TheHostCanLoadTheLibraryAgainAfterFreeingIt)
{
    for (int round = 0; round < 3; ++round) {
        LoadedPlugin plugin;
        std::string error;
        ASSERT_TRUE(plugin.load(pluginPath().c_str(), error)) << error;
        std::unique_ptr<EffectBase> effect(plugin.createEffect());
        ASSERT_NE(effect, nullptr);
    }
}
