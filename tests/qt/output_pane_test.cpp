// The output pane: how bytes show, the byte view the core counts in, the core's size policy
// carried out on the document, and a view that follows new text unless the user reads back.
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <random>
#include <string>

#include "core/pane.h"
#include "core/terminal_session.h"
#include "shell/qt/output_pane_edit.h"
#include "shell/qt/terminal_window.h"

class OutputPaneTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TerminalWindow> window_;

    OutputPaneEdit* Pane() const { return window_->OutputPane(); }

    std::string Bytes() const {
        std::string bytes(PaneLength(), '\0');
        const std::size_t copied = PaneCopy(0, &bytes[0], bytes.size());
        bytes.resize(copied);
        return bytes;
    }

    // What the document must show for the pane's bytes, written out independently of the
    // pane's own table.
    static QString Expected(const std::string& bytes) {
        QString text;
        for (const char byte : bytes) {
            const unsigned code = static_cast<unsigned char>(byte);
            if (code == '\r') {
                continue;
            }
            if (code == '\n') {
                text += QChar(QChar::ParagraphSeparator);
            } else if (code == '\t' || (code >= 0x20 && code < 0x7f) || code >= 0xa0) {
                text += QChar(static_cast<char16_t>(code));
            } else if (code == 0x7f) {
                text += QChar(u'\u2421');
            } else if (code < 0x20) {
                text += QChar(static_cast<char16_t>(0x2400 + code));
            } else {
                text += QChar(u'\ufffd');
            }
        }
        return text;
    }

    void VerifyDocumentShowsBytes() {
        // The raw text: toPlainText would turn a no-break space into a space.
        QCOMPARE(Pane()->document()->toRawText(), Expected(Bytes()));
    }

    // Lines of the form "line N ...\r\n" up to `bytes` in all.
    static std::string Lines(int first, std::size_t bytes) {
        std::string text;
        for (int number = first; text.size() < bytes; ++number) {
            text += "line " + std::to_string(number) + " of the output pane\r\n";
        }
        return text;
    }

    QString TopShownLine() const { return Pane()->cursorForPosition(QPoint(4, 4)).block().text(); }

    bool ShowsNewest() const {
        const QScrollBar* bar = Pane()->verticalScrollBar();
        return bar->value() == bar->maximum();
    }

  private slots:
    void init() {
        TerminalSession = TerminalSessionRecord{};
        window_ = std::make_unique<TerminalWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() { window_.reset(); }

    void lineEndsShowAsOneBreakAndALoneCarriageReturnAsNothing() {
        AppendOutput("crlf\r\nlf\nlone\rcr\r\r\ncrcrlf\r\n");
        QCOMPARE(Pane()->toPlainText(), QStringLiteral("crlf\nlf\nlonecr\ncrcrlf\n"));
        QCOMPARE(Bytes(), std::string("crlf\r\nlf\nlone\rcr\r\r\ncrcrlf\r\n"));
        QCOMPARE(PaneLength(), std::size_t{27});
    }

    void aLineEndSplitAcrossAppendsIsStillOneBreak() {
        AppendOutput("a\r");
        AppendOutput("\nb\r");
        AppendOutput("\r");
        AppendOutput("\nc");
        QCOMPARE(Pane()->toPlainText(), QStringLiteral("a\nb\nc"));
        QCOMPARE(Pane()->document()->blockCount(), 3);
    }

    void everyOtherByteIsOneVisibleCharacter() {
        std::string all;
        for (int code = 1; code < 256; ++code) {
            all += static_cast<char>(code);
        }
        AppendOutput(all.c_str());
        VerifyDocumentShowsBytes();
        // Byte b stands at b - 1, or at b - 2 past the CR that shows as nothing.
        const QString shown = Pane()->document()->toRawText();
        QCOMPARE(shown.size(), 254);
        QCOMPARE(shown.at(0x07 - 1), QChar(u'\u2407')); // BEL as its control picture
        QCOMPARE(shown.at(0x0a - 1), QChar(QChar::ParagraphSeparator));
        QCOMPARE(shown.at(0x1b - 2), QChar(u'\u241b')); // ESC
        QCOMPARE(shown.at(0x41 - 2), QChar(u'A'));
        QCOMPARE(shown.at(0xe9 - 2), QChar(u'\u00e9')); // Latin-1 e acute
    }

    void fullPaneGivesUpItsOldestLinesAndStaysInStep() {
        AppendOutput(Lines(1, OutputPaneLimit - 500).c_str());
        QVERIFY(PaneLength() > OutputPaneLimit - 600);
        VerifyDocumentShowsBytes();
        const std::string newest = Lines(900000, 1000);
        AppendOutput(newest.c_str());
        QVERIFY(PaneLength() <= OutputPaneLimit);
        QVERIFY(PaneLength() >=
                OutputPaneLimit - OutputPaneTrimBlock - OutputPaneLineSearch - newest.size());
        const std::string bytes = Bytes();
        QVERIFY2(bytes.compare(0, 5, "line ") == 0, "whole lines went");
        QCOMPARE(bytes.substr(bytes.size() - newest.size()), newest);
        VerifyDocumentShowsBytes();
    }

    void mixedTextStaysInStepThroughManyTrims() {
        // Lone CRs, bare LFs and control bytes in every position a cut can fall.
        std::mt19937 random(20261206);
        const char alphabet[] = "abc \r\n\t\x07\x1b\xe9\x85\x7f";
        std::string chunk;
        for (int round = 0; round < 60; ++round) {
            chunk.assign(40000 + random() % 20000, 'x');
            for (char& byte : chunk) {
                byte = alphabet[random() % (sizeof alphabet - 1)];
            }
            AppendOutput(chunk.c_str());
            QVERIFY(PaneLength() <= OutputPaneLimit);
        }
        QVERIFY(PaneLength() > OutputPaneLimit / 2);
        VerifyDocumentShowsBytes();
        QCOMPARE(Bytes().substr(PaneLength() - chunk.size()), chunk);
    }

    void clearEmptiesBothViews() {
        AppendOutput("some\r\ntext\r\n");
        ClearOutput();
        QCOMPARE(PaneLength(), std::size_t{0});
        QVERIFY(Pane()->toPlainText().isEmpty());
        AppendOutput("again");
        QCOMPARE(Pane()->toPlainText(), QStringLiteral("again"));
    }

    void theViewFollowsNewText() {
        AppendOutput(Lines(1, 20000).c_str());
        QVERIFY(Pane()->verticalScrollBar()->maximum() > 0);
        QVERIFY(ShowsNewest());
        AppendOutput("the newest line\r\n");
        QVERIFY(ShowsNewest());
        const QPoint bottom(4, Pane()->viewport()->height() - 4);
        const QString lastShown = Pane()->cursorForPosition(bottom).block().text();
        QVERIFY2(lastShown == QStringLiteral("the newest line") || lastShown.isEmpty(),
                 qPrintable(lastShown));
        window_->resize(300, 200);
        QTRY_COMPARE(window_->size(), QSize(300, 200));
        QVERIFY2(ShowsNewest(), "rewrapping keeps the newest text in view");
    }

    void aUserReadingBackKeepsTheirPlace() {
        AppendOutput(Lines(1, 20000).c_str());
        QScrollBar* bar = Pane()->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const QString top = TopShownLine();
        AppendOutput(Lines(5000, 5000).c_str());
        QCOMPARE(TopShownLine(), top);
        QVERIFY(!ShowsNewest());
        bar->setValue(bar->maximum());
        AppendOutput("follows again\r\n");
        QVERIFY(ShowsNewest());
    }

    void aUserReadingBackKeepsTheirPlaceWhileOldLinesGo() {
        AppendOutput(Lines(1, OutputPaneLimit - 2000).c_str());
        QScrollBar* bar = Pane()->verticalScrollBar();
        bar->setValue(bar->maximum() * 3 / 4);
        const QString top = TopShownLine();
        const std::size_t before = PaneLength();
        AppendOutput(Lines(900000, 5000).c_str());
        QVERIFY2(PaneLength() < before, "old lines went");
        QCOMPARE(TopShownLine(), top);
    }

    void aSelectionSurvivesNewText() {
        AppendOutput("keep this selected\r\n");
        QTextCursor selection = Pane()->textCursor();
        selection.setPosition(5);
        selection.setPosition(9, QTextCursor::KeepAnchor);
        Pane()->setTextCursor(selection);
        AppendOutput("more\r\n");
        QCOMPARE(Pane()->textCursor().selectedText(), QStringLiteral("this"));
    }
};

QTEST_MAIN(OutputPaneTest)
#include "output_pane_test.moc"
