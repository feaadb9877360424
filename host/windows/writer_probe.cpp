// writer_probe: drives the AVIFile functions of our own writer on Windows
// directly, with options the plug-in never sets, and prints what happened.
//   writer_probe segments OUT.avi SEGMENT_BYTES FRAMES WIDTH HEIGHT
//     writes FRAMES top-down 32-bit frames of the built-in animation, the
//     frame numbered p at position p, skipping every third position, into
//     RIFF segments of at most SEGMENT_BYTES.
//   writer_probe errors DIR
//     provokes each refusal and prints its code and the system's text.
//   writer_probe sweep DIR once|full
//     records the fault sweep's recording (tests/support/fault_sweep.h) once
//     for every file operation, that call failing (once, or as a full disk
//     from then on), into DIR\sweep-N.avi, and prints how many frames it
//     wrote and their positions.
#include "host/animation.h"
#include "platform/windows/avifile_shim.h"
#include "tests/support/fault_sweep.h"

#include <vfw.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

AVISTREAMINFOA videoStream(DWORD rate)
{
    AVISTREAMINFOA info {};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = rate;
    info.dwQuality = 0xFFFFFFFFu;
    std::strcpy(info.szName, "writer probe");
    return info;
}

BITMAPINFOHEADER topDown32(int width, int height)
{
    BITMAPINFOHEADER format {};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = -height;
    format.biPlanes = 1;
    format.biBitCount = 32;
    format.biCompression = BI_RGB;
    format.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
    return format;
}

std::string systemText(HRESULT code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = text ? text : "";
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

void report(const char* what, HRESULT code)
{
    std::printf("%s: %ld \"%s\"\n", what, static_cast<long>(code), systemText(code).c_str());
}

int segments(const char* path, uint64_t segmentBytes, int frames, int width, int height)
{
    avi::WriterOptions options;
    options.segmentLimit = segmentBytes;
    options.flushIntervalMs = 50;
    setAviFileWriterOptions(options);

    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    HRESULT result = AVIFileOpenA(&file, path, OF_WRITE | OF_CREATE, nullptr);
    if (result != 0) {
        report("open", result);
        return 1;
    }
    AVISTREAMINFOA info = videoStream(25);
    BITMAPINFOHEADER format = topDown32(width, height);
    if ((result = AVIFileCreateStreamA(file, &stream, &info)) != 0 ||
        (result = AVIStreamSetFormat(stream, 0, &format, sizeof format)) != 0) {
        report("stream", result);
        return 1;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    LONG position = 0;
    for (int frame = 0; frame < frames; ++frame) {
        position += position % 3 == 2 ? 2 : 1;
        renderAnimationFrame(pixels.data(), width, height, static_cast<uint32_t>(position));
        LONG samples = 0;
        LONG bytes = 0;
        result = AVIStreamWrite(stream, position, 1, pixels.data(), static_cast<LONG>(format.biSizeImage),
                                AVIIF_KEYFRAME, &samples, &bytes);
        if (result != 0 || samples != 1 || bytes != static_cast<LONG>(format.biSizeImage)) {
            report("write", result);
            return 1;
        }
        std::printf("position: %ld\n", static_cast<long>(position));
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    AVIFileExit();
    return 0;
}

int errors(const std::string& dir)
{
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    report("open in a missing directory",
           AVIFileOpenA(&file, (dir + "\\missing\\x.avi").c_str(), OF_WRITE | OF_CREATE, nullptr));

    const std::string path = dir + "\\errors.avi";
    if (AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) != 0)
        return 1;
    AVISTREAMINFOA audio = videoStream(25);
    audio.fccType = streamtypeAUDIO;
    report("audio stream", AVIFileCreateStreamA(file, &stream, &audio));
    AVISTREAMINFOA video = videoStream(25);
    if (AVIFileCreateStreamA(file, &stream, &video) != 0)
        return 1;
    PAVISTREAM second = nullptr;
    report("second stream", AVIFileCreateStreamA(file, &second, &video));

    uint8_t frame[16] = {};
    report("frame before format", AVIStreamWrite(stream, 1, 1, frame, 16, AVIIF_KEYFRAME, nullptr, nullptr));
    BITMAPINFOHEADER compressed = topDown32(2, 2);
    compressed.biCompression = BI_RLE8;
    report("compressed format", AVIStreamSetFormat(stream, 0, &compressed, sizeof compressed));
    BITMAPINFOHEADER format = topDown32(2, 2);
    if (AVIStreamSetFormat(stream, 0, &format, sizeof format) != 0)
        return 1;
    report("position far past the end", AVIStreamWrite(stream, 1 << 24, 1, frame, 16, AVIIF_KEYFRAME, nullptr, nullptr));
    report("two samples at once", AVIStreamWrite(stream, 1, 2, frame, 16, AVIIF_KEYFRAME, nullptr, nullptr));
    report("good frame", AVIStreamWrite(stream, 1, 1, frame, 16, AVIIF_KEYFRAME, nullptr, nullptr));
    std::printf("stream release: %lu\n", static_cast<unsigned long>(AVIStreamRelease(stream)));
    std::printf("file release: %lu\n", static_cast<unsigned long>(AVIFileRelease(file)));
    AVIFileExit();
    report("open after exit", AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr));
    return 0;
}

// Reservation stays off here when the system cannot set blocks aside, as under Wine.
int sweep(const std::string& dir, const std::string& kind)
{
    avi::FaultPlan plan;
    const uint64_t calls = recordWithFaults(dir + "\\sweep-0.avi", plan, AfterFailure::CarryOn).calls;
    std::printf("calls: %llu\n", static_cast<unsigned long long>(calls));
    plan.kind = kind == "full" ? avi::FaultPlan::Kind::DiskFull : avi::FaultPlan::Kind::Once;
    plan.code = kind == "full" ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    for (plan.at = 1; plan.at <= calls; ++plan.at) {
        const std::string path = dir + "\\sweep-" + std::to_string(plan.at) + ".avi";
        const FaultedRecording recording = recordWithFaults(path, plan, AfterFailure::CarryOn);
        std::string written = std::to_string(recording.written.size());
        for (int64_t position : recording.written)
            written += " " + std::to_string(position);
        std::printf("run %llu: %s\n", static_cast<unsigned long long>(plan.at), written.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int result = 2;
    if (argc == 7 && std::strcmp(argv[1], "segments") == 0)
        result = segments(argv[2], std::strtoull(argv[3], nullptr, 10), std::atoi(argv[4]), std::atoi(argv[5]),
                          std::atoi(argv[6]));
    else if (argc == 3 && std::strcmp(argv[1], "errors") == 0)
        result = errors(argv[2]);
    else if (argc == 4 && std::strcmp(argv[1], "sweep") == 0)
        result = sweep(argv[2], argv[3]);
    else
        std::fputs("usage: writer_probe segments OUT SEGMENT_BYTES FRAMES WIDTH HEIGHT | errors DIR | sweep DIR once|full\n",
                   stderr);
    std::printf("done\n");
    return result;
}
