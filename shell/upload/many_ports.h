// varnoth-upload over several ports at once: --port N given more than once, or --all.
//
// Principles of operation. The core keeps one session record per process, so the program
// loads several boards by starting itself once per port: each child is the ordinary
// single-port upload (main.cpp's Run, the same connection, probe, ticks and endings), told by
// --report-to-parent to say how it goes in report lines on its standard error, which is a pipe
// to the parent; its standard output goes nowhere, since what the devices send is not shown.
// The parent checks the program file before any child starts (a file that would fail fails
// once, as for one port; a pipe, which can be read once, is refused); each child opens its own
// log before its port, so a log that cannot be written ends that port's upload before it
// begins. The parent starts all the children at once, reads their lines as they come, and
// shows one row per port: redrawn in place on a terminal, a line per port as it ends
// elsewhere. At the end it prints the table (port, device, result, lines, time) and exits 0
// only when every port's upload went to its end.
//
// For --all the parent starts a child for every port present (FindPresentPorts), and each child
// probes its own port (--only-if-answering) as detection does: the probes' half seconds pass
// side by side. A child whose port does not open or whose device does not answer says so and
// is left out.
//
// An interrupt (Ctrl+C, SIGTERM, SIGHUP to the parent) is passed on to every child, which
// stops its upload and closes its port the way a single upload does, and says where it stopped
// in its last line; the table then shows each. Each child runs in a process group of its
// own on POSIX, so the terminal's Ctrl+C reaches them only through the parent, once; a second
// one ends everything at once, every port closed (shell/exit_signals_posix.h). On Windows the
// console sends Ctrl+C to every process on it, the children included.
//
// The report lines, child to parent. Fields are split by one blank; the last field runs to
// the line's end (a CR before the LF, from a Windows text stream, is dropped):
//
//   device NAME       the port is open (and, for --all, its device answered the probe);
//                     NAME is the device as the system names it ("ttyUSB0", "pts/3"), or "-"
//                     where the port's number is its name (Windows' COM3)
//   line N            N of the file's lines have been acknowledged; sent when N grows, at most
//                     once a tick
//   absent            --all only: the port did not open, or its device did not answer the
//                     identification request; nothing follows
//   end S N T TEXT    the child's last line: S is the exit status it ends with (the statuses
//                     of a single upload), N the lines acknowledged, T the seconds its upload
//                     ran (one decimal, 0.0 when none started), TEXT the last thing it would
//                     have said: how the upload ended in the core's words (DescribeUploadEnd)
//                     or why it never began (the port's reason, the program file's)
//
// A child that ends without `end` or `absent` (killed) is told by its exit status alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/port_connection.h"

// A report line's word, three numbers and the text a child would have said (SaidTextCapacity,
// shell/upload/upload_console.h); a longer line is cut.
constexpr std::size_t ReportLineCapacity = 1024 + 64;
// One child for each port number there is.
constexpr int ChildCapacity = HighestPortNumber;

struct ManyPortsRequest {
    // The ports named, in the order given; none for --all.
    std::int32_t ports[ChildCapacity];
    int portCount;
    bool all;
    bool fast;
    bool quiet;
    // The --log FILE given, or nullptr; each port's log is LogPathForPort's.
    const char* log;
    const char* path;
    // The program file's lines, as the parent counted them.
    std::int32_t lineCount;
};

// ---- many_ports.cpp

// Runs the children to their ends and returns the exit status. The program file and the logs
// have been checked; interrupts are being caught.
int RunManyPorts(const ManyPortsRequest& request);
// The log file of port `number`: the number inserted before the name's extension, as in
// "upload.log" -> "upload-3.log", "upload" -> "upload-3". False when it does not fit.
bool LogPathForPort(const char* log, std::int32_t number, char* path, std::size_t capacity);

// ---- child_report.cpp: the child's side of the report lines

// From now on the child's messages are not written but kept, the last one for its `end`.
void ReportToParent();
bool ReportingToParent();
void ReportDevice(const char* name);
void ReportAcknowledged(std::int32_t lines);
void ReportAbsent();
// Writes the `end` line with the last message said; nothing after ReportAbsent.
void ReportEnd(int status, std::int32_t lines, double seconds);

// ---- child_processes_posix.cpp, child_processes_win32.cpp

// The system's reason for a failure: a short sentence.
constexpr std::size_t ChildReasonCapacity = 256;

// Starts this program again as child `slot` with `arguments` (those after the program's name,
// ending in nullptr): standard input and output the null device, standard error a pipe that
// ReadChild reads. False, with the system's reason, when it could not be started.
bool StartChild(int slot, const char* const* arguments, char (&reason)[ChildReasonCapacity]);
// Returns when a child has written or ended, the interrupt is raised, or after `milliseconds`.
void WaitForChildren(unsigned milliseconds);
// What child `slot` has written, at most `capacity` bytes, without waiting: how many, 0 when
// nothing is there now, -1 once it has ended and everything it wrote has been read.
long ReadChild(int slot, char* buffer, std::size_t capacity);
// Waits for child `slot`, which has ended, and returns its exit status: 128 and the signal's
// number for one a signal ended, as the shells give it; -1 when the system cannot tell.
int ReapChild(int slot);
// Passes the interrupt on to every child not yet reaped.
void InterruptChildren();
