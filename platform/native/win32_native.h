// The Win32 subset the plug-in calls, as our native layer provides it.
// Sizes and values follow the Windows headers so that records written to
// files (BITMAPINFOHEADER, AVISTREAMINFOA) have the same bytes on both targets.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WIN32_NATIVE_API extern "C" __attribute__((visibility("default")))
#define APE_EXPORT extern "C" __attribute__((visibility("default")))
#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int32_t HRESULT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HLOCAL;
typedef void* HANDLE;
typedef WORD ATOM;
typedef void (*FARPROC)();

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HMENU__;
typedef HMENU__* HMENU;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct _GUID;
typedef const _GUID* LPCLSID;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
#define LOWORD(l) (static_cast<WORD>(static_cast<uintptr_t>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<uintptr_t>(l) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>((static_cast<DWORD>(static_cast<WORD>(l))) | (static_cast<DWORD>(static_cast<WORD>(h)) << 16)))
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01

// Messages and notifications.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
#define BN_CLICKED 0
#define EN_CHANGE 0x0300
#define BST_UNCHECKED 0
#define BST_CHECKED 1

// Window, dialog and control styles.
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_SETFONT 0x40L
#define ES_AUTOHSCROLL 0x0080L
#define BS_PUSHBUTTON 0x00000000L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_TYPEMASK 0x0000000FL
#define SS_LEFT 0x00000000L
#define GWL_STYLE (-16)
#define GW_HWNDNEXT 2
#define GW_CHILD 5

// Message queues and timers.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

// Message boxes.
#define MB_OK 0x00000000L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1

// Files and AVI.
#define OF_WRITE 0x00000001
#define OF_CREATE 0x00001000
#define AVIIF_KEYFRAME 0x00000010L
#define mmioFOURCC(a, b, c, d) \
    (static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) | \
     (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24))
#define streamtypeVIDEO mmioFOURCC('v', 'i', 'd', 's')
#define BI_RGB 0L
#define AVIERR_OK 0

// Error texts.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define ERROR_SUCCESS 0
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_CLASS_DOES_NOT_EXIST 1411
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CONTROL_ID_NOT_FOUND 1421
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814

// Waiting.
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFF

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140, "AVISTREAMINFOA is 140 bytes");

// Handles of our own AVIFile (platform/avi/avifile_core.h).
namespace avifile {
struct File;
struct Stream;
} // namespace avifile
typedef avifile::File* PAVIFILE;
typedef avifile::Stream* PAVISTREAM;

// AVIFile (AVIFIL32).
WIN32_NATIVE_API void AVIFileInit();
WIN32_NATIVE_API void AVIFileExit();
WIN32_NATIVE_API HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID handler);
WIN32_NATIVE_API HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info);
WIN32_NATIVE_API HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize);
WIN32_NATIVE_API HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize,
                                        DWORD flags, LONG* samplesWritten, LONG* bytesWritten);
WIN32_NATIVE_API ULONG AVIStreamRelease(PAVISTREAM stream);
// Ours, not AVIFile's: patches the file's header when frames have come
// since the last patch and it is due, so a caller with no frame to write
// keeps the header describing what it wrote.
WIN32_NATIVE_API HRESULT AviStreamKeepCurrent(PAVISTREAM stream);
WIN32_NATIVE_API ULONG AVIFileRelease(PAVIFILE file);

// Multimedia timer (WINMM).
WIN32_NATIVE_API DWORD timeGetTime();

// Kernel (KERNEL32).
WIN32_NATIVE_API HMODULE LoadLibraryA(LPCSTR path);
WIN32_NATIVE_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
WIN32_NATIVE_API BOOL FreeLibrary(HMODULE module);
WIN32_NATIVE_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
WIN32_NATIVE_API DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                                      DWORD size, va_list* arguments);
WIN32_NATIVE_API HLOCAL LocalFree(HLOCAL memory);
WIN32_NATIVE_API DWORD GetLastError();
WIN32_NATIVE_API void SetLastError(DWORD error);
WIN32_NATIVE_API void Sleep(DWORD milliseconds);
WIN32_NATIVE_API DWORD GetCurrentThreadId();
WIN32_NATIVE_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
WIN32_NATIVE_API BOOL SetEvent(HANDLE event);
WIN32_NATIVE_API BOOL ResetEvent(HANDLE event);
WIN32_NATIVE_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
WIN32_NATIVE_API BOOL CloseHandle(HANDLE object);
WIN32_NATIVE_API void FlushProcessWriteBuffers();
// Not Win32: FlushProcessWriteBuffers and TRUE, or FALSE while hidden (native_host.h).
WIN32_NATIVE_API BOOL NativeFlushProcessWriteBuffersIfAny();

// User interface (USER32).
WIN32_NATIVE_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
WIN32_NATIVE_API HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                                         LPARAM initParam);
WIN32_NATIVE_API BOOL DestroyWindow(HWND window);
WIN32_NATIVE_API BOOL IsWindow(HWND window);
WIN32_NATIVE_API DWORD GetWindowThreadProcessId(HWND window, LPDWORD process);
WIN32_NATIVE_API HWND GetParent(HWND window);
WIN32_NATIVE_API HWND GetWindow(HWND window, UINT relation);
WIN32_NATIVE_API HWND GetDlgItem(HWND dialog, int id);
WIN32_NATIVE_API int GetDlgCtrlID(HWND control);
WIN32_NATIVE_API int GetClassNameA(HWND window, LPSTR buffer, int size);
WIN32_NATIVE_API LONG GetWindowLongA(HWND window, int index);
WIN32_NATIVE_API BOOL SetWindowTextA(HWND window, LPCSTR text);
WIN32_NATIVE_API int GetWindowTextA(HWND window, LPSTR buffer, int size);
WIN32_NATIVE_API BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
WIN32_NATIVE_API UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
WIN32_NATIVE_API BOOL CheckDlgButton(HWND dialog, int id, UINT check);
WIN32_NATIVE_API UINT IsDlgButtonChecked(HWND dialog, int id);
WIN32_NATIVE_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WIN32_NATIVE_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
WIN32_NATIVE_API ATOM RegisterClassA(const WNDCLASSA* windowClass);
WIN32_NATIVE_API BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
WIN32_NATIVE_API HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                                      int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
WIN32_NATIVE_API LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WIN32_NATIVE_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WIN32_NATIVE_API void PostQuitMessage(int exitCode);
WIN32_NATIVE_API BOOL GetMessageA(MSG* message, HWND window, UINT first, UINT last);
WIN32_NATIVE_API BOOL PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT remove);
WIN32_NATIVE_API BOOL TranslateMessage(const MSG* message);
WIN32_NATIVE_API LRESULT DispatchMessageA(const MSG* message);
WIN32_NATIVE_API UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc);
WIN32_NATIVE_API BOOL KillTimer(HWND window, UINT_PTR id);

#if defined(__i386__) || defined(__x86_64__)
#define YieldProcessor() __builtin_ia32_pause()
#else
#define YieldProcessor() ((void)0)
#endif

namespace platform {
constexpr bool isPathSeparator(char c) { return c == '/'; }
// The largest file the AVIFile in use can write: ours has no limit.
constexpr int64_t kLargestAviFile = INT64_MAX;
// Our layer has FlushProcessWriteBuffers, unless a test hides it
// (NativeHideProcessBarrier) to take the path of systems without one.
inline bool flushProcessWriteBuffers() { return NativeFlushProcessWriteBuffersIfAny() != FALSE; }
} // namespace platform
