// Writing N frames to a file: our writer through the AVIFile calls the
// recording makes, against plain write() of the same bytes (the limit) and
// ffmpeg's AVI muxer given the same frames.
#include "bench/bench.h"
#include "platform/native/native_host.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

struct FrameForm {
    const char* name;
    bool raw;
};

constexpr FrameForm kForms[] = {{"24bit", false}, {"raw", true}};

size_t frameBytes(const FrameSize& size, bool raw)
{
    return raw ? static_cast<size_t>(size.width) * size.height * 4 : standardStride(size.width) * size.height;
}

void fail(const char* what) { throw std::runtime_error(what); }

void writeWithWrite(const std::string& path, const uint8_t* frame, size_t bytes, int frames)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        fail("open");
    for (int i = 0; i < frames; ++i) {
        for (size_t done = 0; done < bytes;) {
            const ssize_t written = ::write(fd, frame + done, bytes - done);
            if (written <= 0)
                fail("write");
            done += static_cast<size_t>(written);
        }
    }
    ::close(fd);
}

void writeWithOurWriter(const std::string& path, const FrameSize& size, bool raw, const uint8_t* frame, size_t bytes,
                        int frames)
{
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) != 0)
        fail("AVIFileOpenA");
    AVISTREAMINFOA info {};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwQuality = 0xFFFFFFFFu;
    if (AVIFileCreateStreamA(file, &stream, &info) != 0)
        fail("AVIFileCreateStreamA");
    BITMAPINFOHEADER format {};
    format.biSize = sizeof format;
    format.biWidth = size.width;
    format.biHeight = raw ? -size.height : size.height;
    format.biPlanes = 1;
    format.biBitCount = raw ? 32 : 24;
    format.biSizeImage = static_cast<DWORD>(bytes);
    if (AVIStreamSetFormat(stream, 0, &format, sizeof format) != 0)
        fail("AVIStreamSetFormat");
    for (int i = 0; i < frames; ++i) {
        LONG samples = 0;
        LONG written = 0;
        if (AVIStreamWrite(stream, i, 1, const_cast<uint8_t*>(frame), static_cast<LONG>(bytes), AVIIF_KEYFRAME, &samples,
                           &written) != 0)
            fail("AVIStreamWrite");
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

void writeWithFfmpeg(const std::string& path, const FrameSize& size, bool raw, const uint8_t* frame, size_t bytes,
                     int frames)
{
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "avi", path.c_str()) < 0)
        fail("avformat_alloc_output_context2");
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream)
        fail("avformat_new_stream");
    stream->time_base = AVRational {1, 25};
    AVCodecParameters* parameters = stream->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
    parameters->format = raw ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
    parameters->bits_per_coded_sample = raw ? 32 : 24;
    parameters->width = size.width;
    parameters->height = size.height;
    if (avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        fail("avio_open");
    if (avformat_write_header(context, nullptr) < 0)
        fail("avformat_write_header");
    AVPacket* packet = av_packet_alloc();
    for (int i = 0; i < frames; ++i) {
        packet->data = const_cast<uint8_t*>(frame);
        packet->size = static_cast<int>(bytes);
        packet->pts = packet->dts = i;
        packet->stream_index = 0;
        packet->flags = AV_PKT_FLAG_KEY;
        const int result = av_write_frame(context, packet);
        if (result < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(result, text, sizeof text);
            throw std::runtime_error(std::string("av_write_frame: ") + text);
        }
    }
    if (av_write_trailer(context) < 0)
        fail("av_write_trailer");
    av_packet_free(&packet);
    avio_closep(&context->pb);
    avformat_free_context(context);
}

enum class Writer { Write, Ours, Ffmpeg };

const char* writerName(Writer writer)
{
    switch (writer) {
    case Writer::Write:
        return "write";
    case Writer::Ours:
        return "ours";
    case Writer::Ffmpeg:
        return "ffmpeg";
    }
    return "?";
}

} // namespace

void registerWriterBenchmarks()
{
    av_log_set_level(AV_LOG_WARNING);
    for (const FrameForm& form : kForms) {
        for (const FrameSize& size : frameSizes()) {
            for (Writer writer : {Writer::Ours, Writer::Write, Writer::Ffmpeg}) {
                const std::string name = std::string("write/") + writerName(writer) + "/" + form.name + "/" + size.name();
                registered(name, [=](benchmark::State& state) {
                    const int frames = benchSettings().framesPerFile;
                    const size_t bytes = frameBytes(size, form.raw);
                    FrameBuffer frame(bytes, 3);
                    const std::string path = benchSettings().directory + "/bench-" + writerName(writer) + ".avi";
                    AVIFileInit();
                    try {
                        for (auto _ : state) {
                            state.PauseTiming();
                            ::unlink(path.c_str());
                            state.ResumeTiming();
                            switch (writer) {
                            case Writer::Write:
                                writeWithWrite(path, frame.data(), bytes, frames);
                                break;
                            case Writer::Ours:
                                writeWithOurWriter(path, size, form.raw, frame.data(), bytes, frames);
                                break;
                            case Writer::Ffmpeg:
                                writeWithFfmpeg(path, size, form.raw, frame.data(), bytes, frames);
                                break;
                            }
                        }
                    } catch (const std::exception& failure) {
                        state.SkipWithError(failure.what());
                    }
                    AVIFileExit();
                    ::unlink(path.c_str());
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes * frames));
                    state.counters["frames"] = frames;
                });
            }
        }
    }
}
