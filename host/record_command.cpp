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

} // namespace

bool parseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& error)
{
    if (argc < 1) {
        error = "record needs the plug-in's path";
        return false;
    }
    options.plugin = argv[0];
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        if (flag == "--raw") {
            options.raw = true;
        } else if (flag == "--virtual-clock") {
            options.virtualClock = true;
        } else if (flag == "--quiet") {
            options.quiet = true;
        } else if (!value) {
            error = flag + " needs a value";
            return false;
        } else {
            ++i;
            if (flag == "--out") {
                options.out = value;
            } else if (flag == "--size") {
                if (!parseSize(value, options.width, options.height)) {
                    error = "--size takes WIDTHxHEIGHT, each 1 to 16384";
                    return false;
                }
            } else if (flag == "--fps") {
                if (!parseInt(value, -1000000, 1000000, number)) {
                    error = "--fps takes a whole number";
                    return false;
                }
                options.frameRate = static_cast<int>(number);
            } else if (flag == "--host-fps") {
                if (!parseInt(value, 0, 100000, number)) {
                    error = "--host-fps takes a whole number from 0 to 100000";
                    return false;
                }
                options.hostFps = static_cast<int>(number);
            } else if (flag == "--seconds") {
                char* end = nullptr;
                options.seconds = std::strtod(value, &end);
                if (end == value || *end != '\0' || !(options.seconds >= 0) || options.seconds > 1e6) {
                    error = "--seconds takes a number of seconds";
                    return false;
                }
            } else if (flag == "--segment-size") {
                if (!parseInt(value, 4096, 1LL << 32, number)) {
                    error = "--segment-size takes a byte count from 4096 to 4294967296";
                    return false;
                }
                options.segmentSize = static_cast<uint64_t>(number);
            } else {
                error = "unknown option " + flag;
                return false;
            }
        }
    }
    if (options.out.empty()) {
        error = "record needs --out FILE";
        return false;
    }
    if (options.virtualClock && options.hostFps == 0) {
        error = "--virtual-clock needs a host rate above 0";
        return false;
    }
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

} // namespace

int runRecord(const RecordOptions& options)
{
    NativeSetMessageBoxSink(printBox, nullptr);
    if (options.segmentSize) {
        NativeAviWriterOptions writer {options.segmentSize, 0, 0};
        NativeSetAviWriterOptions(&writer);
        if (!segmentSizeFits(options))
            return 1;
    }
    if (options.virtualClock)
        NativeUseVirtualClock(0);

    LoadedPlugin plugin;
    std::string error;
    if (!plugin.load(options.plugin.c_str(), error)) {
        std::fprintf(stderr, "apehost: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<EffectBase> effect(plugin.createEffect());
    if (!effect) {
        std::fprintf(stderr, "apehost: the plug-in made no effect\n");
        return 1;
    }
    std::vector<uint32_t> frame(static_cast<size_t>(options.width) * options.height);
    auto render = [&](uint32_t number) {
        renderAnimationFrame(frame.data(), options.width, options.height, number);
        effect->renderFrame(0, 0, frame.data(), 0, options.width, options.height);
    };

    // The host is already rendering when the user opens the dialog.
    render(0);
    HWND dialog = effect->createConfigDialog(plugin.module(), nullptr);
    if (!dialog) {
        std::fprintf(stderr, "apehost: the plug-in gave no dialog\n");
        return 1;
    }
    typeInto(dialog, IDC_FILENAME, options.out);
    typeInto(dialog, IDC_FRAMERATE, std::to_string(options.frameRate));
    setChecked(dialog, IDC_RAWMODE, options.raw);
    click(dialog, IDC_SAVE);
    if (controlText(dialog, IDC_SAVE) != "STOP") {
        std::fprintf(stderr, "apehost: the recording did not start\n");
        DestroyWindow(dialog);
        return 1;
    }

    StatusDisplay display(options.quiet);
    const auto started = std::chrono::steady_clock::now();
    const uint64_t calls =
        options.hostFps > 0 ? static_cast<uint64_t>(std::llround(options.seconds * options.hostFps)) : UINT64_MAX;
    uint64_t rendered = 0;
    bool endedByPlugin = false;
    for (uint64_t call = 1; call <= calls; ++call) {
        if (options.virtualClock) {
            // Exactly call x 1000 / host rate milliseconds after the start.
            const uint64_t now = call * 1000 / static_cast<uint64_t>(options.hostFps);
            const uint64_t before = (call - 1) * 1000 / static_cast<uint64_t>(options.hostFps);
            NativeAdvanceClock(static_cast<DWORD>(now - before));
        } else if (options.hostFps > 0) {
            std::this_thread::sleep_until(started + std::chrono::microseconds(call * 1000000 / options.hostFps));
        } else if (std::chrono::steady_clock::now() - started >= std::chrono::duration<double>(options.seconds)) {
            break;
        }
        render(static_cast<uint32_t>(call));
        ++rendered;
        display.show(controlText(dialog, IDC_STATUS));
        if (controlText(dialog, IDC_SAVE) != "STOP") {
            endedByPlugin = true;
            break;
        }
    }
    if (!endedByPlugin)
        click(dialog, IDC_SAVE);
    const std::string status = controlText(dialog, IDC_STATUS);
    display.show(status);
    display.finish();
    DestroyWindow(dialog);
    effect.reset();

    std::printf("%s: %llu frames rendered at %s, recording %s; status: %s\n", options.out.c_str(),
                static_cast<unsigned long long>(rendered),
                options.hostFps > 0 ? (std::to_string(options.hostFps) + " fps").c_str() : "full speed",
                endedByPlugin ? "ended by the plug-in" : "stopped", oneLine(status).c_str());
    return endedByPlugin ? 2 : 0;
}
