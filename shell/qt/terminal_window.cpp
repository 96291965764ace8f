#include "shell/qt/terminal_window.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSaveFile>
#include <QWindow>

#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "shell/pane_router.h"
#include "shell/qt/input_line_edit.h"
#include "shell/qt/output_pane_edit.h"

namespace {

const PaneShell WindowPane = {WindowPaneLength,      WindowPaneCopy,      WindowPaneErase,
                              WindowPaneInsertAtEnd, WindowReadInputLine, WindowClearInputLine};

} // namespace

TerminalWindow::TerminalWindow()
    : inputLine_(new InputLineEdit(&leftControl_, this)),
      outputPane_(new OutputPaneEdit(inputLine_, this)) {
    clock_.start();
    // Tab goes from the pane to the input line, as the panes stand on screen.
    setTabOrder(outputPane_, inputLine_);
    // Devices print tables and aligned columns.
    const QFont fixedFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    outputPane_->setFont(fixedFont);
    inputLine_->setFont(fixedFont);
    outputPane_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(outputPane_, &QWidget::customContextMenuRequested, this, [this](QPoint position) {
        QMenu* menu = NewPaneMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        // A scroll area reports the position in its viewport.
        menu->popup(outputPane_->viewport()->mapToGlobal(position));
    });
    TerminalSession.MainWindow = this;
    TerminalSession.OutputPane = outputPane_;
    TerminalSession.InputLine = inputLine_;
    RoutePaneTo(&WindowPane);
    resize(WindowOuterWidth, WindowOuterHeight);
    LayOutPanes();
    inputLine_->setFocus(Qt::OtherFocusReason);
    connect(inputLine_, &InputLineEdit::LineEntered, this, [this] { ShowState(true); });
    ShowState(false);
    connect(&pollTimer_, &QTimer::timeout, this, &TerminalWindow::Tick);
    pollTimer_.start(PollIntervalMilliseconds);
}

TerminalWindow::~TerminalWindow() {
    pollTimer_.stop();
    TerminalSession.MainWindow = nullptr;
    TerminalSession.OutputPane = nullptr;
    TerminalSession.InputLine = nullptr;
}

bool TerminalWindow::event(QEvent* event) {
    // Whichever comes first once the platform has framed the window.
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate) {
        FitFrame();
    }
    return QWidget::event(event);
}

void TerminalWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutPanes();
}

void TerminalWindow::LayOutPanes() {
    // A client area smaller than the margins leaves a pane no room: it gets a size of 0
    // rather than the negative one the formulas give, which Qt would keep as it stands.
    const int clientWidth = width();
    const int clientHeight = height();
    const int paneWidth = qMax(0, clientWidth - PaneLeftMargin);
    outputPane_->setGeometry(PaneLeftMargin, 0, paneWidth, qMax(0, clientHeight - InputLineHeight));
    inputLine_->setGeometry(PaneLeftMargin, clientHeight - InputLineHeight, paneWidth,
                            InputLineHeight);
}

void TerminalWindow::FitFrame() {
    if (frameFitted_ || windowHandle() == nullptr) {
        return;
    }
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull()) {
        return; // not framed yet, or never (no window manager)
    }
    frameFitted_ = true;
    resize(WindowOuterWidth - frame.left() - frame.right(),
           WindowOuterHeight - frame.top() - frame.bottom());
}

void TerminalWindow::Tick() {
    PollTick();
    ShowState(false);
}

void TerminalWindow::ShowState(bool lineEntered) {
    char title[WindowTitleCapacity];
    char placeholder[PlaceholderCapacity];
    const bool uploadEnded =
        UpdateWindowState(&state_, clock_.elapsed() / 1000.0, lineEntered, title, placeholder);
    // The path's bytes came from the command line, in the locale's encoding.
    setWindowTitle(QString::fromLocal8Bit(title));
    inputLine_->setPlaceholderText(QString::fromLocal8Bit(placeholder));
    if (uploadEnded && !isActiveWindow()) {
        QApplication::alert(this);
    }
}

QMenu* TerminalWindow::NewPaneMenu() {
    QMenu* menu = outputPane_->createStandardContextMenu();
    menu->addSeparator();
    menu->addAction(QStringLiteral(u"Save as\u2026"), this, &TerminalWindow::SavePaneAs);
    return menu;
}

QString TerminalWindow::SaveFolder() {
    if (TerminalSession.UploadPath[0] == '\0') {
        return QDir::homePath();
    }
    return QFileInfo(QString::fromLocal8Bit(TerminalSession.UploadPath)).absolutePath();
}

void TerminalWindow::SavePaneAs() {
    const QString textFiles = QStringLiteral("Text files (*.txt)");
    QString chosenFilter;
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save the pane as"), SaveFolder(),
                                     textFiles + QStringLiteral(";;All files (*)"), &chosenFilter);
    if (path.isEmpty()) {
        return;
    }
    if (chosenFilter == textFiles && QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".txt");
    }
    SavePaneTo(path);
}

void TerminalWindow::SavePaneTo(const QString& path) {
    // The raw text keeps what the pane shows (a no-break space stays one); its paragraph
    // separators are the pane's line ends.
    const QByteArray text = outputPane_->document()
                                ->toRawText()
                                .replace(QChar::ParagraphSeparator, QLatin1Char('\n'))
                                .toUtf8();
    // Written beside the file and renamed over it: a failure leaves an existing file whole.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
        return;
    }
    QMessageBox::warning(
        this, QString::fromLatin1(WindowTitle),
        QStringLiteral("The pane could not be saved to %1:\n%2").arg(path, file.errorString()));
}
