// Every test over the real POSIX link: a pseudo-terminal on which the test plays the device, a
// throwaway ports directory that is also the device root (no port of the machine is opened), and
// the simulated device as a child process linked there.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "serial/port_names_linux.h"

class PseudoTerminal {
  public:
    PseudoTerminal() {
        // Not inherited by the programs the tests start: a hang-up must be one.
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slavePath_ = ptsname(master_);
        }
    }
    ~PseudoTerminal() { HangUp(); }

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    // A few kilobytes at most, which it takes in one write.
    bool Send(const std::string& bytes) const {
        return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives until `count` bytes are in or nothing comes for a second.
    std::string Receive(std::size_t count) const {
        std::string bytes;
        char buffer[4096];
        pollfd entry{master_, POLLIN, 0};
        ssize_t got = 0;
        while (bytes.size() < count && poll(&entry, 1, 1000) > 0 &&
               (got = read(master_, buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    // The device goes away, as when a USB adapter is pulled.
    void HangUp() { close(std::exchange(master_, -1)); }

  private:
    int master_ = -1;
    std::string slavePath_;
};

class PortsDirectory {
  public:
    PortsDirectory() {
        char pattern[] = "/tmp/varnoth_ports_XXXXXX";
        path_ = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
        setenv(PortsDirectoryVariable, path_.c_str(), 1);
        setenv(DeviceRootVariable, path_.c_str(), 1);
    }
    ~PortsDirectory() {
        unsetenv(PortsDirectoryVariable);
        unsetenv(DeviceRootVariable);
        std::system(("rm -rf '" + path_ + "'").c_str());
    }

    const std::string& Path() const { return path_; }
    std::string Entry(int number) const { return path_ + "/com" + std::to_string(number); }

  private:
    std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Runs `words` as a child process, its standard output (and error) going into the files.
inline pid_t Spawn(std::vector<std::string> words, const std::string& out,
                   const std::string& err = "") {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        if (!err.empty()) {
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        }
        std::vector<char*> argv(words.size() + 1, nullptr);
        std::transform(words.begin(), words.end(), argv.begin(),
                       [](std::string& w) { return &w[0]; });
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

class SimulatedDevice {
  public:
    SimulatedDevice(const std::string& link, const std::string& record,
                    const std::vector<std::string>& options = {}) {
        std::vector<std::string> words = {VARNOTH_SIMDEVICE_PATH, "--link", link, "--record",
                                          record};
        words.insert(words.end(), options.begin(), options.end());
        unlink(link.c_str());
        unlink((record + ".said").c_str());
        pid_ = Spawn(words, record + ".said");
        // It says "ready <pty>" once the link is in place.
        for (int wait = 0; wait < 500 && pty_.empty(); ++wait) {
            usleep(10000);
            const std::string said = ReadWholeFile(record + ".said");
            if (said.rfind("ready ", 0) == 0 && said.back() == '\n') {
                pty_ = said.substr(6, said.size() - 7);
            }
        }
    }
    ~SimulatedDevice() { Stop(); }
    bool Ready() const { return !pty_.empty(); }
    const std::string& Pty() const { return pty_; }
    void Stop() {
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0) {
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::string pty_;
};

// Whether the device's exclusive flag (TIOCEXCL) is set: it keeps out all but root, so it is asked.
inline bool ExclusiveFlagSet(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int exclusive = fd < 0;
    if (fd >= 0) {
        ioctl(fd, TIOCGEXCL, &exclusive);
        close(fd);
    }
    return exclusive != 0;
}
