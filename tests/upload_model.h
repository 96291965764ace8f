// A second, independent account of the upload, written from its state table rather than from
// the code: the whole file is normalised up front and cut into pieces, where the core reads
// and normalises as it goes.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

// CR LF becomes LF over the whole text, 0x1A cuts it, lines end after LF, no piece is
// longer than 1,023 bytes, and what is sent of a piece stops at its first NUL.
inline std::vector<std::string> ProgramPieces(std::string text) {
    text = text.substr(0, text.find('\x1a'));
    std::string joined;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            joined += text[i];
        }
    }
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < joined.size()) {
        std::size_t end = joined.find('\n', start);
        end = end == std::string::npos ? joined.size() : end + 1;
        for (std::size_t at = start; at < end; at += 1023) {
            const std::string piece = joined.substr(at, std::min<std::size_t>(1023, end - at));
            pieces.push_back(piece.substr(0, piece.find('\0')));
        }
        start = end;
    }
    return pieces;
}

class UploadModel {
  public:
    explicit UploadModel(const std::string& file) : pieces_(ProgramPieces(file)) {}

    void Start() {
        retries_ = 0;
        next_ = 0;
        TakePiece();
        Send(current_);
        active_ = true;
    }

    // Bytes of one received chunk, handed over while the upload lasts.
    void Receive(const std::string& chunk) {
        if (chunk.empty() || !active_) {
            return;
        }
        for (std::size_t i = 0; i < chunk.size() && active_; ++i) {
            Answer(chunk[i]);
        }
        quietTicks_ = 0;
    }

    void IdleTick() {
        if (!active_) {
            return;
        }
        if (++quietTicks_ == 10) {
            quietTicks_ = 0;
            Answer('T');
        }
    }

    bool Active() const { return active_; }
    const std::vector<std::string>& Sends() const { return sends_; }

  private:
    void TakePiece() { current_ = next_ < pieces_.size() ? pieces_[next_++] : std::string(); }

    void Send(const std::string& piece) {
        if (!piece.empty()) {
            sends_.push_back(piece);
        }
    }

    void Answer(char byte) {
        if (byte == 0x11 || byte == 0x13) {
            return;
        }
        if (byte == '*' || byte == '>') {
            active_ = false;
        } else if (byte == '+' || byte == '-') {
            retries_ = 0;
            TakePiece();
            Send(current_);
            active_ = !current_.empty();
        } else if (retries_++ >= 4) {
            active_ = false;
        } else {
            Send(current_);
            active_ = !current_.empty();
        }
    }

    std::vector<std::string> pieces_;
    std::size_t next_ = 0;
    std::string current_;
    bool active_ = false;
    int retries_ = 0;
    int quietTicks_ = 0;
    std::vector<std::string> sends_;
};
