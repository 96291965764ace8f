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
#include <QSocketNotifier>
#include <QWindow>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/session_log.h"
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
    connect(inputLine_, &InputLineEdit::LineEntered, this, [this] {
        WatchForArrivals();
        ShowState(true);
    });
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
    if (FastUploadRunning()) {
        // The tick still marks the silences and ends the chunks a fast upload leaves.
        PollArrived(0);
    } else {
        PollTick();
    }
    WatchForArrivals();
    ShowState(false);
}

void TerminalWindow::TakeArrived() {
    PollArrived(0);
    WatchForArrivals();
    ShowState(false);
}

void TerminalWindow::WatchForArrivals() {
    // The POSIX link's port handle is its file descriptor.
    const int port = static_cast<int>(TerminalSession.PortHandle);
    const bool wanted = FastUploadRunning() && TerminalSession.PortHandle != InvalidPortHandle;
    if (arrivals_ != nullptr && (!wanted || arrivals_->socket() != port)) {
        delete arrivals_;
        arrivals_ = nullptr;
    }
    if (wanted && arrivals_ == nullptr) {
        arrivals_ = new QSocketNotifier(port, QSocketNotifier::Read, this);
        connect(arrivals_, &QSocketNotifier::activated, this, &TerminalWindow::TakeArrived);
    }
}

void TerminalWindow::ShowState(bool lineEntered) {
    char title[WindowTitleCapacity];
    char placeholder[PlaceholderCapacity];
    const bool uploadEnded =
        UpdateWindowState(&state_, lineEntered, title, placeholder);
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
    // Used by the next "rp!"; off at every start, as the terminal keeps no settings.
    QAction* fast = menu->addAction(QStringLiteral("Fast upload"));
    fast->setCheckable(true);
    fast->setChecked(TerminalSession.FastUploads);
    connect(fast, &QAction::toggled, this, [](bool on) { TerminalSession.FastUploads = on; });
    // How what comes from now on shows; the log and what is sent stay as they are.
    QAction* times = menu->addAction(QStringLiteral("Show times"));
    times->setCheckable(true);
    times->setChecked(TerminalSession.ShowTimes);
    connect(times, &QAction::toggled, this, [](bool on) { TerminalSession.ShowTimes = on; });
    QAction* hex = menu->addAction(QStringLiteral("Show bytes in hex"));
    hex->setCheckable(true);
    hex->setChecked(TerminalSession.ShowHex);
    connect(hex, &QAction::toggled, this, [](bool on) { ShowBytesInHex(on); });
    QAction* log = menu->addAction(QStringLiteral(u"Log to file\u2026"));
    log->setCheckable(true);
    log->setChecked(LogPath() != nullptr);
    connect(log, &QAction::toggled, this, [this](bool on) {
        if (on) {
            LogToFile();
        } else {
            StopLog();
        }
        ShowState(false);
    });
    menu->addAction(QStringLiteral(u"Save as\u2026"), this, &TerminalWindow::SavePaneAs);
    return menu;
}

void TerminalWindow::LogToFile() {
    // The log is appended to, never truncated: an existing file is no reason to ask.
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Log the session to"), SaveFolder(),
        QStringLiteral("Log files (*.log);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) {
        StartLogTo(path);
    }
}

bool TerminalWindow::StartLogTo(const QString& path) {
    char reason[LogFileReasonCapacity] = "";
    if (StartLog(path.toLocal8Bit().constData(), reason)) {
        return true;
    }
    QMessageBox::warning(this, QString::fromLatin1(WindowTitle),
                         QStringLiteral("The session cannot be logged to %1:\n%2")
                             .arg(path, QString::fromLocal8Bit(reason)));
    return false;
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
