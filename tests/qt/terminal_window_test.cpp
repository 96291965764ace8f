// The Linux window on Qt's offscreen platform over the core, the POSIX link and the simulated
// device: what the real program on X11 cannot show (sizes, the Ctrl keys' edge cases, the pane).
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <memory>

#include "core/pane_primitives.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "shell/qt/input_line_edit.h"
#include "shell/qt/output_pane_edit.h"
#include "shell/qt/terminal_window.h"
#include "tests/simulated_device.h"

// The device answers within a few ticks; the margin is for a loaded machine.
constexpr int DeviceWaitMilliseconds = 20000;

class TerminalWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PortsDirectory> ports_;
    std::unique_ptr<SimulatedDevice> device_;
    std::unique_ptr<TerminalWindow> window_;

    OutputPaneEdit* Pane() const { return window_->OutputPane(); }
    QScrollBar* Bar() const { return Pane()->verticalScrollBar(); }
    QString TopShownLine() const { return Pane()->cursorForPosition(QPoint(4, 4)).block().text(); }
    QByteArray PaneBytes() const {
        QByteArray bytes(static_cast<qsizetype>(PaneLength()), '\0');
        PaneCopy(0, bytes.data(), PaneLength());
        return bytes;
    }
    QByteArray Received() const {
        return QByteArray::fromStdString(ReadWholeFile(ports_->Path() + "/received.bin"));
    }

    // Enter and the Ctrl keys go to the window, as the platform sends them, and on to the focus
    // widget; a Ctrl key carries its X keysym as the native virtual key, as xcb and wayland do.
    void Key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, quint32 keysym = 0) {
        QKeyEvent event(type, key, modifiers, 0, keysym, 0);
        QCoreApplication::sendEvent(window_->windowHandle(), &event);
    }
    // The line is run from the input line, given the focus as a click gives it.
    void EnterLine(const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        window_->InputLine()->setFocus();
        window_->InputLine()->insert(text);
        Key(QEvent::KeyPress, Qt::Key_Return, modifiers);
    }

  private slots:
    void init() {
        TerminalSession = TerminalSessionRecord{};
        ports_ = std::make_unique<PortsDirectory>();
        window_ = std::make_unique<TerminalWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void cleanup() {
        window_.reset();
        ClosePort(TerminalSession.PortHandle);
        device_.reset();
        ports_.reset();
    }

    void layoutFollowsTheWindowSize() {
        QCOMPARE(window_->frameGeometry().size(), QSize(640, 512)); // as opened
        // Narrower than the margin, lower than the input line: a pane without room gets a size
        // of 0, not the negative one of the formulas.
        const struct {
            QSize window;
            QRect pane, input;
        } sizes[] = {{{5, 100}, {8, 0, 0, 76}, {8, 76, 0, 24}},
                     {{300, 10}, {8, 0, 292, 0}, {8, -14, 292, 24}},
                     {{400, 300}, {8, 0, 392, 276}, {8, 276, 392, 24}}};
        for (const auto& size : sizes) {
            window_->resize(size.window);
            QTRY_COMPARE(window_->size(), size.window);
            QCOMPARE(Pane()->geometry(), size.pane);
            QCOMPARE(window_->InputLine()->geometry(), size.input);
        }
        // Columns line up: what the user sees, whatever fontconfig calls the font.
        for (const QFont& font : {Pane()->font(), window_->InputLine()->font()}) {
            const QFontMetrics metrics(font);
            QCOMPARE(metrics.horizontalAdvance('i'), metrics.horizontalAdvance('W'));
            QCOMPARE(metrics.horizontalAdvance('.'), metrics.horizontalAdvance('0'));
        }
    }

    // Lines come back newest first, local commands too, and Down goes back to the draft; empty
    // lines and repeats are not kept; the oldest of 101 lines goes; Ctrl+Down is not history.
    void upAndDownBringBackEnteredLines() {
        const QString lines[] = {"one", "", "clear", "clear", QStringLiteral(u"caf\u00e9\u20ac")};
        for (const QString& line : lines) {
            EnterLine(line);
        }
        window_->InputLine()->insert("draft");
        const auto press = [&](const char* keys, Qt::KeyboardModifiers modifiers = {}) {
            for (const char* key = keys; *key != '\0'; ++key) {
                Key(QEvent::KeyPress, *key == 'u' ? Qt::Key_Up : Qt::Key_Down, modifiers);
            }
            return window_->InputLine()->text();
        };
        QCOMPARE(
            (QStringList{press("u"), press("u"), press("u"), press("u"), press("d"), press("d"),
                         press("d"), press("d")}),
            (QStringList{lines[4], "clear", "one", "one", "clear", lines[4], "draft", "draft"}));
        for (int number = 0; number <= 100; ++number) {
            EnterLine(QString::number(number));
        }
        QCOMPARE(press(QByteArray(101, 'u').constData()), "1");
        QCOMPARE(press("d", Qt::ControlModifier), "1");
    }

    // The device is played by the test. The title says where the terminal stands: no port, the
    // port with its device, each line of an upload, how it ended until the next line, a lost
    // port; the empty input line says what to type.
    void theTitleAndThePlaceholderShowTheState() {
        const QString name = QStringLiteral(" - Varnoth serial terminal");
        QCOMPARE(window_->windowTitle(), QStringLiteral("Varnoth serial terminal"));
        QCOMPARE(window_->InputLine()->placeholderText(),
                 "type open 1 to connect to port 1, or open 0 to find the device");
        PseudoTerminal device;
        QCOMPARE(symlink(device.SlavePath().c_str(), ports_->Entry(1).c_str()), 0);
        const std::string program = ports_->Path() + "/blink.txt";
        std::ofstream(program) << std::string(1500, 'x') << "\nend\n"; // a piece is a line
        SetUploadPath(program.c_str());
        EnterLine(QStringLiteral("open 1"));
        const QString port = "port 1 (" + QString::fromStdString(device.SlavePath()).mid(5) + ")";
        QCOMPARE(window_->windowTitle(), port + name);
        QCOMPARE(window_->InputLine()->placeholderText(),
                 "a line typed here goes to the device; rp! uploads blink.txt");
        EnterLine(QStringLiteral("rp!"));
        const QString progress("blink.txt: line %1 of 3" + name);
        const std::pair<const char*, QString> answersAndTitles[] = {
            {"", progress.arg(1)},
            {"+", progress.arg(2)},
            {"*", "the device ended the upload with '*' at line 2 of 3" + name}};
        for (const auto& [answer, title] : answersAndTitles) {
            QVERIFY(device.Send(answer));
            QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), title, DeviceWaitMilliseconds);
        }
        EnterLine(QStringLiteral("next"));
        QCOMPARE(window_->windowTitle(), port + name);
        device.HangUp();
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), "port 1 lost, waiting for it" + name,
                                  DeviceWaitMilliseconds);
    }

    // "Fast upload" in the pane's menu, off at start, makes the next "rp!" a fast one.
    void fastUploadIsTheMenusChoiceForTheNextUpload() {
        PseudoTerminal device;
        QCOMPARE(symlink(device.SlavePath().c_str(), ports_->Entry(1).c_str()), 0);
        const std::string program = ports_->Path() + "/two.txt";
        std::ofstream(program) << "A\nB\n";
        SetUploadPath(program.c_str());
        EnterLine(QStringLiteral("open 1"));
        std::unique_ptr<QMenu> menu(window_->NewPaneMenu());
        QAction* fast = nullptr;
        for (QAction* action : menu->actions()) {
            fast = action->text() == "Fast upload" ? action : fast;
        }
        QVERIFY(fast != nullptr && fast->isCheckable() && !fast->isChecked());
        fast->trigger();
        EnterLine(QStringLiteral("rp!"));
        QVERIFY(FastUploadRunning());
        QCOMPARE(device.Receive(2), "A\n");
        QVERIFY(device.Send("+"));
        // The window answers while the test waits for what reaches the device.
        std::string received;
        QTRY_VERIFY_WITH_TIMEOUT((received += device.Receive(1), received == "B\n"),
                                 DeviceWaitMilliseconds);
        QVERIFY(device.Send("+"));
        QTRY_VERIFY_WITH_TIMEOUT(!TerminalSession.Uploading, DeviceWaitMilliseconds);
        QCOMPARE(TerminalSession.LastUploadEnd, UploadEnd::FileSent);
        TerminalSession.FastUploads = false;
    }

    // "Show times" leads each line with its time; "Show bytes in hex" shows what comes next as
    // rows of hex, and both are the menu's.
    void timesAndHexShowInThePane() {
        PseudoTerminal device;
        QCOMPARE(symlink(device.SlavePath().c_str(), ports_->Entry(1).c_str()), 0);
        EnterLine(QStringLiteral("open 1"));
        std::unique_ptr<QMenu> menu(window_->NewPaneMenu());
        for (QAction* action : menu->actions()) {
            if (action->text() == "Show times" || action->text() == "Show bytes in hex") {
                action->trigger();
            }
        }
        QVERIFY(device.Send("ok>"));
        const QRegularExpression row(QStringLiteral(
            "\\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 6f 6b 3e +\\|ok>\\|\\n$"));
        QTRY_VERIFY2_WITH_TIMEOUT(row.match(Pane()->toPlainText()).hasMatch(),
                                  qPrintable(Pane()->toPlainText()), DeviceWaitMilliseconds);
        TerminalSession.ShowTimes = false;
        ShowBytesInHex(false);
    }

    // Through the menu's action and the file dialog; a folder cannot be written to.
    void saveAsWritesThePaneAsShown() {
        AppendOutput("tab\there\r\nbell\x07\r\n");
        const QString folder = QString::fromStdString(ports_->Path());
        QString said;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            dialog->selectFile(folder + "/pane.txt");
            static_cast<QDialog*>(dialog)->accept(); // protected in QFileDialog
        });
        std::unique_ptr<QMenu>(window_->NewPaneMenu())->actions().last()->trigger();
        QCOMPARE(QString::fromStdString(ReadWholeFile(ports_->Path() + "/pane.txt")),
                 QStringLiteral(u"tab\there\nbell\u2407\n"));
        // It opens in the program file's folder, and a name without a suffix gets ".txt".
        QVERIFY(QDir(folder).mkdir("sub"));
        const std::string program = ports_->Path() + "/sub/blink.txt";
        SetUploadPath(program.c_str());
        QString opened;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            opened = dialog->directory().absolutePath();
            dialog->selectFile(folder + "/notes");
            static_cast<QDialog*>(dialog)->accept();
        });
        std::unique_ptr<QMenu>(window_->NewPaneMenu())->actions().last()->trigger();
        QCOMPARE(opened, folder + "/sub");
        QVERIFY(QFileInfo::exists(folder + "/notes.txt"));
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            said = box->text();
            box->close();
        });
        window_->SavePaneTo(folder);
        QVERIFY2(said.startsWith("The pane could not be saved to " + folder), qPrintable(said));
    }

    // Keys: L/l left Ctrl down/up, R/r right Ctrl down/up, P a click into the pane, E/e Enter
    // with/without the Ctrl modifier (without it once the key went up in another program).
    void linesReachTheDevice_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QByteArray>("sent");
        // One byte per character: what Latin-1 has no place for goes out as '?'.
        QTest::newRow("Latin-1") << QStringLiteral(u"caf\u00e9\u20ac") << QByteArray("e")
                                 << QByteArray("caf\xe9?\n");
        QTest::newRow("right Ctrl after left") << "x" << QByteArray("LlREr") << QByteArray("x\n");
        QTest::newRow("left after right went up") << "x" << QByteArray("RLrEl") << QByteArray("x");
        QTest::newRow("left pressed in the pane") << "x" << QByteArray("PLEl") << QByteArray("x");
        QTest::newRow("left released elsewhere") << "x" << QByteArray("Le") << QByteArray("x\n");
    }

    void linesReachTheDevice() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, keys);
        QFETCH(QByteArray, sent);
        device_ =
            std::make_unique<SimulatedDevice>(ports_->Entry(1), ports_->Path() + "/received.bin");
        QVERIFY(device_->Ready());
        EnterLine(QStringLiteral("open 1"));
        window_->InputLine()->insert(typed);
        for (const char key : keys) {
            const bool down = QChar::isUpper(key);
            if (key == 'P') {
                Pane()->setFocus();
            } else if (key == 'E' || key == 'e') {
                EnterLine(QString(), down ? Qt::ControlModifier : Qt::NoModifier);
            } else {
                Key(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Control,
                    down ? Qt::ControlModifier : Qt::NoModifier,
                    QChar::toLower(key) == 'l' ? LeftControlKeysym : RightControlKeysym);
            }
        }
        // A last line, answered by the device as every line is, closes what it received.
        EnterLine(QStringLiteral("end"));
        QTRY_VERIFY_WITH_TIMEOUT(Received().endsWith("end\n"), DeviceWaitMilliseconds);
        QCOMPARE(Received(), sent + "end\n");
        QTRY_VERIFY_WITH_TIMEOUT(Pane()->toPlainText().endsWith(QStringLiteral("+\n")),
                                 DeviceWaitMilliseconds);
    }

    // Appending repaints only what changed: the new text and the handle's move. What the screen
    // holds after many appends, of whole lines, parts of lines and lines that wrap, while the
    // view follows and while it does not, is what a fresh paint of the pane shows.
    void theScreenShowsWhatAFreshPaintShows() {
        const auto onScreen = [this] {
            const QPoint at = Pane()->mapTo(window_.get(), QPoint(0, 0));
            return window_->screen()
                ->grabWindow(window_->winId(), at.x(), at.y(), Pane()->width(), Pane()->height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        for (int append = 1; append <= 150; ++append) {
            QByteArray text = "part " + QByteArray::number(append);
            text += append % 3 == 0 ? "\r\n" : " ";
            if (append % 11 == 0) {
                text += QByteArray("a line that wraps ").repeated(8) + "\r\n";
            }
            AppendOutput(text.constData());
            if (append == 100) {
                Bar()->setValue(Bar()->maximum() / 2);
            }
            QCoreApplication::processEvents();
            if (append % 10 == 0) {
                QCOMPARE(onScreen(),
                         Pane()->grab().toImage().convertToFormat(QImage::Format_RGB32));
            }
        }
    }

    void thePaneShowsEveryByte() {
        const QByteArray bytes(
            "crlf\r\nlf\nlone\rcr\r\r\n\x01\x1b\x1f\x7f\t\x80\x9f ~\xa0\xe9\xff");
        AppendOutput(bytes.constData());
        // The raw text, U+2029 ending a line: toPlainText would turn a no-break space into a space.
        QCOMPARE(Pane()->document()->toRawText(),
                 QStringLiteral(u"crlf\u2029lf\u2029lonecr\u2029"
                                u"\u2401\u241b\u241f\u2421\t\ufffd\ufffd ~\u00a0\u00e9\u00ff"));
        QCOMPARE(PaneBytes(), bytes);
    }

    void aFullPaneGivesUpWholeOldLinesWhereverTheViewIs() {
        QByteArray lines; // each with a lone CR and a control byte
        for (int number = 1; lines.size() <= qsizetype{OutputPaneLimit}; ++number) {
            lines += "line " + QByteArray::number(number) + "\r of\x07 the pane\r\n";
        }
        const QByteArray newest = lines.last(5000);
        AppendOutput(lines.chopped(5000).constData());
        window_->resize(300, 200);
        QTRY_COMPARE(window_->size(), QSize(300, 200));
        QVERIFY2(Bar()->value() == Bar()->maximum(), "rewrapping keeps the newest text in view");
        // The user reads back and selects the top line; old lines go as new ones come.
        Bar()->setValue(Bar()->maximum() * 3 / 4);
        QTextCursor selection = Pane()->cursorForPosition(QPoint(4, 4));
        selection.select(QTextCursor::LineUnderCursor);
        Pane()->setTextCursor(selection);
        const QString top = TopShownLine();
        AppendOutput(newest.constData());
        const QByteArray bytes = PaneBytes();
        QVERIFY2(bytes.startsWith("line ") && bytes.endsWith(newest), "whole lines went");
        QCOMPARE(Pane()->toPlainText(), OutputPaneEdit::DisplayText(bytes.data(), bytes.size()));
        QCOMPARE(TopShownLine(), top);
        QCOMPARE(Pane()->textCursor().selectedText(), top);
        Bar()->setValue(Bar()->maximum());
        AppendOutput("follows again\r\n");
        QCOMPARE(Bar()->value(), Bar()->maximum());
    }

    // A device that sends only line breaks: the pane keeps at most its line limit of whole
    // lines, and a reader's view and selection stay put while old lines go, also across the
    // rebuilds of the document that this many lines bring.
    void emptyLinesStayWithinTheLineLimit() {
        const QByteArray emptyLines = QByteArray("\r\n").repeated(OutputPaneLineTrimBlock);
        const std::size_t rounds =
            (DocumentRebuildLineBreaks + 2 * OutputPaneLineLimit) / OutputPaneLineTrimBlock;
        QByteArray reading; // the line at the top of the reader's view, selected
        std::size_t roundsRead = 0;
        for (std::size_t round = 0; round < rounds; ++round) {
            const QByteArray mark = "mark " + QByteArray::number(qulonglong{round});
            AppendOutput(mark + "\r\n" + emptyLines);
            const QByteArray bytes = PaneBytes();
            QVERIFY(static_cast<std::size_t>(Pane()->document()->blockCount()) <=
                    OutputPaneLineLimit);
            QVERIFY2(bytes.startsWith("\r\n") || bytes.startsWith("mark "), "whole lines went");
            QCOMPARE(Pane()->toPlainText(),
                     OutputPaneEdit::DisplayText(bytes.data(), bytes.size()));
            if (!reading.isEmpty() && bytes.contains(reading + "\r\n")) {
                QCOMPARE(TopShownLine(), QString(reading));
                QCOMPARE(Pane()->textCursor().selectedText(), QString(reading));
                ++roundsRead;
                continue;
            }
            QTextCursor selection = Pane()->document()->find(QString(mark));
            Bar()->setValue(selection.block().firstLineNumber());
            Pane()->setTextCursor(selection);
            QCOMPARE(TopShownLine(), QString(mark));
            reading = mark;
        }
        QVERIFY(static_cast<std::size_t>(Pane()->document()->blockCount()) >=
                OutputPaneLineLimit - OutputPaneLineTrimBlock);
        QVERIFY(roundsRead > rounds / 2);
    }
};

QTEST_MAIN(TerminalWindowTest)
#include "terminal_window_test.moc"
