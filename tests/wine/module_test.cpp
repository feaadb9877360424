// The .ape as a file: what a user copies into the host's plug-in folder.
#include "tests/support/media_probe.h"
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

namespace {

std::string objdump(const std::string& options)
{
    std::string text;
    runCommand("i686-w64-mingw32-objdump " + options + " " + shellQuote(windowsBuild().ape), &text);
    return text;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::vector<std::string> exportedNames()
{
    std::istringstream lines(objdump("-p"));
    std::string line;
    std::vector<std::string> names;
    bool inTable = false;
    while (std::getline(lines, line)) {
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        const size_t bracket = line.find(']');
        if (line.find('[') == std::string::npos || bracket == std::string::npos)
            break;
        names.push_back(line.substr(bracket + 2));
    }
    return names;
}

std::set<std::string> importedLibraries()
{
    std::istringstream lines(objdump("-p"));
    std::string line;
    std::set<std::string> names;
    const std::string tag = "DLL Name: ";
    while (std::getline(lines, line)) {
        const size_t at = line.find(tag);
        if (at != std::string::npos)
            names.insert(lower(line.substr(at + tag.size())));
    }
    return names;
}

} // namespace

TEST(WindowsModule, IsA32BitDll)
{
    const std::string header = objdump("-p");
    EXPECT_NE(header.find("file format pei-i386"), std::string::npos) << header.substr(0, 400);
    EXPECT_NE(header.find("Magic\t\t\t010b\t(PE32)"), std::string::npos);
    EXPECT_NE(header.find("\tDLL\n"), std::string::npos) << "the DLL characteristic is not set";
}

TEST(WindowsModule, ExportsOnlyTheRegistrationFunctionUndecorated)
{
    EXPECT_EQ(exportedNames(), std::vector<std::string> {"_AVS_APE_RetrFunc"});
}

TEST(WindowsModule, ImportsOnlyWindowsSystemLibraries)
{
    const std::set<std::string> imported = importedLibraries();
    const std::set<std::string> system {"kernel32.dll", "user32.dll", "winmm.dll", "avifil32.dll", "msvcrt.dll"};
    for (const std::string& name : imported)
        EXPECT_TRUE(system.count(name)) << name << " is not a Windows system library";
    EXPECT_TRUE(imported.count("kernel32.dll"));
    EXPECT_TRUE(imported.count("user32.dll"));
    EXPECT_TRUE(imported.count("winmm.dll"));
    if (windowsBuild().ownWriter)
        EXPECT_FALSE(imported.count("avifil32.dll")) << "our own writer replaces AVIFile";
    else
        EXPECT_TRUE(imported.count("avifil32.dll")) << "the default build records through AVIFile";
}
