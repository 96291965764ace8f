// Times appends of 1,000-byte chunks to the Linux program's output pane as it fills from empty
// to its limit and then keeps making room, each append followed by the repaint it causes.
// Prints CSV: append number, pane size before it, microseconds.
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/pane_primitives.h"
#include "shell/qt/terminal_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    TerminalWindow window;
    window.show();
    application.processEvents();

    // Ten lines of 98 characters and CR LF: what a chatty device sends in one tick.
    std::string chunk;
    for (int line = 0; line < 10; ++line) {
        chunk += std::string(98, static_cast<char>('a' + line)) + "\r\n";
    }
    const int appends = argc > 1 ? std::atoi(argv[1]) : 3000;
    std::printf("append,pane_bytes,microseconds\n");
    for (int i = 0; i < appends; ++i) {
        const std::size_t before = PaneLength();
        const auto begin = std::chrono::steady_clock::now();
        AppendOutput(chunk.c_str());
        application.processEvents();
        const auto end = std::chrono::steady_clock::now();
        std::printf("%d,%zu,%.1f\n", i, before,
                    std::chrono::duration<double, std::micro>(end - begin).count());
    }
    return 0;
}
