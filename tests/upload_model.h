// The upload written from its state table and the mends made to it, not from the code: the
// whole file is cut into pieces up front, where the core reads as it goes.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/terminal_session.h"

// CR LF becomes LF, 0x1A ends the text, a piece is a line or 1,023 bytes of one.
inline std::vector<std::string> ProgramPieces(std::string text) {
    text = text.substr(0, text.find('\x1a'));
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    std::vector<std::string> pieces;
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        for (std::size_t at = start; at < end; at += 1023) {
            pieces.push_back(text.substr(at, std::min<std::size_t>(1023, end - at)));
        }
    }
    return pieces;
}

class UploadModel {
  public:
    explicit UploadModel(const std::string& file) : pieces_(ProgramPieces(file)) {}

    // The first piece that holds a NUL byte, counted from 1, or 0: a file with one is no
    // program text, and "rp!" refuses it as it refuses a file it cannot read.
    int NulLine() const {
        const auto has = [](const std::string& piece) { return piece.find('\0') != piece.npos; };
        const auto found = std::find_if(pieces_.begin(), pieces_.end(), has);
        return found == pieces_.end() ? 0 : int(found - pieces_.begin()) + 1;
    }

    // "rp!": false when the file is refused.
    bool Start() {
        if (NulLine() != 0) {
            FailedStart();
            return false;
        }
        next_ = 0;
        line_ = retries_ = 0;
        active_ = true;
        end_ = UploadEnd::None;
        current_.clear();
        // Also with nothing to send an upload starts: the first answer ends it then.
        if (!pieces_.empty()) {
            SendPiece(true);
        }
        return true;
    }

    // "rp!" when the file cannot be had: a running upload goes on.
    void FailedStart() { retries_ = 0; }

    // How many bytes the device takes of a write, npos for all (or no port: nothing is short).
    void SetBytesPerWrite(std::size_t count) { bytesPerWrite_ = count; }

    void Receive(const std::string& chunk) {
        quietTicks_ = active_ && !chunk.empty() ? 0 : quietTicks_;
        for (std::size_t i = 0; i < chunk.size() && active_; ++i) {
            Answer(chunk[i]);
        }
    }

    void IdleTick() {
        if (active_ && ++quietTicks_ == 10) {
            quietTicks_ = 0;
            Answer('T');
        }
    }

    bool Active() const { return active_; }
    // What went out to the device, a write each.
    const std::vector<std::string>& Sends() const { return sends_; }
    UploadEnd End() const { return end_; }
    // The number of the last piece sent, 0 before the first.
    int LineNumber() const { return line_; }
    int Lines() const { return int(pieces_.size()); }
    // The reports said since the last call, each a line of its own in the pane.
    std::vector<std::string> TakeReports() { return std::exchange(reports_, {}); }

  private:
    void Answer(char byte) {
        if (byte == 0x11 || byte == 0x13) {
            return;
        }
        if (byte == '*' || byte == '>') {
            Stop(byte == '*' ? UploadEnd::StoppedByStar : UploadEnd::StoppedByPrompt);
        } else if (byte == '+' || byte == '-') {
            retries_ = 0;
            SendPiece(true);
        } else if (retries_++ >= 4) {
            Stop(byte == 'T' ? UploadEnd::GaveUpOnSilence : UploadEnd::GaveUpOnWrongAnswer);
        } else {
            SendPiece(false);
        }
    }

    // A piece with nothing to send ends the upload. One that goes out short was not sent: it
    // is said once and counts as a bad answer.
    void SendPiece(bool next) {
        if (next) {
            current_ = next_ < pieces_.size() ? pieces_[next_++] : "";
            line_ += current_.empty() ? 0 : 1;
            shortSaid_ = false;
        }
        if (current_.empty()) {
            Stop(UploadEnd::FileSent);
            return;
        }
        for (;;) {
            const std::size_t sent = std::min(current_.size(), bytesPerWrite_);
            if (sent > 0) {
                sends_.push_back(current_.substr(0, sent));
            }
            if (sent == current_.size()) {
                return;
            }
            if (!shortSaid_) {
                reports_.push_back("port 1: line " + std::to_string(line_) + " went out short, " +
                                   std::to_string(sent) + " of " + std::to_string(current_.size()) +
                                   " bytes\n");
                shortSaid_ = true;
            }
            if (retries_++ >= 4) {
                Stop(UploadEnd::GaveUpOnShortSend);
                return;
            }
        }
    }

    void Stop(UploadEnd how) {
        active_ = false;
        end_ = how;
    }

    std::vector<std::string> pieces_, sends_, reports_;
    std::size_t next_ = 0, bytesPerWrite_ = std::string::npos;
    std::string current_;
    bool active_ = false, shortSaid_ = false;
    UploadEnd end_ = UploadEnd::None;
    int line_ = 0, retries_ = 0, quietTicks_ = 0;
};
