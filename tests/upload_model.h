// The upload written from its state table, not from the code: the whole file is cut into pieces
// up front, where the core reads as it goes.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "core/upload.h"

// CR LF becomes LF, 0x1A ends the text, a piece is a line or 1,023 bytes of one, sent up to
// its first NUL.
inline std::vector<std::string> ProgramPieces(std::string text) {
    text = text.substr(0, text.find('\x1a'));
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    std::vector<std::string> pieces;
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        for (std::size_t at = start; at < end; at += 1023) {
            const std::string piece = text.substr(at, std::min<std::size_t>(1023, end - at));
            pieces.push_back(piece.substr(0, piece.find('\0')));
        }
    }
    return pieces;
}

class UploadModel {
  public:
    explicit UploadModel(const std::string& file) : pieces_(ProgramPieces(file)) {}

    void Start() {
        next_ = 0;
        line_ = retries_ = 0;
        SendPiece(true);
        active_ = true; // also with nothing to send: the first answer ends it then
        end_ = UploadEnd::None;
    }

    // "rp!" when the file cannot be read: a running upload goes on.
    void FailedStart() { retries_ = 0; }

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
    const std::vector<std::string>& Sends() const { return sends_; }
    UploadEnd End() const { return end_; }
    // The number of the last piece sent, 0 before the first.
    int LineNumber() const { return line_; }
    // The pieces up to the first with nothing to send, which ends the upload.
    int Lines() const {
        return int(std::find(pieces_.begin(), pieces_.end(), "") - pieces_.begin());
    }

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

    // A piece with nothing to send ends the upload.
    void SendPiece(bool next) {
        if (next) {
            current_ = next_ < pieces_.size() ? pieces_[next_++] : "";
            line_ += current_.empty() ? 0 : 1;
        }
        if (current_.empty()) {
            Stop(UploadEnd::FileSent);
        } else {
            sends_.push_back(current_);
        }
    }

    void Stop(UploadEnd how) {
        active_ = false;
        end_ = how;
    }

    std::vector<std::string> pieces_, sends_;
    std::size_t next_ = 0;
    std::string current_;
    bool active_ = false;
    UploadEnd end_ = UploadEnd::None;
    int line_ = 0, retries_ = 0, quietTicks_ = 0;
};
