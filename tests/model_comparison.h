// The core beside independent models: the upload's (tests/upload_model.h), the chunk rule's,
// which sees whole chunks where the core reads pieces cut short by time, and the typed lines'.
#pragma once

#include "tests/core_driver.h"
#include "tests/upload_model.h"

// Choices read from the fuzzer's bytes (past their end, the lowest), or else seeded random ones.
struct Choices {
    const unsigned char* data = nullptr;
    std::size_t size = 1, at = 0;
    std::mt19937 random{20261206};

    bool Done() const { return at >= size; }
    std::size_t Pick(std::size_t low, std::size_t high) {
        std::size_t value = 0;
        for (std::size_t span = high - low; span > 0; span >>= 8) {
            value = value << 8 | (data == nullptr ? random() & 255u : at < size ? data[at++] : 0u);
        }
        return low + value % (high - low + 1);
    }
};

// The pane text of one chunk: LF widened to CR LF; XON, XOFF and NUL left out.
inline std::string Shown(const std::string& chunk) {
    std::string text;
    for (char byte : chunk) {
        const bool dropped = byte == 0x11 || byte == 0x13 || byte == '\0';
        text += byte == '\n' ? "\r\n" : std::string(dropped ? 0 : 1, byte);
    }
    return text;
}

// One run on a freshly reset core: a program file, events until the choices are done or 300
// have passed, then the silence that ends every upload. The uploads are fast ones in some runs:
// the same bytes go out and the uploads end alike, but a chunk's closing line break may come a
// look later, so the pane is left out then. Returns where the core first differs from the
// models, empty if nowhere; counts in cutReads the reads that ended mid-chunk.
inline std::string CompareWithModels(Choices& choices, std::size_t& cutReads) {
    using namespace std::string_literals;
    auto pick = [&](std::size_t low, std::size_t high) { return choices.Pick(low, high); };
    auto random = [&](const std::string& alphabet, std::size_t length) {
        std::string text;
        while (text.size() < length) {
            text += alphabet[pick(0, alphabet.size() - 1)];
        }
        return text;
    };
    // Mostly short lines, now and then one far past a piece's length; in some runs a NUL
    // byte or two, which makes it no program text unless it comes after 0x1A.
    std::string file;
    const std::string fileBytes = pick(0, 7) == 0 ? "ab\n\n\r\r\0\x1a+-*"s : "ab\n\n\r\r\x1a+-*"s;
    for (std::size_t run = pick(0, 12); run > 0; --run) {
        const bool longRun = pick(0, 9) == 0;
        for (std::size_t i = pick(0, longRun ? 3000 : 12); i > 0; --i) {
            file += pick(0, longRun ? 200 : 3) == 0 ? random(fileBytes, 1) : "x";
        }
        file += pick(0, 2) == 0 ? "" : pick(0, 3) == 0 ? "\r\n" : "\n";
    }
    const std::string path = ProgramFile(file);
    const bool fast = pick(0, 2) == 0;
    TerminalSession.FastUploads = fast;
    UploadModel upload(file);
    // Port 1 is the only device; it answers the probe as ours in some runs.
    FakeDevice& device = Device("\\\\.\\COM1");
    device.identityReply = pick(0, 1) == 0 ? "TELK7" : "";
    bool port = pick(0, 9) != 0;
    TerminalSession.PortHandle = port ? OpenPort("\\\\.\\COM1") : InvalidPortHandle;
    TerminalSession.PortNumber = 1;
    // How many bytes of a write the device takes, for a while: its line may stall.
    std::size_t bytesPerWrite = std::string::npos;
    std::string pane;
    // The terminal's reports go on a line of their own.
    auto report = [&](const std::string& text) {
        pane += !pane.empty() && pane.back() != '\n' ? "\r\n" + text : text;
    };
    auto reportUploads = [&] {
        for (const std::string& text : upload.TakeReports()) {
            report(text);
        }
    };
    const std::string noProgram = "no program to upload found!!!\n";
    std::vector<std::string> written; // to the device
    int writtenNowhere = 0;
    std::size_t uploadSends = 0;
    auto write = [&](const std::string& bytes) {
        if (!bytes.empty()) {
            port ? written.push_back(bytes) : void(++writtenNowhere);
        }
    };
    // What was written and the pane only grow, so they are compared whole at the end.
    auto differs = [&](bool atEnd) -> const char* {
        if (bool(TerminalSession.Uploading) != upload.Active() ||
            (TerminalSession.UploadFile == nullptr) == upload.Active() ||
            TerminalSession.LastUploadEnd != upload.End() ||
            TerminalSession.UploadLineNumber != upload.LineNumber() ||
            (upload.Active() && TerminalSession.UploadLineTotal != upload.Lines())) {
            return "the upload's state, end, line number or total";
        }
        if (port != (TerminalSession.PortHandle != InvalidPortHandle) ||
            device.writes.size() != written.size() ||
            FakeSerial.writesWithoutPort != writtenNowhere || (atEnd && device.writes != written)) {
            return "the port or what was written";
        }
        return atEnd && !fast && FakePane.output != pane ? "the pane" : nullptr;
    };
    std::string disagreement;
    auto note = [&](const std::string& when, const char* what) {
        disagreement = disagreement.empty() && what != nullptr ? when + what : disagreement;
    };
    int silence = 0;
    for (int event = 0; silence < 5 * UploadIdleTickLimit && disagreement.empty(); ++event) {
        const bool ending = event >= 300 || choices.Done();
        silence += ending ? 1 : 0;
        const std::size_t kind = ending ? 8 : pick(0, 39);
        upload.SetBytesPerWrite(port ? bytesPerWrite : std::string::npos);
        device.bytesPerWrite = bytesPerWrite;
        if (kind < 5) {
            // Restarts are many: one that kept the file it replaces open would run out of files.
            Type("rp!");
            if (!upload.Start()) {
                pane += noProgram + path + ": line " + std::to_string(upload.NulLine()) +
                        " holds a NUL byte (not a text file)\n";
            }
        } else if (kind == 5) {
            // A restart that finds no file: a running upload goes on, its retries reset.
            SetUploadPath("");
            Type("rp!");
            SetUploadPath(path.c_str());
            upload.FailedStart();
            pane += noProgram + "no program file was named on the command line\n";
        } else if (kind == 6) {
            // Up to its first NUL, 255 characters at most, LF unless Left Ctrl is held; a line
            // that goes out short keeps its LF back, and is said.
            const std::string line =
                (pick(0, 3) == 0 ? "clear" : "") + random("ab +-\0"s, pick(0, 300));
            const std::string text =
                line.substr(0, std::min(line.find('\0'), InputLineCapacity - 1));
            const bool leftCtrl = pick(0, 1) == 0;
            Type(line, leftCtrl);
            if (text == "clear") {
                pane.clear();
            } else {
                const std::size_t sent = std::min(text.size(), port ? bytesPerWrite : text.npos);
                const bool lineFeed = !leftCtrl && sent == text.size();
                write(text.substr(0, sent));
                write(lineFeed ? "\n" : "");
                const std::size_t whole = text.size() + (leftCtrl ? 0 : 1);
                if (sent + (lineFeed ? 1 : 0) < whole) {
                    report("port 1: the typed line went out short, " + std::to_string(sent) +
                           " of " + std::to_string(whole) + " bytes\n");
                }
            }
        } else if (kind == 7) {
            // "open" (its rules are core_test's) to port 1, to none, or detection.
            const std::size_t shown = FakePane.output.size();
            device.bytesPerRead = 0; // the probe reads for as long as it takes
            device.bytesPerWrite = std::string::npos;
            Type("open" + (pick(0, 1) == 0 ? " 1"s : random(" +-0123456789x"s, pick(0, 24))));
            port = TerminalSession.PortHandle != InvalidPortHandle;
            pane += FakePane.output.substr(shown);
            written.resize(device.writes.size(), "id\n");
        } else if (kind < 14 || !port || pane.size() > 500000) {
            if (pick(0, 19) == 0) {
                bytesPerWrite = pick(0, 2) == 0 ? std::string::npos : pick(1, 40);
            }
            Tick();
            upload.IdleTick();
        } else {
            // Mostly a few answers; now and then a reply, a stream over many ticks, or more.
            const std::size_t size = pick(0, 9999);
            const std::string bytes =
                size < 8000 ? random("++++---*>\x11\x13?T\0xx"s, pick(1, 3))
                            : random(pick(0, 3) == 0 ? "\n"s : "ab\n\r\0\x11\x13+-*>x "s,
                                     size < 9900   ? pick(1, 30)
                                     : size < 9998 ? pick(100, 5000)
                                                   : pick(60000, 140000));
            // Each tick feeds the upload what it read, then shows it; the upload's reports come
            // first. A chunk ends at a silence or after ReceiveCapacity - 1 bytes; then, outside
            // an upload, a line break.
            device.chunks.push_back(bytes);
            std::size_t read = 0;
            for (int reads = 0; !device.chunks.empty() && reads < 100000; ++reads) {
                // A read cut short at the very end leaves the silence to the next tick: idle.
                if (device.chunks.front().empty()) {
                    upload.IdleTick();
                    reportUploads();
                }
                device.bytesPerRead = pick(0, 3) == 0 ? 0 : pick(1, pick(0, 1) == 0 ? 4 : 4000);
                Tick();
                const std::size_t taken =
                    bytes.size() - (device.chunks.empty() ? 0 : device.chunks.front().size());
                const std::string piece = bytes.substr(read, taken - read);
                upload.Receive(piece);
                reportUploads();
                pane += Shown(piece);
                read = taken;
                // A full chunk ends at once; the last ends when the silence after it is seen.
                const bool full = read % (ReceiveCapacity - 1) == 0;
                if ((full ? !piece.empty() : device.chunks.empty()) && !upload.Active()) {
                    pane += "\r\n";
                }
                // What a chunk that spans ticks has brought so far shows at once.
                if (!device.chunks.empty()) {
                    cutReads += 1;
                    disagreement += !fast && FakePane.output.size() != pane.size()
                                        ? "the pane as bytes come "
                                        : "";
                }
            }
        }
        reportUploads();
        for (; uploadSends < upload.Sends().size(); ++uploadSends) {
            write(upload.Sends()[uploadSends]);
        }
        note("event " + std::to_string(event) + ": ", differs(false));
    }
    note("at the end: ", TerminalSession.Uploading ? "the silence" : differs(true));
    return disagreement;
}
