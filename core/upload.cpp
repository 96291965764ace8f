#include "core/upload.h"

#include <cstdio>
#include <cstring>

#include "core/control_bytes.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"

namespace {

// Marks the end of a text file for the device's tools; nothing after it belongs to the program.
constexpr int EndOfFileByte = 0x1A;

// Reads the next line of the program file into `line`. A line ends after its LF or after
// UploadLineCapacity - 1 bytes, whichever comes first; CR LF becomes LF as the bytes are read,
// so a pair split across a piece boundary is still joined. At the end of the file (a read error
// or 0x1A counts as the end) the line is empty. What is sent is the text before the first NUL.
// `line` holds UploadLineCapacity bytes.
void ReadProgramLine(std::FILE* file, char* line) {
    std::size_t length = 0;
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
        line[length++] = static_cast<char>(byte);
        if (byte == '\n') {
            break;
        }
    }
    line[length] = '\0';
}

// Reads the next line of the upload into UploadLine; a line with text counts as sent.
void ReadUploadLine() {
    ReadProgramLine(TerminalSession.UploadFile, TerminalSession.UploadLine);
    if (TerminalSession.UploadLine[0] != '\0') {
        ++TerminalSession.UploadLineNumber;
    }
}

void EndUpload(UploadEnd how) {
    TerminalSession.Uploading = 0;
    TerminalSession.LastUploadEnd = how;
}

void SendUploadLine() {
    WritePort(TerminalSession.PortHandle, TerminalSession.UploadLine,
              std::strlen(TerminalSession.UploadLine));
}

void SendNextLine() {
    TerminalSession.RetryCount = 0;
    TerminalSession.UploadLine[0] = '\0';
    ReadUploadLine();
    SendUploadLine();
    if (TerminalSession.UploadLine[0] == '\0') {
        EndUpload(UploadEnd::FileSent);
    }
}

void RetryLine(char answer) {
    const int retriesBefore = TerminalSession.RetryCount;
    TerminalSession.RetryCount = retriesBefore + 1;
    if (retriesBefore >= UploadRetryLimit) {
        EndUpload(answer == TimeoutMarker ? UploadEnd::GaveUpOnSilence
                                          : UploadEnd::GaveUpOnWrongAnswer);
        return;
    }
    SendUploadLine();
    // Only an empty program leaves the current line empty: there was nothing to send.
    if (TerminalSession.UploadLine[0] == '\0') {
        EndUpload(UploadEnd::FileSent);
    }
}

// Whether the file can be read again from its start; a pipe cannot.
bool Rereadable(std::FILE* file) {
    return std::fseek(file, 0, SEEK_SET) == 0;
}

// A folder opens as a stream on some systems but reads as an error; it is no program file.
bool IsReadable(std::FILE* file) {
    const int first = std::getc(file);
    if (first == EOF) {
        return !std::ferror(file);
    }
    std::ungetc(first, file);
    return true;
}

void CloseProgramFile() {
    if (TerminalSession.UploadFile != nullptr) {
        std::fclose(TerminalSession.UploadFile);
        TerminalSession.UploadFile = nullptr;
    }
}

// The upload's own reader, so that the count follows every rule the upload follows; the file
// is left at its start.
std::int32_t CountLines(std::FILE* file) {
    if (!Rereadable(file)) {
        return UncountedLines;
    }
    char line[UploadLineCapacity];
    std::int32_t count = 0;
    for (ReadProgramLine(file, line); line[0] != '\0'; ReadProgramLine(file, line)) {
        ++count;
    }
    std::rewind(file);
    return count;
}

} // namespace

std::FILE* OpenProgramFile(const char* path) {
    if (path[0] == '\0') {
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file != nullptr && Rereadable(file) && !IsReadable(file)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

int StartUpload() {
    std::FILE* file = OpenProgramFile(TerminalSession.UploadPath);
    if (file == nullptr) {
        // A running upload goes on with its own stream, its line's retries counted afresh.
        TerminalSession.RetryCount = 0;
        return ResultFailure;
    }
    StartUploadOf(file);
    return ResultSuccess;
}

void StartUploadOf(std::FILE* file) {
    TerminalSession.RetryCount = 0;
    if (TerminalSession.UploadFile != nullptr) {
        std::fclose(TerminalSession.UploadFile);
    }
    TerminalSession.UploadFile = file;
    TerminalSession.UploadLineTotal = CountLines(file);
    TerminalSession.UploadLine[0] = '\0';
    TerminalSession.UploadLineNumber = 0;
    ReadUploadLine();
    SendUploadLine();
    TerminalSession.Uploading = 1;
    TerminalSession.LastUploadEnd = UploadEnd::None;
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

const char* OfLineTotal(char (&text)[OfLineTotalCapacity]) {
    text[0] = '\0';
    if (TerminalSession.UploadLineTotal >= 0) {
        std::snprintf(text, sizeof text, " of %ld",
                      static_cast<long>(TerminalSession.UploadLineTotal));
    }
    return text;
}
