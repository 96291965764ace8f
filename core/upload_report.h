// The words for why a program file was refused and for how an upload ended: one source for the
// pane's reports, the windows' titles and varnoth-upload's lines.
#pragma once

#include <cstddef>

#include "core/terminal_session.h"

// A path of at most 511 bytes, the counts and the words around them.
constexpr std::size_t UploadReportCapacity = UploadPathCapacity + 160;

// Why LastProgramProblem refused the file named by UploadPath, as in
// "/home/me/blink.txt: no such file"; no line feed. Empty when nothing was refused.
void DescribeProgramProblem(char (&text)[UploadReportCapacity]);

// How the last upload ended (LastUploadEnd), as in "blink.txt went out to its end: 12 lines in
// 3.4 s" or "gave up at line 3 of 12: the device did not answer it (sent 5 times)"; no line feed.
// `file` names the program file (its path, or only its name where room is short); `seconds` is
// how long the upload ran, which only the shell measures. Empty while one runs.
void DescribeUploadEnd(char (&text)[UploadReportCapacity], const char* file, double seconds);

// Room for " of " and any 32-bit line total.
constexpr std::size_t OfLineTotalCapacity = 16;
// Writes into `text` what follows the upload's line number in a report: " of N", N its
// UploadLineTotal, or nothing when its lines were not counted (a pipe). Returns `text`.
const char* OfLineTotal(char (&text)[OfLineTotalCapacity]);
