// What a test written once for both targets needs: built over the native
// layer as one of its tests, and with mingw as a Windows program that runs
// under Wine against the real USER32. Plain C++ and small check macros,
// so the cross build needs nothing more. Where the two targets differ,
// this file does each its own way:
// - threads: std::thread natively; CreateThread on Windows (mingw's win32
//   thread model has no std::thread);
// - error boxes: the native layer's sink answers them; on Windows a
//   watcher thread finds them by their caption and presses OK.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/native/native_host.h"

#include <thread>
#endif

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

namespace both {

inline int failures = 0;

inline void check(bool holds, const char* what, const char* file, int line)
{
    if (!holds) {
        std::fprintf(stderr, "%s:%d: does not hold: %s\n", file, line, what);
        ++failures;
    }
}
#define CHECK(condition) both::check((condition), #condition, __FILE__, __LINE__)

// A check that says what it saw, as Wine's ok() does: the format and its
// arguments are printed when `holds` is false.
#ifdef _WIN32
__attribute__((format(__MINGW_PRINTF_FORMAT, 5, 6)))
#else
__attribute__((format(printf, 5, 6)))
#endif
inline void checkSaying(bool holds, const char* what, const char* file, int line, const char* format, ...)
{
    if (holds)
        return;
    std::fprintf(stderr, "%s:%d: does not hold: %s: ", file, line, what);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "\n");
    ++failures;
}
#define CHECK_MSG(condition, ...) both::checkSaying((condition), #condition, __FILE__, __LINE__, __VA_ARGS__)

// A value as a failed check prints it.
template <typename T>
std::string shown(const T& value)
{
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_same_v<T, char>) {
        return std::string("'") + value + "'";
    } else if constexpr (std::is_enum_v<T>) {
        return shown(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else if constexpr (std::is_integral_v<T>) {
        return std::to_string(static_cast<unsigned long long>(value));
    } else if constexpr (std::is_null_pointer_v<T>) {
        return "null";
    } else if constexpr (std::is_convertible_v<T, std::string>) {
        return '"' + std::string(value) + '"';
    } else if constexpr (std::is_pointer_v<T>) {
        char text[32];
        std::snprintf(text, sizeof text, "%p", static_cast<const void*>(value));
        return text;
    } else {
        return shown(value.load()); // an atomic
    }
}

// Equal, without the sign of one side changing the other's value.
template <typename A, typename B>
bool same(const A& a, const B& b)
{
    if constexpr (std::is_integral_v<A> && std::is_integral_v<B> && std::is_signed_v<A> != std::is_signed_v<B>) {
        if constexpr (std::is_signed_v<A>)
            return a >= 0 && static_cast<std::make_unsigned_t<A>>(a) == b;
        else
            return b >= 0 && a == static_cast<std::make_unsigned_t<B>>(b);
    } else {
        return a == b;
    }
}

// Where the native model and the real USER32 are known to give different
// results, and why that difference is accepted: a check expects the one of
// the target it runs on, as Wine's tests mark a known result broken().
template <typename T>
struct KnownToDiffer {
    T value;
    const char* why;
};
template <typename T>
KnownToDiffer<T> nativeOrWindows(T native, T windows, const char* why)
{
#ifdef _WIN32
    (void)native;
    return {windows, why};
#else
    (void)windows;
    return {native, why};
#endif
}

template <typename Expected, typename Actual>
void checkEqual(const Expected& expected, const Actual& actual, const char* what, const char* file, int line)
{
    if (!same(expected, actual)) {
        std::fprintf(stderr, "%s:%d: %s: expected %s, got %s\n", file, line, what, shown(expected).c_str(),
                     shown(actual).c_str());
        ++failures;
    }
}
template <typename T, typename Actual>
void checkEqual(const KnownToDiffer<T>& expected, const Actual& actual, const char* what, const char* file, int line)
{
    if (!same(expected.value, actual)) {
        std::fprintf(stderr, "%s:%d: %s: expected %s on this target (known to differ: %s), got %s\n", file, line, what,
                     shown(expected.value).c_str(), expected.why, shown(actual).c_str());
        ++failures;
    }
}
// Prints both values when they differ; `expected` may be nativeOrWindows(...).
#define CHECK_EQ(expected, actual) both::checkEqual((expected), (actual), #actual, __FILE__, __LINE__)

// Runs one case, saying which, so that a case that hangs is named.
inline void run(const char* name, void (*body)())
{
    std::fprintf(stderr, "%s\n", name);
    body();
}

// Runs `body` on a thread of its own until join().
class Thread {
public:
    explicit Thread(std::function<void()> body)
        : body_(std::move(body))
#ifdef _WIN32
        , handle_(CreateThread(nullptr, 0, run, this, 0, nullptr))
#else
        , thread_([this] { body_(); })
#endif
    {
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    void join()
    {
#ifdef _WIN32
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
#else
        thread_.join();
#endif
    }

private:
    std::function<void()> body_;
#ifdef _WIN32
    static DWORD WINAPI run(LPVOID self)
    {
        static_cast<Thread*>(self)->body_();
        return 0;
    }
    HANDLE handle_;
#else
    std::thread thread_;
#endif
};

// Until `done` holds or `milliseconds` pass; whether it held.
inline bool waitUntil(const std::function<bool()>& done, DWORD milliseconds)
{
    for (DWORD waited = 0; !done(); ++waited) {
        if (waited >= milliseconds)
            return false;
        Sleep(1);
    }
    return true;
}

// A host's top-level window: the parent of the dialogs made on its
// thread, as a host's is. kRun runs the function its lParam points to,
// kReached sets the flag it points to, and a WM_CLOSE destroys the window
// and ends the thread's loop.
constexpr UINT kRun = WM_APP + 100;
constexpr UINT kReached = WM_APP + 101;
inline LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRun) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    if (message == kReached) {
        reinterpret_cast<std::atomic<bool>*>(lParam)->store(true);
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
inline HWND makeHostWindow()
{
    static constexpr char kClassName[] = "BothTargetsHost";
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = hostProcedure;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass); // fails harmlessly once registered
    return CreateWindowExA(0, kClassName, "host", 0, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
}

// A host's window thread: it takes its messages until it is closed and
// does what it is handed between them, as a host's window thread does what
// the user asks. Windows made there are its own, so another thread's sends
// to them wait until this loop takes them, as on Windows.
class WindowThread {
public:
    WindowThread()
        : thread_([this] { loop(); })
    {
        waitUntil([this] { return host_.load() != nullptr; }, INFINITE);
    }
    ~WindowThread()
    {
        PostMessageA(host_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    HWND host() const { return host_; }
    // Runs `work` there and waits until it is done: a send, as a click is.
    void run(const std::function<void()>& work)
    {
        SendMessageA(host_, kRun, 0, reinterpret_cast<LPARAM>(&work));
    }
    // Returns once the thread's loop, or a box's, has taken what was posted
    // to it before. (Taking it from inside a send instead would run the
    // boxes it raises inside the send, which no host does.)
    void settle()
    {
        std::atomic<bool> reached {false};
        PostMessageA(host_, kReached, 0, reinterpret_cast<LPARAM>(&reached));
        waitUntil([&] { return reached.load(); }, INFINITE);
    }

private:
    void loop()
    {
        host_ = makeHostWindow();
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
    }

    std::atomic<HWND> host_ {nullptr};
    Thread thread_;
};

// The error boxes shown, each answered with OK as soon as it is seen.
struct Box {
    std::string text;
    bool owned = false;
    int openFiles = 0; // AVI files not yet finished when it was seen
};

class Boxes {
public:
    using OpenFiles = int (*)();
    explicit Boxes(OpenFiles openFiles);
    ~Boxes();
    Boxes(const Boxes&) = delete;
    Boxes& operator=(const Boxes&) = delete;

    int count() const { return count_.load(); }
    const Box& at(int index) const { return boxes_[index]; }
    void clear() { count_ = 0; }
    // Until `count` boxes were seen, or a second passed.
    bool waitFor(int count) const
    {
        return waitUntil([&] { return count_.load() >= count; }, 1000);
    }

private:
    static constexpr int kMost = 16;
    // Boxes may open on two threads at once.
    void seen(bool owned, const char* text)
    {
        while (recording_.test_and_set(std::memory_order_acquire))
            Sleep(0);
        const int at = count_.load();
        if (at < kMost) {
            boxes_[at].text = text;
            boxes_[at].owned = owned;
            boxes_[at].openFiles = openFiles_();
            count_.store(at + 1);
        }
        recording_.clear(std::memory_order_release);
    }

    OpenFiles openFiles_;
    Box boxes_[kMost];
    std::atomic<int> count_ {0};
    std::atomic_flag recording_ = ATOMIC_FLAG_INIT;
#ifdef _WIN32
    static BOOL CALLBACK visit(HWND window, LPARAM self)
    {
        // Only this process's boxes, and nothing that sends to another
        // thread's window before it is known to be a box: that thread may
        // be the one waiting for this box to be answered.
        DWORD process = 0;
        char className[16] = "";
        char caption[16] = "";
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || !GetClassNameA(window, className, sizeof className) ||
            std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window))
            return TRUE;
        GetWindowTextA(window, caption, sizeof caption);
        if (std::strcmp(caption, "error") != 0)
            return TRUE;
        auto* boxes = reinterpret_cast<Boxes*>(self);
        if (window != boxes->lastSeen_) {
            char text[512] = "";
            GetDlgItemTextA(window, 0xFFFF, text, sizeof text); // a box's text, on Windows and in Wine
            boxes->seen(GetWindow(window, GW_OWNER) != nullptr, text);
            boxes->lastSeen_ = window;
        }
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    void watch()
    {
        while (!stop_.load()) {
            EnumWindows(visit, reinterpret_cast<LPARAM>(this));
            Sleep(2);
        }
    }
    HWND lastSeen_ = nullptr;
    std::atomic<bool> stop_ {false};
    Thread watcher_ {[this] { watch(); }};
#else
    static int answer(void* self, HWND owner, LPCSTR text, LPCSTR caption, UINT)
    {
        if (std::strcmp(caption, "error") == 0)
            static_cast<Boxes*>(self)->seen(owner != nullptr, text);
        return IDOK;
    }
#endif
};

#ifdef _WIN32
inline Boxes::Boxes(OpenFiles openFiles)
    : openFiles_(openFiles)
{
}
inline Boxes::~Boxes()
{
    stop_ = true;
    watcher_.join();
}
#else
inline Boxes::Boxes(OpenFiles openFiles)
    : openFiles_(openFiles)
{
    NativeSetMessageBoxSink(answer, this);
}
inline Boxes::~Boxes() { NativeSetMessageBoxSink(nullptr, nullptr); }
#endif

} // namespace both
