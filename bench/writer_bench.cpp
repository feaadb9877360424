// Writing frames to a file: our writer through the AVIFile calls the
// recording makes, against plain write() of the same bytes (the limit) and
// ffmpeg's AVI muxer given the same frames. Per frame into an open file,
// and per whole file of a few frames (opening and closing included).
#include "bench/bench.h"
#include "platform/native/native_host.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace {

struct FrameForm {
    const char* name;
    bool raw;
};

constexpr FrameForm kForms[] = {{"24bit", false}, {"raw", true}};

// Each stream takes a few seconds, most of it waiting; five say enough.
constexpr int kStreamRepetitions = 5;

void fail(const char* what) { throw std::runtime_error(what); }

// One file being written, frame by frame, by one of the writers.
class Session {
public:
    virtual ~Session() = default;
    virtual void open(const std::string& path, const FrameSize& size, bool raw, size_t bytes) = 0;
    virtual void write(int position, const uint8_t* frame, size_t bytes) = 0;
    virtual void close() = 0;
};

// write() of each frame's bytes. With `preallocate`, the file's blocks are
// set aside when it opens, as our writer does ahead of its frames, which
// makes the page cache's work per write cheaper on ext4.
class PlainWrite : public Session {
public:
    explicit PlainWrite(bool preallocate, int framesPerFile)
        : preallocate_(preallocate)
        , framesPerFile_(framesPerFile)
    {
    }
    void open(const std::string& path, const FrameSize&, bool, size_t bytes) override
    {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            fail("open");
        if (preallocate_ && ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes * framesPerFile_)) != 0)
            fail("fallocate");
    }
    void write(int, const uint8_t* frame, size_t bytes) override
    {
        for (size_t done = 0; done < bytes;) {
            const ssize_t written = ::write(fd_, frame + done, bytes - done);
            if (written <= 0)
                fail("write");
            done += static_cast<size_t>(written);
        }
    }
    void close() override
    {
        ::close(fd_);
        fd_ = -1;
    }

private:
    bool preallocate_;
    int framesPerFile_;
    int fd_ = -1;
};

// Each frame behind its 8-byte chunk header, as our writer lays it out,
// with pwritev into a file whose blocks were set aside first: in one call,
// or in calls that each end on a multiple of `piece` bytes of the file.
class PwritevFrames : public Session {
public:
    PwritevFrames(size_t piece, int framesPerFile)
        : piece_(piece)
        , framesPerFile_(framesPerFile)
    {
    }
    void open(const std::string& path, const FrameSize&, bool, size_t bytes) override
    {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            fail("open");
        if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>((bytes + 8) * framesPerFile_)) != 0)
            fail("fallocate");
        end_ = 0;
    }
    void write(int, const uint8_t* frame, size_t bytes) override
    {
        const uint32_t header[2] = {0x62643030u, static_cast<uint32_t>(bytes)}; // "00db", size
        const size_t total = sizeof header + bytes;
        for (size_t from = 0; from < total;) {
            size_t to = total;
            if (piece_)
                to = std::min<size_t>(total, from + piece_ - (end_ % piece_));
            iovec parts[2];
            int count = 0;
            if (from < sizeof header)
                parts[count++] = {reinterpret_cast<char*>(const_cast<uint32_t*>(header)) + from,
                                  std::min(to, sizeof header) - from};
            if (to > sizeof header) {
                const size_t frameFrom = std::max(from, sizeof header) - sizeof header;
                parts[count++] = {const_cast<uint8_t*>(frame) + frameFrom, to - sizeof header - frameFrom};
            }
            const ssize_t written = ::pwritev(fd_, parts, count, static_cast<off_t>(end_));
            if (written <= 0)
                fail("pwritev");
            from += static_cast<size_t>(written);
            end_ += static_cast<uint64_t>(written);
        }
    }
    void close() override
    {
        ::close(fd_);
        fd_ = -1;
    }

private:
    size_t piece_;
    int framesPerFile_;
    int fd_ = -1;
    uint64_t end_ = 0;
};

// Through the AVIFile calls, as the recording makes them.
class OurWriter : public Session {
public:
    void open(const std::string& path, const FrameSize& size, bool raw, size_t bytes) override
    {
        if (AVIFileOpenA(&file_, path.c_str(), OF_WRITE | OF_CREATE, nullptr) != 0)
            fail("AVIFileOpenA");
        AVISTREAMINFOA info {};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwQuality = 0xFFFFFFFFu;
        if (AVIFileCreateStreamA(file_, &stream_, &info) != 0)
            fail("AVIFileCreateStreamA");
        BITMAPINFOHEADER format {};
        format.biSize = sizeof format;
        format.biWidth = size.width;
        format.biHeight = raw ? -size.height : size.height;
        format.biPlanes = 1;
        format.biBitCount = raw ? 32 : 24;
        format.biSizeImage = static_cast<DWORD>(bytes);
        if (AVIStreamSetFormat(stream_, 0, &format, sizeof format) != 0)
            fail("AVIStreamSetFormat");
    }
    void write(int position, const uint8_t* frame, size_t bytes) override
    {
        LONG samples = 0;
        LONG written = 0;
        if (AVIStreamWrite(stream_, position, 1, const_cast<uint8_t*>(frame), static_cast<LONG>(bytes), AVIIF_KEYFRAME,
                           &samples, &written) != 0)
            fail("AVIStreamWrite");
    }
    void close() override
    {
        AVIStreamRelease(stream_);
        AVIFileRelease(file_);
        stream_ = nullptr;
        file_ = nullptr;
    }

private:
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
};

// libavformat's AVI muxer with its default I/O.
class FfmpegMuxer : public Session {
public:
    void open(const std::string& path, const FrameSize& size, bool raw, size_t) override
    {
        if (avformat_alloc_output_context2(&context_, nullptr, "avi", path.c_str()) < 0)
            fail("avformat_alloc_output_context2");
        AVStream* stream = avformat_new_stream(context_, nullptr);
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
        if (avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
            fail("avio_open");
        if (avformat_write_header(context_, nullptr) < 0)
            fail("avformat_write_header");
        packet_ = av_packet_alloc();
    }
    void write(int position, const uint8_t* frame, size_t bytes) override
    {
        packet_->data = const_cast<uint8_t*>(frame);
        packet_->size = static_cast<int>(bytes);
        packet_->pts = packet_->dts = position;
        packet_->stream_index = 0;
        packet_->flags = AV_PKT_FLAG_KEY;
        if (av_write_frame(context_, packet_) < 0)
            fail("av_write_frame");
    }
    void close() override
    {
        if (av_write_trailer(context_) < 0)
            fail("av_write_trailer");
        av_packet_free(&packet_);
        avio_closep(&context_->pb);
        avformat_free_context(context_);
        context_ = nullptr;
    }

private:
    AVFormatContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
};

enum class Writer { Write, WritePreallocated, Ours, Ffmpeg };

const char* writerName(Writer writer)
{
    switch (writer) {
    case Writer::Write:
        return "write";
    case Writer::WritePreallocated:
        return "write-prealloc";
    case Writer::Ours:
        return "ours";
    case Writer::Ffmpeg:
        return "ffmpeg";
    }
    return "?";
}

std::unique_ptr<Session> makeSession(Writer writer, int framesPerFile)
{
    switch (writer) {
    case Writer::Write:
        return std::make_unique<PlainWrite>(false, framesPerFile);
    case Writer::WritePreallocated:
        return std::make_unique<PlainWrite>(true, framesPerFile);
    case Writer::Ours:
        return std::make_unique<OurWriter>();
    case Writer::Ffmpeg:
        return std::make_unique<FfmpegMuxer>();
    }
    return nullptr;
}

enum class Mode {
    PerFrame,  // one frame per iteration into files of framesPerFile() frames
    WholeFile, // opening, a few frames and closing per iteration
    Stream,    // one frame per iteration, all into one new file
};

// Frames in one stream: enough to outlast what the page cache keeps at
// hand, few enough (512 MB) to stay below the dirty limits.
int streamFrames(size_t frameBytes)
{
    if (benchSettings().smoke)
        return 2;
    return static_cast<int>(std::max<size_t>(8, (size_t(512) << 20) / frameBytes));
}

void benchmarkSession(benchmark::State& state, const std::function<std::unique_ptr<Session>(int)>& makeSession,
                      const std::string& name, const FrameSize& size, const FrameForm& form, Mode mode)
{
    const size_t bytes = writtenBytes(size, form.raw);
    FrameBuffer frame(bytes, 3);
    const std::string path = benchSettings().directory + "/bench-" + name + ".avi";
    const int perFile = mode == Mode::WholeFile ? benchSettings().framesPerWholeFile
                        : mode == Mode::Stream  ? streamFrames(bytes)
                                                : framesPerFile(bytes);
    std::unique_ptr<Session> session = makeSession(perFile);
    AVIFileInit();
    ::unlink(path.c_str());
    try {
        if (mode == Mode::WholeFile) {
            for (auto _ : state) {
                state.PauseTiming();
                ::unlink(path.c_str());
                state.ResumeTiming();
                session->open(path, size, form.raw, bytes);
                for (int i = 0; i < perFile; ++i)
                    session->write(i, frame.data(), bytes);
                session->close();
            }
        } else if (mode == Mode::Stream) {
            // Memory the last stream freed would be taken again at once; a VM
            // that returns freed memory to its host has done so by now, and
            // the page cache has to take memory afresh, as in a long recording.
            if (!benchSettings().smoke)
                std::this_thread::sleep_for(std::chrono::seconds(2));
            session->open(path, size, form.raw, bytes);
            int position = 0;
            for (auto _ : state)
                session->write(position++, frame.data(), bytes);
            session->close();
        } else {
            session->open(path, size, form.raw, bytes);
            int inFile = 0;
            for (auto _ : state) {
                if (inFile == perFile) {
                    state.PauseTiming();
                    session->close();
                    ::unlink(path.c_str());
                    session->open(path, size, form.raw, bytes);
                    inFile = 0;
                    state.ResumeTiming();
                }
                session->write(inFile++, frame.data(), bytes);
            }
            session->close();
        }
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
    }
    AVIFileExit();
    ::unlink(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes * (mode == Mode::WholeFile ? perFile : 1)));
}

void benchmarkWriter(benchmark::State& state, Writer writer, const FrameSize& size, const FrameForm& form, Mode mode)
{
    benchmarkSession(
        state, [writer](int perFile) { return makeSession(writer, perFile); }, writerName(writer), size, form, mode);
}

// Streams of large frames: one pwritev per frame against pieces of the
// sizes ffmpeg and others use, and our writer and ffmpeg's muxer alike.
void registerStreamBenchmarks()
{
    for (const FrameForm& form : kForms) {
        for (const FrameSize& size : frameSizes()) {
            if (size.width < 1920)
                continue;
            const int frames = streamFrames(writtenBytes(size, form.raw));
            const std::string suffix = std::string("/") + form.name + "/" + size.name();
            std::vector<std::pair<std::string, std::function<void(benchmark::State&)>>> bodies;
            for (const WritePiece& piece : writePieces()) {
                bodies.push_back({std::string("pwritev-") + piece.name, [=](benchmark::State& state) {
                                      benchmarkSession(
                                          state,
                                          [&](int perFile) {
                                              return std::make_unique<PwritevFrames>(piece.bytes, perFile);
                                          },
                                          std::string("stream-") + piece.name, size, form, Mode::Stream);
                                  }});
            }
            for (Writer writer : {Writer::Ours, Writer::Ffmpeg}) {
                bodies.push_back({writerName(writer), [=](benchmark::State& state) {
                                      benchmarkWriter(state, writer, size, form, Mode::Stream);
                                  }});
            }
            for (auto& [name, body] : bodies) {
                auto* bench = registered("stream/" + name + suffix, body);
                if (!benchSettings().smoke)
                    bench->Iterations(frames)->Repetitions(kStreamRepetitions);
            }
        }
    }
}

} // namespace

const std::vector<WritePiece>& writePieces()
{
    static const std::vector<WritePiece> pieces = {
        {"whole", 0},           {"256k", size_t(256) << 10}, {"512k", size_t(512) << 10},
        {"1m", size_t(1) << 20}, {"2m", size_t(2) << 20},     {"4m", size_t(4) << 20}};
    return pieces;
}

void registerWriterBenchmarks()
{
    av_log_set_level(AV_LOG_ERROR);
    for (const FrameForm& form : kForms) {
        for (const FrameSize& size : frameSizes()) {
            for (Writer writer : {Writer::Ours, Writer::Write, Writer::WritePreallocated, Writer::Ffmpeg}) {
                const std::string suffix = std::string(writerName(writer)) + "/" + form.name + "/" + size.name();
                registeredWarm("write/" + suffix, [=](benchmark::State& state) {
                    benchmarkWriter(state, writer, size, form, Mode::PerFrame);
                });
                registeredWarm("file/" + suffix, [=](benchmark::State& state) {
                    benchmarkWriter(state, writer, size, form, Mode::WholeFile);
                });
            }
        }
    }
    registerStreamBenchmarks();
}
