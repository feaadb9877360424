#include "tests/support/test_support.h"

#include "platform/native/native_host.h"
#include "tests/support/media_probe.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace {
std::mutex boxLock;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/avi-output-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir()
{
    if (path_ != "/tmp")
        std::system(("rm -rf '" + path_ + "'").c_str());
}

MessageBoxRecorder::MessageBoxRecorder() { NativeSetMessageBoxSink(record, this); }

MessageBoxRecorder::~MessageBoxRecorder() { NativeSetMessageBoxSink(nullptr, nullptr); }

int MessageBoxRecorder::record(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::lock_guard<std::mutex> guard(boxLock);
    static_cast<MessageBoxRecorder*>(context)->boxes_.push_back({owner, text, caption, type});
    return IDOK;
}

std::vector<CapturedBox> MessageBoxRecorder::boxes() const
{
    std::lock_guard<std::mutex> guard(boxLock);
    return boxes_;
}

void MessageBoxRecorder::clear()
{
    std::lock_guard<std::mutex> guard(boxLock);
    boxes_.clear();
}

std::string pluginPath() { return AVI_OUTPUT_APE; }
std::string hostPath() { return AVI_OUTPUT_APEHOST; }

int recordWithStandInHost(const std::string& path, const std::string& options, std::string* output)
{
    std::string printed;
    const int status = runCommand(shellQuote(hostPath()) + " record " + shellQuote(pluginPath()) + " --out " +
                                      shellQuote(path) + " --virtual-clock " + options + " 2>&1",
                                  &printed);
    if (output)
        *output = printed;
    const size_t counted = printed.find("status: ");
    if (status != 0 || counted == std::string::npos)
        return -1;
    return std::atoi(printed.c_str() + counted + 8);
}

long long fileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool fileExists(const std::string& path) { return fileSize(path) >= 0; }
