// A pseudo-terminal pair for exercising the real POSIX serial link: the link opens the slave
// side as its port, the test plays the device on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slavePath_ = ptsname(master_);
        }
    }
    ~PseudoTerminal() { HangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ready() const { return master_ >= 0 && !slavePath_.empty(); }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    void Send(const std::string& bytes) const {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t written = write(master_, bytes.data() + sent, bytes.size() - sent);
            if (written <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(written);
        }
    }

    // Collects what arrives until `count` bytes are in or nothing comes for a second.
    std::string Receive(std::size_t count) const {
        std::string bytes;
        char buffer[4096];
        pollfd entry{master_, POLLIN, 0};
        while (bytes.size() < count && poll(&entry, 1, 1000) > 0) {
            const ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }

    // The device goes away, as when a USB adapter is pulled.
    void HangUp() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};
