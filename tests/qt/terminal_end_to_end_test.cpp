// The whole Linux program but its main(): the window, the core, the real POSIX serial link
// and the simulated device, driven from the keyboard.
#include <QTest>

#include <cstdio>
#include <memory>
#include <string>

#include "core/terminal_session.h"
#include "shell/qt/command_line.h"
#include "shell/qt/output_pane_edit.h"
#include "shell/qt/terminal_window.h"
#include "tests/qt/keyboard.h"
#include "tests/simulated_device.h"

namespace {

// The device answers within a few ticks; the margin is for a loaded machine, and a passing
// run never waits it out.
constexpr int DeviceWaitMilliseconds = 20000;

} // namespace

class TerminalEndToEndTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PortsDirectory> ports_;
    std::unique_ptr<TerminalWindow> window_;
    std::unique_ptr<Keyboard> keyboard_;

    QString PaneText() const { return window_->OutputPane()->toPlainText(); }

    void TypeLine(const char* line) {
        keyboard_->Type(QString::fromLatin1(line));
        keyboard_->Enter();
    }

  private slots:
    void init() {
        TerminalSession = TerminalSessionRecord{};
        ports_ = std::make_unique<PortsDirectory>();
        ports_->ClaimAllAsMissing(25);
        window_ = std::make_unique<TerminalWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        keyboard_ = std::make_unique<Keyboard>(window_.get());
    }

    void cleanup() {
        keyboard_.reset();
        window_.reset();
        if (TerminalSession.PortHandle != InvalidPortHandle) {
            ClosePort(TerminalSession.PortHandle);
        }
        if (TerminalSession.UploadFile != nullptr) {
            std::fclose(TerminalSession.UploadFile);
        }
        TerminalSession = TerminalSessionRecord{};
        ports_.reset();
    }

    void aSessionWithTheSimulatedDevice() {
        const std::string record = ports_->Path() + "/received.bin";
        SimulatedDevice device(ports_->Entry(1), record);
        QVERIFY(device.Ready());
        // The program file has a blank in its name and comes as two unquoted arguments.
        const std::string directory = ports_->Path() + "/my";
        const std::string program = "10 PRINT \"HELLO\"\r\n20 GOTO 10\r\nRUN\r\n";
        std::FILE* file = std::fopen((directory + " program.txt").c_str(), "wb");
        QVERIFY(file != nullptr);
        std::fwrite(program.data(), 1, program.size(), file);
        std::fclose(file);
        const char* arguments[] = {"varnoth-terminal", directory.c_str(), "program.txt"};
        QVERIFY(SetUploadPath(ProgramFilePath(3, arguments).c_str()));

        TypeLine("open 1");
        QCOMPARE(PaneText(), QStringLiteral("connected to port 1\n"));

        TypeLine("id");
        QTRY_COMPARE_WITH_TIMEOUT(PaneText(),
                                  QStringLiteral("connected to port 1\nTELK7 simulated device\n\n"),
                                  DeviceWaitMilliseconds);

        TypeLine("hello");
        QTRY_VERIFY_WITH_TIMEOUT(PaneText().endsWith(QStringLiteral("\n\n+\n")),
                                 DeviceWaitMilliseconds);
        QCOMPARE(ReadWholeFile(record), std::string("id\nhello\n"));

        TypeLine("rp!");
        QTRY_VERIFY_WITH_TIMEOUT(!TerminalSession.Uploading, DeviceWaitMilliseconds);
        QCOMPARE(ReadWholeFile(record),
                 std::string("id\nhello\n10 PRINT \"HELLO\"\n20 GOTO 10\nRUN\n"));
        QVERIFY2(PaneText().endsWith(QStringLiteral("\n+\n+++\n")), qPrintable(PaneText()));

        TypeLine("clear");
        QVERIFY(PaneText().isEmpty());
        TypeLine("again");
        QTRY_COMPARE_WITH_TIMEOUT(PaneText(), QStringLiteral("+\n"), DeviceWaitMilliseconds);
        QCOMPARE(ReadWholeFile(record),
                 std::string("id\nhello\n10 PRINT \"HELLO\"\n20 GOTO 10\nRUN\nagain\n"));
    }
};

QTEST_MAIN(TerminalEndToEndTest)
#include "terminal_end_to_end_test.moc"
