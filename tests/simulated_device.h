// Runs the project's simulated device as a child process, linked as a numbered port in a
// throwaway ports directory, for end-to-end tests over the real POSIX serial link.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "serial/port_names_posix.h"

// A ports directory of its own, named by the environment for as long as it lives.
class PortsDirectory {
  public:
    PortsDirectory() {
        char pattern[] = "/tmp/varnoth_e2e_XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
        }
        setenv(PortsDirectoryVariable, path_.c_str(), 1);
    }
    ~PortsDirectory() {
        unsetenv(PortsDirectoryVariable);
        std::system(("rm -rf '" + path_ + "'").c_str());
    }
    PortsDirectory(const PortsDirectory&) = delete;
    PortsDirectory& operator=(const PortsDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string Entry(int number) const { return path_ + "/com" + std::to_string(number); }
    // Makes every number below `limit` name a missing device, so nothing outside the test
    // (an adapter or a built-in port of the machine) is ever opened.
    void ClaimAllAsMissing(int limit) const {
        for (int number = 0; number < limit; ++number) {
            unlink(Entry(number).c_str());
            symlink("/nonexistent/device", Entry(number).c_str());
        }
    }

  private:
    std::string path_;
};

class SimulatedDevice {
  public:
    // Starts the device linked as `link` with extra command-line options.
    SimulatedDevice(const std::string& link, const std::string& record,
                    const std::vector<std::string>& options = {}) {
        unlink(link.c_str());
        std::vector<std::string> words = {VARNOTH_SIMDEVICE_PATH, "--link", link, "--record",
                                          record};
        words.insert(words.end(), options.begin(), options.end());
        int output[2];
        if (pipe(output) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(output[1], STDOUT_FILENO);
            close(output[0]);
            close(output[1]);
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(&word[0]);
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(output[1]);
        // The device says "ready <pty>" once the link is in place.
        std::string line;
        char byte;
        while (read(output[0], &byte, 1) == 1 && byte != '\n') {
            line += byte;
        }
        close(output[0]);
        ready_ = line.rfind("ready ", 0) == 0;
    }
    ~SimulatedDevice() { Stop(); }
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    bool Ready() const { return ready_; }

    // Ends the device as SIGTERM does and returns its exit status (-1 if already gone).
    int Stop() {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}
