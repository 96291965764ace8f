// The window over the core and the fake serial link: layout, focus, key routing and the
// input line, driven by key events like the ones the platform delivers.
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <memory>

#include "core/pane.h"
#include "core/terminal_session.h"
#include "shell/qt/command_line.h"
#include "shell/qt/input_line_edit.h"
#include "shell/qt/output_pane_edit.h"
#include "shell/qt/terminal_window.h"
#include "tests/fakes/fake_serial.h"
#include "tests/qt/keyboard.h"

namespace {

constexpr const char* Com1 = "\\\\.\\COM1";
// Waits for what the 100 ms tick brings; generous, since a loaded machine may be slow.
constexpr int TickWaitMilliseconds = 10000;

} // namespace

class TerminalWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TerminalWindow> window_;
    std::unique_ptr<Keyboard> keyboard_;

    OutputPaneEdit* Pane() const { return window_->OutputPane(); }
    InputLineEdit* Line() const { return window_->InputLine(); }

    // "open 1" typed and run, with a device behind port 1.
    FakeDevice& Connect() {
        FakeDevice& device = Device(Com1);
        keyboard_->Type("open 1");
        keyboard_->Enter();
        return device;
    }

    void VerifyLayout() {
        const int width = window_->width();
        const int height = window_->height();
        // A pane without room gets a size of 0, not the negative one of the formulas.
        QCOMPARE(Pane()->geometry(), QRect(8, 0, qMax(0, width - 8), qMax(0, height - 24)));
        QCOMPARE(Line()->geometry(), QRect(8, height - 24, qMax(0, width - 8), 24));
    }

  private slots:
    void init() {
        ResetFakeSerial();
        TerminalSession = TerminalSessionRecord{};
        window_ = std::make_unique<TerminalWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        keyboard_ = std::make_unique<Keyboard>(window_.get());
    }

    void cleanup() {
        keyboard_.reset();
        window_.reset();
        QVERIFY(TerminalSession.OutputPane == nullptr);
    }

    void startsAsTheWindowOfTheSession() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Varnoth serial terminal"));
        QCOMPARE(window_->frameGeometry().size(), QSize(640, 512));
        QVERIFY(TerminalSession.MainWindow == window_.get());
        QVERIFY(TerminalSession.OutputPane == Pane());
        QVERIFY(TerminalSession.InputLine == Line());
        QVERIFY(Pane()->isReadOnly());
        QVERIFY(Pane()->verticalScrollBar()->isVisible());
        QVERIFY(Pane()->toPlainText().isEmpty());
        QVERIFY(Line()->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), Line());
        VerifyLayout();
    }

    void layoutFollowsEveryResize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("larger") << QSize(1000, 700);
        QTest::newRow("smaller") << QSize(200, 90);
        QTest::newRow("just the margins") << QSize(8, 24);
        QTest::newRow("narrower than the margin") << QSize(5, 100);
        QTest::newRow("lower than the input line") << QSize(300, 10);
        QTest::newRow("smaller than both") << QSize(3, 3);
    }

    void layoutFollowsEveryResize() {
        QFETCH(QSize, size);
        window_->resize(size);
        QTRY_COMPARE(window_->size(), size);
        VerifyLayout();
        window_->resize(640, 480);
        QTRY_COMPARE(window_->size(), QSize(640, 480));
        VerifyLayout();
    }

    void typingInThePaneGoesToTheInputLine() {
        keyboard_->Type("ab");
        Pane()->setFocus();
        QCOMPARE(QApplication::focusWidget(), Pane());
        keyboard_->Type("cd");
        QCOMPARE(QApplication::focusWidget(), Line());
        QCOMPARE(Line()->text(), QStringLiteral("abcd"));
        Pane()->setFocus();
        keyboard_->Backspace();
        QCOMPARE(Line()->text(), QStringLiteral("abc"));
        QCOMPARE(QApplication::focusWidget(), Line());
    }

    void enterInThePaneOnlyMovesTheFocus() {
        FakeDevice& device = Connect();
        keyboard_->Type("hello");
        Pane()->setFocus();
        keyboard_->Enter();
        QCOMPARE(QApplication::focusWidget(), Line());
        QCOMPARE(Line()->text(), QStringLiteral("hello"));
        QVERIFY(device.received.empty());
        keyboard_->Enter();
        QCOMPARE(device.received, std::string("hello\n"));
    }

    void controlCombinationsStayInThePane() {
        AppendOutput("first line\nsecond line\n");
        keyboard_->Type("typed");
        Pane()->setFocus();
        QApplication::clipboard()->clear();
        keyboard_->LeftControlDown();
        keyboard_->ControlLetter('a');
        keyboard_->ControlLetter('c');
        keyboard_->LeftControlUp();
        QCOMPARE(QApplication::focusWidget(), Pane());
        QCOMPARE(Line()->text(), QStringLiteral("typed"));
        QCOMPARE(Pane()->textCursor().selectedText(),
                 QStringLiteral("first line\u2029second line\u2029"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first line\nsecond line\n"));
    }

    void enterRunsTheLineAndEmptiesIt() {
        FakeDevice& device = Connect();
        QCOMPARE(Pane()->toPlainText(), QStringLiteral("connected to port 1\n"));
        QVERIFY2(device.received.empty(), "open is a local command");
        keyboard_->Type("hello");
        keyboard_->Enter();
        QCOMPARE(device.received, std::string("hello\n"));
        QVERIFY(Line()->text().isEmpty());
        keyboard_->Enter();
        // An empty line is sent too.
        QCOMPARE(device.received, std::string("hello\n\n"));
    }

    void onlyTheLeftControlKeyHoldsBackTheLineFeed() {
        FakeDevice& device = Connect();
        keyboard_->Type("left");
        keyboard_->LeftControlDown();
        keyboard_->Enter();
        keyboard_->LeftControlUp();
        keyboard_->Type("right");
        keyboard_->RightControlDown();
        keyboard_->Enter();
        keyboard_->RightControlUp();
        keyboard_->Type("released");
        keyboard_->LeftControlDown();
        keyboard_->LeftControlUp();
        keyboard_->Enter();
        keyboard_->Type("both");
        keyboard_->RightControlDown();
        keyboard_->LeftControlDown();
        keyboard_->RightControlUp();
        keyboard_->Enter();
        keyboard_->LeftControlUp();
        QCOMPARE(device.received, std::string("left"
                                              "right\n"
                                              "released\n"
                                              "both"));
    }

    void theLeftControlKeyIsFollowedWhereverItGoesDown() {
        FakeDevice& device = Connect();
        keyboard_->Type("x");
        Pane()->setFocus();
        keyboard_->LeftControlDown();
        Line()->setFocus();
        keyboard_->Enter();
        keyboard_->LeftControlUp();
        QCOMPARE(device.received, std::string("x"));
    }

    void aMissedControlReleaseDoesNotHoldBackLaterLines() {
        FakeDevice& device = Connect();
        keyboard_->LeftControlDown();
        keyboard_->ForgetControl();
        keyboard_->Type("y");
        keyboard_->Enter();
        QCOMPARE(device.received, std::string("y\n"));
    }

    void controlASelectsTheWholeLine() {
        keyboard_->Type("select me");
        Line()->setCursorPosition(3);
        keyboard_->LeftControlDown();
        keyboard_->ControlLetter('a');
        keyboard_->LeftControlUp();
        QCOMPARE(Line()->selectedText(), QStringLiteral("select me"));
        QCOMPARE(QApplication::focusWidget(), Line());
        keyboard_->Type("new");
        // Typing replaces the selection.
        QCOMPARE(Line()->text(), QStringLiteral("new"));
    }

    void theInputLineTakesAtMost255Characters() {
        FakeDevice& device = Connect();
        keyboard_->Type(QString(300, QLatin1Char('k')));
        QCOMPARE(Line()->text().size(), 255);
        keyboard_->Enter();
        QCOMPARE(device.received, std::string(255, 'k') + "\n");
        Line()->insert(QString(400, QLatin1Char('p')));
        // Pasted text is cut as well.
        QCOMPARE(Line()->text().size(), 255);
    }

    void textIsLatin1BothWays() {
        FakeDevice& device = Connect();
        keyboard_->Type(QString::fromUtf8("caf\u00e9"));
        Line()->insert(QString::fromUtf8("\u20ac"));
        keyboard_->Enter();
        QCOMPARE(device.received, std::string("caf\xe9?\n"));
        device.chunks.push_back("na\xefve\n");
        QTRY_VERIFY_WITH_TIMEOUT(Pane()->toPlainText().contains(QString::fromUtf8("na\u00efve\n")),
                                 TickWaitMilliseconds);
    }

    void theTimerPollsThePort() {
        FakeDevice& device = Connect();
        device.chunks.push_back("one\r\ntwo\n");
        QTRY_COMPARE_WITH_TIMEOUT(Pane()->toPlainText(),
                                  QStringLiteral("connected to port 1\none\ntwo\n\n"),
                                  TickWaitMilliseconds);
        std::string bytes(PaneLength(), '\0');
        PaneCopy(0, &bytes[0], bytes.size());
        QCOMPARE(bytes, std::string("connected to port 1\none\r\r\ntwo\r\n\r\n"));
    }

    void localCommandsRunFromTheKeyboard() {
        Connect();
        keyboard_->Type("rp!");
        keyboard_->Enter();
        QCOMPARE(Pane()->toPlainText(),
                 QStringLiteral("connected to port 1\nno program to upload found!!!\n"));
        keyboard_->Type("clear");
        keyboard_->Enter();
        QVERIFY(Pane()->toPlainText().isEmpty());
        QCOMPARE(PaneLength(), std::size_t{0});
    }

    void closingTheWindowEndsTheEventLoopWithZero() {
        QTimer::singleShot(0, window_.get(), &QWidget::close);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window_->isVisible());
    }

    void theArgumentsFormTheProgramFilePath() {
        const char* none[] = {"varnoth-terminal"};
        QCOMPARE(ProgramFilePath(1, none), std::string());
        const char* quoted[] = {"varnoth-terminal", "/tmp/my program.txt"};
        QCOMPARE(ProgramFilePath(2, quoted), std::string("/tmp/my program.txt"));
        const char* unquoted[] = {"varnoth-terminal", "/tmp/my", "program.txt"};
        QCOMPARE(ProgramFilePath(3, unquoted), std::string("/tmp/my program.txt"));
        const char* emptyWord[] = {"varnoth-terminal", "a", "", "b"};
        QCOMPARE(ProgramFilePath(4, emptyWord), std::string("a  b"));
        const char* options[] = {"varnoth-terminal", "-platform", "x"};
        QCOMPARE(ProgramFilePath(3, options), std::string("-platform x"));
        // After "--" an option is a path; an option that is not the sole argument is one too.
        const char* dashes[] = {"varnoth-terminal", "--", "--help"};
        QCOMPARE(ProgramFilePath(3, dashes), std::string("--help"));
        QVERIFY(SoleOption(3, dashes) == CommandLineOption::None);
        const char* notAlone[] = {"varnoth-terminal", "--version", "x"};
        QCOMPARE(ProgramFilePath(3, notAlone), std::string("--version x"));
        QVERIFY(SoleOption(3, notAlone) == CommandLineOption::None);
    }
};

QTEST_MAIN(TerminalWindowTest)
#include "terminal_window_test.moc"
