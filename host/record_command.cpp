#include "host/record_command.h"

#include "host/animation.h"
#include "host/dialog_driver.h"
#include "host/plugin_loader.h"
#include "platform/native/native_host.h"
#include "resources/resource.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool parseInt(const char* text, long long low, long long high, long long& value)
{
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value >= low && value <= high;
}

bool parseSize(const char* text, int& width, int& height)
{
    const char* x = std::strchr(text, 'x');
    if (!x)
        return false;
    const std::string w(text, x);
    long long parsedWidth = 0;
    long long parsedHeight = 0;
    if (!parseInt(w.c_str(), 1, 16384, parsedWidth) || !parseInt(x + 1, 1, 16384, parsedHeight))
        return false;
    width = static_cast<int>(parsedWidth);
    height = static_cast<int>(parsedHeight);
    return true;
}

std::string oneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n')
            c = ',';
    }
    return text;
}

int printBox(void*, HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::fprintf(stderr, "\n[message box \"%s\"] %s\n", caption, text);
    return IDOK;
}

class StatusDisplay {
public:
    explicit StatusDisplay(bool quiet)
        : quiet_(quiet)
        , terminal_(isatty(STDOUT_FILENO) != 0)
    {
    }

    void show(const std::string& status)
    {
        if (quiet_ || status == shown_)
            return;
        shown_ = status;
        if (terminal_)
            std::printf("\r\033[K%s", oneLine(status).c_str());
        else
            std::printf("%s\n", oneLine(status).c_str());
        std::fflush(stdout);
    }

    void finish()
    {
        if (!quiet_ && terminal_ && !shown_.empty())
            std::printf("\n");
    }

private:
    bool quiet_;
    bool terminal_;
    std::string shown_;
};

bool refuse(std::string& error, const std::string& reason)
{
    error = reason;
    return false;
}

template <typename Number>
bool parseNumber(const char* text, long long low, long long high, Number& number)
{
    long long parsed = 0;
    if (!parseInt(text, low, high, parsed))
        return false;
    number = static_cast<Number>(parsed);
    return true;
}

bool parseSeconds(const char* text, double& seconds)
{
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && seconds >= 0 && seconds <= 1e6;
}

// The options that take no value; false when `flag` is none of them.
bool setSwitch(const std::string& flag, RecordOptions& options)
{
    if (flag == "--raw")
        options.raw = true;
    else if (flag == "--virtual-clock")
        options.virtualClock = true;
    else if (flag == "--quiet")
        options.quiet = true;
    else
        return false;
    return true;
}

bool setValue(const std::string& flag, const char* value, RecordOptions& options, std::string& error)
{
    if (flag == "--out") {
        options.out = value;
        return true;
    }
    if (flag == "--size")
        return parseSize(value, options.width, options.height) ||
               refuse(error, "--size takes WIDTHxHEIGHT, each 1 to 16384");
    if (flag == "--fps")
        return parseNumber(value, -1000000, 1000000, options.frameRate) ||
               refuse(error, "--fps takes a whole number");
    if (flag == "--host-fps")
        return parseNumber(value, 0, 100000, options.hostFps) ||
               refuse(error, "--host-fps takes a whole number from 0 to 100000");
    if (flag == "--seconds")
        return parseSeconds(value, options.seconds) || refuse(error, "--seconds takes a number of seconds");
    if (flag == "--segment-size")
        return parseNumber(value, 4096, 1LL << 32, options.segmentSize) ||
               refuse(error, "--segment-size takes a byte count from 4096 to 4294967296");
    return refuse(error, "unknown option " + flag);
}

} // namespace

bool parseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& error)
{
    if (argc < 1)
        return refuse(error, "record needs the plug-in's path");
    options.plugin = argv[0];
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (setSwitch(flag, options))
            continue;
        if (i + 1 >= argc)
            return refuse(error, flag + " needs a value");
        if (!setValue(flag, argv[++i], options, error))
            return false;
    }
    if (options.out.empty())
        return refuse(error, "record needs --out FILE");
    if (options.virtualClock && options.hostFps == 0)
        return refuse(error, "--virtual-clock needs a host rate above 0");
    return true;
}

namespace {

// A segment size too small for the file's header and one frame of the
// recording, which the writer would refuse when Save makes the file.
bool segmentSizeFits(const RecordOptions& options)
{
    BITMAPINFOHEADER format {};
    format.biSize = sizeof format;
    format.biWidth = options.width;
    format.biHeight = options.raw ? -options.height : options.height;
    format.biPlanes = 1;
    format.biBitCount = options.raw ? 32 : 24;
    const uint64_t smallest = NativeSmallestAviSegment(&format);
    if (options.segmentSize >= smallest)
        return true;
    std::fprintf(stderr,
                 "apehost: --segment-size %llu leaves no room for a %dx%d frame after the file header; use at least "
                 "%llu\n",
                 static_cast<unsigned long long>(options.segmentSize), options.width, options.height,
                 static_cast<unsigned long long>(smallest));
    return false;
}

// What the host sets up before it loads the plug-in: who answers boxes,
// the writer's segment size and the clock.
bool prepareHost(const RecordOptions& options)
{
    NativeSetMessageBoxSink(printBox, nullptr);
    if (options.segmentSize) {
        NativeAviWriterOptions writer {options.segmentSize, 0, 0};
        NativeSetAviWriterOptions(&writer);
        if (!segmentSizeFits(options))
            return false;
    }
    if (options.virtualClock)
        NativeUseVirtualClock(0);
    return true;
}

// The host's animation, drawn into one frame and handed to the effect.
class HostPicture {
public:
    HostPicture(EffectBase& effect, int width, int height)
        : effect_(effect)
        , width_(width)
        , height_(height)
        , pixels_(static_cast<size_t>(width) * height)
    {
    }

    void render(uint32_t number)
    {
        renderAnimationFrame(pixels_.data(), width_, height_, number);
        effect_.renderFrame(0, 0, pixels_.data(), 0, width_, height_);
    }

private:
    EffectBase& effect_;
    int width_;
    int height_;
    std::vector<uint32_t> pixels_;
};

// Types the file name and rate, ticks RAW and clicks Save, as a user does.
bool startRecording(HWND dialog, const RecordOptions& options)
{
    typeInto(dialog, IDC_FILENAME, options.out);
    typeInto(dialog, IDC_FRAMERATE, std::to_string(options.frameRate));
    setChecked(dialog, IDC_RAWMODE, options.raw);
    click(dialog, IDC_SAVE);
    if (controlText(dialog, IDC_SAVE) == "STOP")
        return true;
    std::fprintf(stderr, "apehost: the recording did not start\n");
    return false;
}

// Waits until the host's `call`th frame is due: call / host rate seconds
// after `started`, which the virtual clock reaches at once. False once a
// host at full speed has run for its seconds.
bool waitUntilDue(uint64_t call, const RecordOptions& options, std::chrono::steady_clock::time_point started)
{
    if (options.virtualClock) {
        // Exactly call x 1000 / host rate milliseconds after the start.
        const uint64_t now = call * 1000 / static_cast<uint64_t>(options.hostFps);
        const uint64_t before = (call - 1) * 1000 / static_cast<uint64_t>(options.hostFps);
        NativeAdvanceClock(static_cast<DWORD>(now - before));
    } else if (options.hostFps > 0) {
        std::this_thread::sleep_until(started + std::chrono::microseconds(call * 1000000 / options.hostFps));
    } else if (std::chrono::steady_clock::now() - started >= std::chrono::duration<double>(options.seconds)) {
        return false;
    }
    return true;
}

struct RecordingEnd {
    uint64_t rendered = 0;
    bool endedByPlugin = false;
    std::string status;
};

// Renders at the host's pace, showing the status as it changes, until the
// time is up and the user clicks STOP, or the plug-in ends the recording.
RecordingEnd recordUntilTheEnd(HWND dialog, HostPicture& picture, const RecordOptions& options)
{
    StatusDisplay display(options.quiet);
    const auto started = std::chrono::steady_clock::now();
    const uint64_t calls =
        options.hostFps > 0 ? static_cast<uint64_t>(std::llround(options.seconds * options.hostFps)) : UINT64_MAX;
    RecordingEnd end;
    for (uint64_t call = 1; call <= calls && waitUntilDue(call, options, started); ++call) {
        picture.render(static_cast<uint32_t>(call));
        ++end.rendered;
        display.show(controlText(dialog, IDC_STATUS));
        if (controlText(dialog, IDC_SAVE) != "STOP") {
            end.endedByPlugin = true;
            break;
        }
    }
    if (!end.endedByPlugin)
        click(dialog, IDC_SAVE);
    end.status = controlText(dialog, IDC_STATUS);
    display.show(end.status);
    display.finish();
    return end;
}

void printSummary(const RecordOptions& options, const RecordingEnd& end)
{
    std::printf("%s: %llu frames rendered at %s, recording %s; status: %s\n", options.out.c_str(),
                static_cast<unsigned long long>(end.rendered),
                options.hostFps > 0 ? (std::to_string(options.hostFps) + " fps").c_str() : "full speed",
                end.endedByPlugin ? "ended by the plug-in" : "stopped", oneLine(end.status).c_str());
}

} // namespace

int runRecord(const RecordOptions& options)
{
    if (!prepareHost(options))
        return 1;
    LoadedPlugin plugin;
    std::string error;
    std::unique_ptr<EffectBase> effect = loadEffect(options.plugin.c_str(), plugin, error);
    if (!effect) {
        std::fprintf(stderr, "apehost: %s\n", error.c_str());
        return 1;
    }
    HostPicture picture(*effect, options.width, options.height);
    // The host is already rendering when the user opens the dialog.
    picture.render(0);
    HWND dialog = effect->createConfigDialog(plugin.module(), nullptr);
    if (!dialog) {
        std::fprintf(stderr, "apehost: the plug-in gave no dialog\n");
        return 1;
    }
    if (!startRecording(dialog, options)) {
        DestroyWindow(dialog);
        return 1;
    }
    const RecordingEnd end = recordUntilTheEnd(dialog, picture, options);
    DestroyWindow(dialog);
    effect.reset();
    printSummary(options, end);
    return end.endedByPlugin ? 2 : 0;
}
