// One AVI file with its one video stream, opened through our AVIFile as
// the recording opens it, for tests that drive the writer's calls.
#pragma once

#include "platform/win32.h"

#include <cstring>
#include <string>
#include <vector>

// A BITMAPINFOHEADER for 24-bit (bottom-up) or 32-bit frames; a negative height is top-down.
inline BITMAPINFOHEADER bitmapFormat(int width, int height, int bits)
{
    BITMAPINFOHEADER format {};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = static_cast<WORD>(bits);
    const int absHeight = height < 0 ? -height : height;
    const int stride = bits == 32 ? width * 4 : (width * 3 + 3) & ~3;
    format.biSizeImage = static_cast<DWORD>(stride * absHeight);
    return format;
}

inline AVISTREAMINFOA videoStream(DWORD rate)
{
    AVISTREAMINFOA info {};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = rate;
    info.dwQuality = 0xFFFFFFFFu;
    std::strcpy(info.szName, "avs capture quorvane");
    return info;
}

// The system's text for an AVIFile error code.
inline std::string errorText(HRESULT code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    return result;
}

// One file with its one video stream, as the recording opens it.
class AviSession {
public:
    AviSession() { AVIFileInit(); }
    ~AviSession()
    {
        release();
        AVIFileExit();
    }

    HRESULT open(const std::string& path, const BITMAPINFOHEADER& format, DWORD rate = 25)
    {
        HRESULT result = AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
        if (result != 0)
            return result;
        AVISTREAMINFOA info = videoStream(rate);
        result = AVIFileCreateStreamA(file, &stream, &info);
        if (result != 0)
            return result;
        BITMAPINFOHEADER copy = format;
        return AVIStreamSetFormat(stream, 0, &copy, sizeof copy);
    }

    HRESULT write(LONG position, const std::vector<uint8_t>& bytes)
    {
        samples = bytesWritten = -1;
        return AVIStreamWrite(stream, position, 1, const_cast<uint8_t*>(bytes.data()), static_cast<LONG>(bytes.size()),
                              AVIIF_KEYFRAME, &samples, &bytesWritten);
    }

    void release()
    {
        if (stream)
            AVIStreamRelease(stream);
        if (file)
            AVIFileRelease(file);
        stream = nullptr;
        file = nullptr;
    }

    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    LONG samples = 0;
    LONG bytesWritten = 0;
};
