#include "tests/wine/wine_host.h"

#include "host/animation.h"
#include "tests/support/media_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

WindowsBuild build;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string unescape(const std::string& quoted)
{
    std::string text;
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        char c = quoted[i];
        if (c != '\\' || i + 2 >= quoted.size()) {
            text += c;
            continue;
        }
        c = quoted[++i];
        if (c == 'n')
            text += '\n';
        else if (c == 'r')
            text += '\r';
        else if (c == 'x' && i + 2 < quoted.size()) {
            text += static_cast<char>(std::strtol(quoted.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            text += c;
    }
    return text;
}

ProgramOutput runUnderWine(const std::string& program, const std::vector<std::string>& arguments)
{
    static std::atomic<int> runs {0};
    const std::string errorFile =
        build.prefix + "/drive_c/wine-tests/stderr-" + std::to_string(getpid()) + "-" + std::to_string(runs++);
    std::string command = shellQuote(build.wine) + " " + shellQuote(program);
    for (const std::string& argument : arguments)
        command += " " + shellQuote(argument);
    ProgramOutput output;
    output.exitStatus = runCommand(command + " 2>" + shellQuote(errorFile), &output.text);
    runCommand("cat " + shellQuote(errorFile), &output.errors);
    std::remove(errorFile.c_str());
    output.parse();
    return output;
}

} // namespace

std::string loadWindowsBuild()
{
    build.wine = environment("AVI_OUTPUT_WINE");
    build.prefix = environment("WINEPREFIX");
    build.ape = environment("AVI_OUTPUT_WINDOWS_APE");
    build.winhost = environment("AVI_OUTPUT_WINHOST");
    build.writerProbe = environment("AVI_OUTPUT_WRITER_PROBE");
    build.ownWriter = environment("AVI_OUTPUT_WINDOWS_VARIANT") == "own-writer";
    std::string missing;
    for (const char* name : {"AVI_OUTPUT_WINE", "WINEPREFIX", "AVI_OUTPUT_WINDOWS_APE", "AVI_OUTPUT_WINHOST",
                             "AVI_OUTPUT_WRITER_PROBE", "DISPLAY"}) {
        if (environment(name).empty())
            missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (!missing.empty())
        return "missing " + missing + ": run these tests through ctest --preset windows under Xvfb, "
               "as scripts/test-windows does";
    runCommand("mkdir -p " + shellQuote(build.prefix + "/drive_c/wine-tests"));
    return "";
}

const WindowsBuild& windowsBuild() { return build; }

PluginFolder::PluginFolder(const std::string& name)
{
    static std::atomic<int> made {0};
    const std::string leaf = name + "-" + std::to_string(getpid()) + "-" + std::to_string(made++);
    directory_ = build.prefix + "/drive_c/wine-tests/" + leaf;
    windowsDirectory_ = "C:\\wine-tests\\" + leaf;
    runCommand("rm -rf " + shellQuote(directory_) + " && mkdir -p " + shellQuote(directory_) + " && cp " +
               shellQuote(build.ape) + " " + shellQuote(hostPath("avi_output.ape")));
}

PluginFolder::~PluginFolder() { runCommand("rm -rf " + shellQuote(directory_)); }

void ProgramOutput::parse()
{
    entries_.clear();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t colon = line.find(": ");
        if (colon == std::string::npos) {
            entries_.emplace_back(line, "");
            continue;
        }
        std::string value = line.substr(colon + 2);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = unescape(value);
        entries_.emplace_back(line.substr(0, colon), value);
    }
}

bool ProgramOutput::has(const std::string& key) const
{
    for (const auto& entry : entries_) {
        if (entry.first == key)
            return true;
    }
    return false;
}

std::string ProgramOutput::value(const std::string& key) const
{
    for (const auto& entry : entries_) {
        if (entry.first == key)
            return entry.second;
    }
    return "";
}

std::vector<std::string> ProgramOutput::values(const std::string& key) const
{
    std::vector<std::string> found;
    for (const auto& entry : entries_) {
        if (entry.first == key)
            found.push_back(entry.second);
    }
    return found;
}

std::string ProgramOutput::transcript() const
{
    std::string shown;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("frame: ", 0) != 0)
            shown += line + "\n";
    }
    return "exit status " + std::to_string(exitStatus) + "\n--- output (frame lines left out)\n" + shown +
           "--- errors\n" + errors;
}

ProgramOutput runWinhost(const std::string& command, const PluginFolder& folder,
                         const std::vector<std::string>& arguments)
{
    std::vector<std::string> all {command, folder.apeWindowsPath()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runUnderWine(build.winhost, all);
}

ProgramOutput runWriterProbe(const std::vector<std::string>& arguments)
{
    return runUnderWine(build.writerProbe, arguments);
}

std::vector<RenderedFrame> renderedFrames(const ProgramOutput& output)
{
    std::vector<RenderedFrame> frames;
    for (const std::string& line : output.values("frame")) {
        RenderedFrame frame;
        unsigned long number = 0, before = 0, after = 0;
        if (std::sscanf(line.c_str(), "%lu %lu %lu", &number, &before, &after) == 3) {
            frame.number = static_cast<uint32_t>(number);
            frame.before = static_cast<uint32_t>(before);
            frame.after = static_cast<uint32_t>(after);
            frames.push_back(frame);
        }
    }
    return frames;
}

bool parseStatus(const std::string& text, RecordingStatus& status)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    lines.push_back(text.substr(from));
    const auto number = [](const std::string& line, const std::string& unit, long long& value) {
        size_t used = 0;
        try {
            value = std::stoll(line, &used);
        } catch (const std::exception&) {
            return false;
        }
        return line.substr(used) == unit;
    };
    long long frames = 0, dropped = 0;
    if (lines.size() < 2 || lines.size() > 3 || !number(lines.front(), " frames", frames) ||
        !number(lines.back(), " MB", status.megabytes))
        return false;
    if (lines.size() == 3 && (!number(lines[1], " dropped", dropped) || dropped <= 0))
        return false;
    status.frames = static_cast<int>(frames);
    status.dropped = static_cast<int>(dropped);
    return true;
}

std::vector<uint8_t> expectedPixels(uint32_t number, int width, int height, bool raw)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    renderAnimationFrame(pixels.data(), width, height, number);
    return decodedHostPicture(pixels, raw);
}

std::vector<uint32_t> decodedFrameNumbers(const std::string& file, int width, int height, bool raw)
{
    std::string errors;
    const auto frames = decodeFrames(file, raw ? "bgra" : "bgr24", width, height, &errors);
    EXPECT_TRUE(errors.empty()) << errors;
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < frames.size(); ++i) {
        uint32_t number = 0;
        EXPECT_TRUE(readFrameNumber(frames[i].data(), width, height, static_cast<size_t>(width) * (raw ? 4 : 3),
                                    raw ? 4 : 3, number));
        numbers.push_back(number);
        if (frames[i] != expectedPixels(number, width, height, raw)) {
            ADD_FAILURE() << "decoded frame " << i << " (host frame " << number << ") differs from what was rendered";
            break;
        }
    }
    return numbers;
}

long long fileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}
