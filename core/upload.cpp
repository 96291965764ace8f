#include "core/upload.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/protocol.h"
#include "core/pane.h"
#include "core/session_log.h"
#include "core/upload_report.h"

namespace {

// Marks the end of a text file for the device's tools; nothing after it belongs to the program.
constexpr int EndOfFileByte = 0x1A;
// A report of a short send: the port's and the line's numbers and two byte counts.
constexpr std::size_t ShortSendReportCapacity = 128;

// What reading one line of the program file found.
enum class LineRead { Line, End, NulByte, Error };

// Reads the next line of the program file into `line`. A line ends after its LF or after
// UploadLineCapacity - 1 bytes, whichever comes first; CR LF becomes LF as the bytes are read,
// so a pair split across a piece boundary is still joined. At the end of the file (or at 0x1A)
// the line is empty. A line that holds a NUL byte is no program text, and a read error is told
// as one, *error saying why: neither is sent. `line` holds UploadLineCapacity bytes.
LineRead ReadProgramLine(std::FILE* file, char* line, int* error) {
    std::size_t length = 0;
    bool nul = false;
    while (length < UploadLineCapacity - 1) {
        int byte = std::getc(file);
        if (byte == EOF) {
            break;
        }
        if (byte == EndOfFileByte) {
            // Left in the stream, so every later read stops here too.
            std::ungetc(byte, file);
            break;
        }
        if (byte == '\r') {
            const int next = std::getc(file);
            if (next == '\n') {
                byte = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        nul = nul || byte == '\0';
        line[length++] = static_cast<char>(byte);
        if (byte == '\n') {
            break;
        }
    }
    line[length] = '\0';
    if (std::ferror(file)) {
        *error = errno;
        return LineRead::Error;
    }
    return nul ? LineRead::NulByte : length == 0 ? LineRead::End : LineRead::Line;
}

// Sets the file back to its start; false for a pipe, which cannot be.
bool RewindToStart(std::FILE* file) {
    return std::fseek(file, 0, SEEK_SET) == 0;
}

void CloseProgramFile() {
    if (TerminalSession.UploadFile != nullptr) {
        std::fclose(TerminalSession.UploadFile);
        TerminalSession.UploadFile = nullptr;
    }
}

// The log keeps how each upload ended, in the words its closing line uses.
void EndUpload(UploadEnd how) {
    TerminalSession.Uploading = 0;
    TerminalSession.LastUploadEnd = how;
    const unsigned long long now = MonotonicMilliseconds();
    char words[UploadReportCapacity];
    DescribeUploadEnd(words, TerminalSession.UploadPath,
                      (now - TerminalSession.UploadStartedAt) / 1000.0);
    LogBytes(LogSource::Terminal, words, std::strlen(words), now);
    LogBytes(LogSource::Terminal, "\n", 1, now);
}

// A file that ends the upload with a fault of its own (no text, unreadable) says so in the
// pane, in the words a closing line uses.
void EndUploadAtRead(LineRead read, int error) {
    if (read == LineRead::End) {
        EndUpload(UploadEnd::FileSent);
        return;
    }
    TerminalSession.UploadReadError = error;
    EndUpload(read == LineRead::NulByte ? UploadEnd::NotText : UploadEnd::ReadFailed);
    char report[UploadReportCapacity];
    DescribeUploadEnd(report, TerminalSession.UploadPath, 0);
    AppendReport(report);
    AppendOutput("\n");
}

// Reads the next line of the upload into UploadLine; a line with text counts as sent.
LineRead ReadUploadLine(int* error) {
    const LineRead read =
        ReadProgramLine(TerminalSession.UploadFile, TerminalSession.UploadLine, error);
    if (read == LineRead::Line) {
        ++TerminalSession.UploadLineNumber;
    } else {
        TerminalSession.UploadLine[0] = '\0';
    }
    return read;
}

// Said once a line, not at every retry.
void SayShortSend(std::size_t sent, std::size_t length) {
    if (TerminalSession.ShortSendSaid) {
        return;
    }
    TerminalSession.ShortSendSaid = true;
    char report[ShortSendReportCapacity];
    std::snprintf(report, sizeof report, "port %ld: line %ld went out short, %zu of %zu bytes\n",
                  static_cast<long>(TerminalSession.PortNumber),
                  static_cast<long>(TerminalSession.UploadLineNumber), sent, length);
    AppendReport(report);
}

// A line that goes out short was not sent: the rest of it is gone, and the device may take
// the part for a line of its own. It counts as a bad answer, so the line goes again, up to the
// retry limit. With no port open nothing goes out and nothing is said, as before: the silence
// rule ends such an upload. A device that went away is the tick's to report.
void SendUploadLine() {
    for (;;) {
        const std::size_t length = std::strlen(TerminalSession.UploadLine);
        const std::size_t sent =
            WritePort(TerminalSession.PortHandle, TerminalSession.UploadLine, length);
        LogBytes(LogSource::Sent, TerminalSession.UploadLine, sent, MonotonicMilliseconds());
        if (sent == length || TerminalSession.PortHandle == InvalidPortHandle ||
            PortDeviceGone(TerminalSession.PortHandle)) {
            return;
        }
        TerminalSession.UploadShortSent = sent;
        SayShortSend(sent, length);
        if (TerminalSession.RetryCount++ >= UploadRetryLimit) {
            EndUpload(UploadEnd::GaveUpOnShortSend);
            return;
        }
    }
}

void SendNextLine() {
    TerminalSession.RetryCount = 0;
    TerminalSession.ShortSendSaid = false;
    int error = 0;
    const LineRead read = ReadUploadLine(&error);
    if (read != LineRead::Line) {
        EndUploadAtRead(read, error);
        return;
    }
    SendUploadLine();
}

void RetryLine(char answer) {
    const int retriesBefore = TerminalSession.RetryCount;
    TerminalSession.RetryCount = retriesBefore + 1;
    if (retriesBefore >= UploadRetryLimit) {
        EndUpload(answer == TimeoutMarker ? UploadEnd::GaveUpOnSilence
                                          : UploadEnd::GaveUpOnWrongAnswer);
        return;
    }
    // Only an empty program leaves the current line empty: there was nothing to send.
    if (TerminalSession.UploadLine[0] == '\0') {
        EndUpload(UploadEnd::FileSent);
        return;
    }
    SendUploadLine();
}

void Refuse(ProgramProblem problem, std::int32_t line = 0, int error = 0) {
    TerminalSession.LastProgramProblem = problem;
    TerminalSession.ProblemLineNumber = line;
    TerminalSession.ProblemError = error;
}

void RefuseForError(int error) {
    switch (error) {
    case ENOENT:
        Refuse(ProgramProblem::NoSuchFile);
        break;
    case EACCES:
    case EPERM:
        Refuse(ProgramProblem::NoPermission);
        break;
    case EISDIR:
        Refuse(ProgramProblem::Folder);
        break;
    default:
        Refuse(ProgramProblem::Unreadable, 0, error);
        break;
    }
}

// Windows refuses to open a folder as a file, as it refuses a file it may not read; asked
// first, a folder is told as one everywhere.
bool IsFolder(const char* path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

} // namespace

std::FILE* OpenProgramFile(const char* path, std::int32_t* lineCount) {
    Refuse(ProgramProblem::None);
    if (path[0] == '\0') {
        Refuse(TerminalSession.UploadPathTooLong ? ProgramProblem::PathTooLong
                                                 : ProgramProblem::NotNamed);
        return nullptr;
    }
    if (IsFolder(path)) {
        Refuse(ProgramProblem::Folder);
        return nullptr;
    }
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        RefuseForError(errno);
        return nullptr;
    }
    if (!RewindToStart(file)) {
        *lineCount = UncountedLines;
        return file;
    }
    // The upload's own reader, so that the count follows every rule the upload follows.
    char line[UploadLineCapacity];
    std::int32_t count = 0;
    int error = 0;
    LineRead read;
    while ((read = ReadProgramLine(file, line, &error)) == LineRead::Line) {
        ++count;
    }
    if (read == LineRead::NulByte) {
        Refuse(ProgramProblem::NulByte, count + 1);
    } else if (read == LineRead::Error) {
        RefuseForError(error);
    }
    if (read != LineRead::End || !RewindToStart(file)) {
        std::fclose(file);
        return nullptr;
    }
    *lineCount = count;
    return file;
}

int StartUpload() {
    std::int32_t lineCount = 0;
    std::FILE* file = OpenProgramFile(TerminalSession.UploadPath, &lineCount);
    if (file == nullptr) {
        // A running upload goes on with its own stream, its line's retries counted afresh.
        TerminalSession.RetryCount = 0;
        return ResultFailure;
    }
    StartUploadOf(file, lineCount);
    return ResultSuccess;
}

void StartUploadOf(std::FILE* file, std::int32_t lineCount) {
    TerminalSession.RetryCount = 0;
    TerminalSession.ShortSendSaid = false;
    CloseProgramFile();
    TerminalSession.UploadFile = file;
    TerminalSession.UploadLineTotal = lineCount;
    TerminalSession.UploadLineNumber = 0;
    TerminalSession.UploadIsFast = TerminalSession.FastUploads;
    TerminalSession.UploadStartedAt = MonotonicMilliseconds();
    TerminalSession.Uploading = 1;
    TerminalSession.LastUploadEnd = UploadEnd::None;
    int error = 0;
    const LineRead read = ReadUploadLine(&error);
    // An empty program still starts an upload, with nothing sent: the first answer ends it.
    if (read == LineRead::Line) {
        SendUploadLine();
    } else if (read != LineRead::End) {
        EndUploadAtRead(read, error);
    }
    if (!TerminalSession.Uploading) {
        CloseProgramFile();
    }
}

void AbandonUpload() {
    if (TerminalSession.Uploading) {
        EndUpload(UploadEnd::DeviceGone);
        CloseProgramFile();
    }
}

void UploadStep(char byte) {
    if (!TerminalSession.Uploading) {
        return;
    }
    switch (byte) {
    case Xon:
    case Xoff:
        return;
    case StopStar:
        EndUpload(UploadEnd::StoppedByStar);
        break;
    case StopPrompt:
        EndUpload(UploadEnd::StoppedByPrompt);
        break;
    case AcknowledgePlus:
    case AcknowledgeMinus:
        SendNextLine();
        break;
    default:
        RetryLine(byte);
        break;
    }
    if (!TerminalSession.Uploading) {
        CloseProgramFile();
    }
}
