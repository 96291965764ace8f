#include "core/upload_report.h"

#include <cstdio>
#include <cstring>

#include "core/protocol.h"

namespace {

const char* Lines(long count) {
    return count == 1 ? "line" : "lines";
}

void DescribeNulByte(char (&text)[UploadReportCapacity], const char* file, long line) {
    std::snprintf(text, sizeof text, "%s: line %ld holds a NUL byte (not a text file)", file, line);
}

} // namespace

void DescribeProgramProblem(char (&text)[UploadReportCapacity]) {
    const char* path = TerminalSession.UploadPath;
    const char* reason = nullptr;
    switch (TerminalSession.LastProgramProblem) {
    case ProgramProblem::None:
        text[0] = '\0';
        return;
    case ProgramProblem::NotNamed:
        std::snprintf(text, sizeof text, "no program file was named on the command line");
        return;
    case ProgramProblem::PathTooLong:
        std::snprintf(text, sizeof text, "the program file's path is longer than %d bytes",
                      static_cast<int>(UploadPathCapacity - 1));
        return;
    case ProgramProblem::NulByte:
        DescribeNulByte(text, path, TerminalSession.ProblemLineNumber);
        return;
    case ProgramProblem::Empty:
        std::snprintf(text, sizeof text, "%s is empty: there is nothing to upload", path);
        return;
    case ProgramProblem::NoSuchFile:
        reason = "no such file";
        break;
    case ProgramProblem::Folder:
        reason = "a folder, not a file";
        break;
    case ProgramProblem::NoPermission:
        reason = "permission denied";
        break;
    case ProgramProblem::Unreadable:
        reason = std::strerror(TerminalSession.ProblemError);
        break;
    }
    std::snprintf(text, sizeof text, "%s: %s", path, reason);
}

void DescribeUploadEnd(char (&text)[UploadReportCapacity], const char* file, double seconds) {
    const long line = TerminalSession.UploadLineNumber;
    char ofTotal[OfLineTotalCapacity];
    OfLineTotal(ofTotal);
    const int sends = UploadRetryLimit + 1;
    switch (TerminalSession.LastUploadEnd) {
    case UploadEnd::None:
        text[0] = '\0';
        break;
    case UploadEnd::FileSent:
        std::snprintf(text, sizeof text, "%s went out to its end: %ld %s in %.1f s", file, line,
                      Lines(line), seconds);
        break;
    case UploadEnd::StoppedByStar:
    case UploadEnd::StoppedByPrompt:
        std::snprintf(text, sizeof text, "the device ended the upload with '%c' at line %ld%s",
                      TerminalSession.LastUploadEnd == UploadEnd::StoppedByStar ? StopStar
                                                                                : StopPrompt,
                      line, ofTotal);
        break;
    case UploadEnd::GaveUpOnSilence:
        std::snprintf(text, sizeof text,
                      "gave up at line %ld%s: the device did not answer it (sent %d times)", line,
                      ofTotal, sends);
        break;
    case UploadEnd::GaveUpOnWrongAnswer:
        std::snprintf(text, sizeof text,
                      "gave up at line %ld%s: the device answered it wrongly (sent %d times)", line,
                      ofTotal, sends);
        break;
    case UploadEnd::GaveUpOnShortSend:
        std::snprintf(text, sizeof text,
                      "gave up at line %ld%s: it went out short, %zu of %zu bytes (sent %d times)",
                      line, ofTotal, TerminalSession.UploadShortSent,
                      std::strlen(TerminalSession.UploadLine), sends);
        break;
    case UploadEnd::DeviceGone:
        std::snprintf(text, sizeof text, "the device went away at line %ld%s; port %ld is closed",
                      line, ofTotal, static_cast<long>(TerminalSession.PortNumber));
        break;
    case UploadEnd::NotText:
        DescribeNulByte(text, file, line + 1);
        break;
    case UploadEnd::ReadFailed:
        std::snprintf(text, sizeof text, "could not read the program file after line %ld: %s", line,
                      std::strerror(TerminalSession.UploadReadError));
        break;
    }
}

const char* OfLineTotal(char (&text)[OfLineTotalCapacity]) {
    text[0] = '\0';
    if (TerminalSession.UploadLineTotal >= 0) {
        std::snprintf(text, sizeof text, " of %ld",
                      static_cast<long>(TerminalSession.UploadLineTotal));
    }
    return text;
}
