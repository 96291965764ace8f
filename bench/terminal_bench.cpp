// Runs the Linux program's window and core as the program does, types lines into it with key
// events, and reports what it cost: CPU, ticks and their spacing, memory, and how long an
// upload took. Output is one "key=value" per line for bench/run.sh.
//
//   terminal_bench [--type LINE]... [--program FILE] [--fast-upload] [--seconds S]
//                  [--until-upload-ends]
//
// --fast-upload makes the choice the pane menu's "Fast upload" makes (the core's FastUploads)
// before "rp!" is typed, as a user ticks it first.
#include <QApplication>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/stream_tail.h"
#include "core/pane_primitives.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "shell/qt/input_line_edit.h"
#include "shell/qt/terminal_window.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == key) {
            long value = 0;
            status >> value;
            return value;
        }
    }
    return 0;
}

struct Options {
    std::vector<std::string> typed;
    std::string program;
    bool fastUpload = false;
    double seconds = 0;
    bool untilUploadEnds = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--type" && hasValue) {
            options.typed.push_back(argv[++i]);
        } else if (option == "--program" && hasValue) {
            options.program = argv[++i];
        } else if (option == "--fast-upload") {
            options.fastUpload = true;
        } else if (option == "--seconds" && hasValue) {
            options.seconds = std::atof(argv[++i]);
        } else if (option == "--until-upload-ends") {
            options.untilUploadEnds = true;
        } else {
            std::fprintf(stderr, "terminal_bench: unknown option %s\n", option.c_str());
            std::exit(2);
        }
    }
    return options;
}

// Runs every poll tick itself, so that it can time the ticks and see what each one did.
class TickWatch : public QObject {
  public:
    TickWatch(const Options& options, Clock::time_point start) : options_(options), start_(start) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A fast upload sends its lines, and ends, from the port's notifier between ticks: its
        // end is seen there, not a tick later.
        if (event->type() == QEvent::SockAct &&
            qobject_cast<QSocketNotifier*>(watched) != nullptr) {
            watched->event(event);
            NoteUploadEnd(Clock::now());
            return true;
        }
        auto* timer = qobject_cast<QTimer*>(watched);
        if (event->type() != QEvent::Timer || timer == nullptr ||
            timer->interval() != PollIntervalMilliseconds) {
            return false;
        }
        const Clock::time_point begin = Clock::now();
        if (ticks_ == 0) {
            firstTick_ = begin;
        } else {
            maxGap_ = std::max(maxGap_, begin - lastTick_);
        }
        lastTick_ = begin;
        ++ticks_;
        timer->event(event);
        const Clock::time_point end = Clock::now();
        longestTick_ = std::max(longestTick_, end - begin);
        NoteUploadEnd(end);
        return true;
    }

    void UploadStarted() {
        uploadStarted_ = true;
        uploadStart_ = Clock::now();
    }

    void Report() const {
        std::printf("ticks=%d\n", ticks_);
        std::printf("first_tick_ms=%.1f\n", Milliseconds(firstTick_ - start_));
        std::printf("max_tick_gap_ms=%.1f\n", Milliseconds(maxGap_));
        std::printf("longest_tick_ms=%.1f\n", Milliseconds(longestTick_));
        if (uploadEnded_) {
            std::printf("upload_s=%.3f\n", Milliseconds(uploadTime_) / 1000.0);
        }
    }

  private:
    void NoteUploadEnd(Clock::time_point now) {
        if (!uploadStarted_ || uploadEnded_ || TerminalSession.Uploading) {
            return;
        }
        uploadEnded_ = true;
        uploadTime_ = now - uploadStart_;
        if (options_.untilUploadEnds) {
            QCoreApplication::quit();
        }
    }

    const Options& options_;
    Clock::time_point start_;
    int ticks_ = 0;
    Clock::time_point firstTick_{};
    Clock::time_point lastTick_{};
    Clock::duration maxGap_{};
    Clock::duration longestTick_{};
    bool uploadStarted_ = false;
    bool uploadEnded_ = false;
    Clock::time_point uploadStart_{};
    Clock::duration uploadTime_{};
};

// Types a line into the input line and presses Enter, as a user would.
void TypeLine(InputLineEdit* input, const std::string& line) {
    input->setText(QString::fromLatin1(line.c_str()));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(input, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(input, &release);
}

} // namespace

int main(int argc, char** argv) {
    const Clock::time_point start = Clock::now();
    const Options options = ParseOptions(argc, argv);
    SetUploadPath(options.program.c_str());
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    TerminalWindow window;
    window.show();
    TickWatch watch(options, start);
    application.installEventFilter(&watch);

    double cpuAtStart = 0;
    QTimer::singleShot(0, [&] {
        for (const std::string& line : options.typed) {
            // Timed from the Enter that starts the upload, which sends its first line.
            if (line == "rp!") {
                TerminalSession.FastUploads = options.fastUpload;
                watch.UploadStarted();
            }
            TypeLine(window.InputLine(), line);
        }
        cpuAtStart = CpuSeconds();
    });
    const Clock::time_point loopStart = Clock::now();
    if (options.seconds > 0) {
        QTimer::singleShot(static_cast<int>(options.seconds * 1000), &application,
                           &QCoreApplication::quit);
    }
    application.exec();

    std::printf("elapsed_s=%.3f\n", Milliseconds(Clock::now() - loopStart) / 1000.0);
    std::printf("cpu_s=%.3f\n", CpuSeconds() - cpuAtStart);
    std::printf("peak_rss_kb=%ld\n", StatusKilobytes("VmHWM:"));
    std::printf("rss_kb=%ld\n", StatusKilobytes("VmRSS:"));
    std::printf("pane_bytes=%zu\n", PaneLength());
    std::printf("last_stream_line=%ld\n", LastStreamLine());
    watch.Report();
    return 0;
}
