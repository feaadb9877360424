// Runs the Windows build's programs under Wine and reads what they print.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Where the Windows build and Wine are, from the environment ctest sets.
struct WindowsBuild {
    std::string wine;        // launcher for Windows programs
    std::string prefix;      // WINEPREFIX
    std::string ape;         // the plug-in
    std::string winhost;     // the stand-in host
    std::string writerProbe; // our writer's AVIFile functions, driven directly
    bool ownWriter = false;  // the plug-in records through our writer, not AVIFile
};

// Empty when the environment is complete, else what is missing.
std::string loadWindowsBuild();
const WindowsBuild& windowsBuild();

// A plug-in folder inside the Wine prefix's drive C, as a user makes one:
// the .ape copied in, and room for recordings beside it.
class PluginFolder {
public:
    explicit PluginFolder(const std::string& name);
    ~PluginFolder();
    PluginFolder(const PluginFolder&) = delete;
    PluginFolder& operator=(const PluginFolder&) = delete;

    std::string hostPath(const std::string& file) const { return directory_ + "/" + file; }
    std::string windowsPath(const std::string& file) const { return windowsDirectory_ + "\\" + file; }
    std::string apeWindowsPath() const { return windowsPath("avi_output.ape"); }
    const std::string& windowsDirectory() const { return windowsDirectory_; }

private:
    std::string directory_;
    std::string windowsDirectory_;
};

// The "key: value" lines a program printed, quoted values unescaped.
class ProgramOutput {
public:
    int exitStatus = -1;
    std::string text;   // standard output as printed
    std::string errors; // standard error

    bool has(const std::string& key) const;
    std::string value(const std::string& key) const; // first value of key, "" if absent
    std::vector<std::string> values(const std::string& key) const;
    // True when the program ran to its end.
    bool finished() const { return exitStatus == 0 && has("done"); }
    // Everything printed, for failure messages.
    std::string transcript() const;

    void parse();

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// Runs winhost COMMAND APE ARGS..., the .ape given by its Windows path.
ProgramOutput runWinhost(const std::string& command, const PluginFolder& folder,
                         const std::vector<std::string>& arguments = {});
ProgramOutput runWriterProbe(const std::vector<std::string>& arguments);

// A frame the host handed to the effect: its number and when the call
// began and ended on the multimedia clock.
struct RenderedFrame {
    uint32_t number = 0;
    uint32_t before = 0;
    uint32_t after = 0;
};
std::vector<RenderedFrame> renderedFrames(const ProgramOutput& output);

// The status label's "N frames\n[D dropped\n]M MB" read back; false when it
// has another form.
struct RecordingStatus {
    int frames = -1;
    int dropped = 0;
    long long megabytes = -1;
};
bool parseStatus(const std::string& text, RecordingStatus& status);

// The host's frame `number` in the form a decoder gives back (decodedHostPicture).
std::vector<uint8_t> expectedPixels(uint32_t number, int width, int height, bool raw);

// Decodes every frame of a recording of the host's animation, checks its
// pixels against the host frame whose number it carries, and returns those
// numbers in file order.
std::vector<uint32_t> decodedFrameNumbers(const std::string& file, int width, int height, bool raw);

// The size of a file on this machine, -1 when it is not there.
long long fileSize(const std::string& path);
