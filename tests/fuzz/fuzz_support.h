// Shared by the fuzz targets: a fresh terminal over the fake link and pane for every input,
// and an invariant check that aborts, so libFuzzer reports the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "core/pane.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/fakes/fake_serial.h"

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__,            \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline void ResetTerminal() {
    if (TerminalSession.UploadFile != nullptr) {
        std::fclose(TerminalSession.UploadFile);
    }
    TerminalSession = TerminalSessionRecord{};
    ResetFakeSerial();
    ResetFakePane();
}

// Reads input as a sequence of fields; past the end every field is empty.
class FuzzInput {
  public:
    FuzzInput(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    unsigned Byte() { return at_ < size_ ? data_[at_++] : 0u; }
    std::string Bytes(std::size_t count) {
        const std::size_t taken = count < size_ - at_ ? count : size_ - at_;
        std::string bytes(reinterpret_cast<const char*>(data_ + at_), taken);
        at_ += taken;
        return bytes;
    }
    std::string Rest() { return Bytes(size_ - at_); }

  private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The pane text a received chunk should give: LF widened; XON, XOFF and NUL left out.
inline std::string ExpectedDisplay(const std::string& chunk) {
    std::string text;
    for (char byte : chunk) {
        if (byte == '\n') {
            text += "\r\n";
        } else if (byte != 0x11 && byte != 0x13 && byte != '\0') {
            text += byte;
        }
    }
    return text;
}

// A program file for the targets that upload, in the fuzzer's own temporary folder.
inline std::string WriteProgramFile(const std::string& contents) {
    static const std::string path = "/tmp/varnoth_fuzz_program_" + std::to_string(getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
    SetUploadPath(path.c_str());
    return path;
}
