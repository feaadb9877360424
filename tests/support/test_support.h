// What the tests share: scratch directories, captured message boxes and
// the paths of the built programs.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CapturedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Answers every message box with IDOK and keeps what it showed, while alive.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<CapturedBox> boxes() const;
    void clear();

private:
    static int record(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    std::vector<CapturedBox> boxes_;
};

// The built plug-in and stand-in host.
std::string pluginPath();
std::string hostPath();

// Records to `path` with the stand-in host through the plug-in's dialog on
// the virtual clock; `options` are apehost's own (size, rates, length,
// RAW). Gives the frames the status text counted, or -1 when the host
// failed; `output` gets what it printed.
int recordWithStandInHost(const std::string& path, const std::string& options, std::string* output = nullptr);

long long fileSize(const std::string& path);
bool fileExists(const std::string& path);
