// The Windows program's window and core in a console program, for measurements under wine:
//   win32_bench pane APPENDS          CSV of append number, pane size before it, microseconds
//   win32_bench idle SECONDS [PORT]   CPU seconds used with no port, or with "open PORT" typed
//   win32_bench stream SECONDS PORT   with "open PORT" typed: the longest poll tick, the
//                                     longest time between two, how much of a stream arrived
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/stream_tail.h"
#include "core/pane_primitives.h"
#include "shell/win32/main_window.h"

namespace {

double Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7; // 100 ns units
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Seconds(kernel) + Seconds(user);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int MeasurePane(int appends) {
    // Ten lines of 98 characters and CR LF: what a chatty device sends in one tick.
    std::string chunk;
    for (int line = 0; line < 10; ++line) {
        chunk += std::string(98, static_cast<char>('a' + line)) + "\r\n";
    }
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    std::printf("append,pane_bytes,microseconds\n");
    for (int i = 0; i < appends; ++i) {
        const std::size_t before = PaneLength();
        QueryPerformanceCounter(&begin);
        AppendOutput(chunk.c_str());
        UpdateWindow(OutputPaneHandle());
        PumpMessages();
        QueryPerformanceCounter(&end);
        std::printf("%d,%u,%.1f\n", i, static_cast<unsigned>(before),
                    1e6 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    return 0;
}

void CALLBACK StopRunning(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

void TypeOpen(const char* port) {
    const std::string line = std::string("open ") + port;
    SendMessageA(InputLineHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageA(InputLineHandle(), WM_KEYDOWN, VK_RETURN, 0);
}

int MeasureIdle(int seconds, const char* port) {
    if (port != nullptr) {
        TypeOpen(port);
    }
    const double cpuAtStart = CpuSeconds();
    const DWORD start = GetTickCount();
    SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000u, StopRunning);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    std::printf("elapsed_s=%.3f\ncpu_s=%.3f\nport_open=%d\n", (GetTickCount() - start) / 1000.0,
                CpuSeconds() - cpuAtStart, PaneLength() > 0 && port != nullptr ? 1 : 0);
    return 0;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to,
                    const LARGE_INTEGER& frequency) {
    return 1e3 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Runs the message loop itself so that it can time every poll tick: the main window's
// WM_TIMER, whose handling is the tick.
int MeasureStream(int seconds, const char* port) {
    TypeOpen(port);
    SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000u, StopRunning);
    LARGE_INTEGER frequency, begin, end, last{};
    QueryPerformanceFrequency(&frequency);
    int ticks = 0;
    double longestTick = 0, longestGap = 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        const bool tick = message.message == WM_TIMER && message.hwnd == MainWindowHandle();
        QueryPerformanceCounter(&begin);
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (!tick) {
            continue;
        }
        QueryPerformanceCounter(&end);
        if (ticks++ > 0) {
            longestGap = std::max(longestGap, Milliseconds(last, begin, frequency));
        }
        last = begin;
        longestTick = std::max(longestTick, Milliseconds(begin, end, frequency));
    }
    std::printf("ticks=%d\nmax_tick_gap_ms=%.1f\nlongest_tick_ms=%.1f\npane_bytes=%u\n"
                "last_stream_line=%ld\n",
                ticks, longestGap, longestTick, static_cast<unsigned>(PaneLength()),
                LastStreamLine());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if ((mode != "pane" && mode != "idle" && mode != "stream") || argc < 3 ||
        (mode == "stream" && argc < 4) || !RegisterMainClass(instance)) {
        std::fprintf(
            stderr,
            "usage: win32_bench pane APPENDS | idle SECONDS [PORT] | stream SECONDS PORT\n");
        return 2;
    }
    CreateMainWindows(instance);
    PumpMessages();
    if (mode == "pane") {
        return MeasurePane(std::atoi(argv[2]));
    }
    if (mode == "stream") {
        return MeasureStream(std::atoi(argv[2]), argv[3]);
    }
    return MeasureIdle(std::atoi(argv[2]), argc > 3 ? argv[3] : nullptr);
}
