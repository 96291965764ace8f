#include "shell/qt/terminal_window.h"

#include <QResizeEvent>
#include <QWindow>

#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "shell/qt/input_line_edit.h"
#include "shell/qt/output_pane_edit.h"

TerminalWindow::TerminalWindow()
    : inputLine_(new InputLineEdit(&leftControl_, this)),
      outputPane_(new OutputPaneEdit(inputLine_, this)) {
    setWindowTitle(QString::fromLatin1(WindowTitle));
    // Tab goes from the pane to the input line, as the panes stand on screen.
    setTabOrder(outputPane_, inputLine_);
    TerminalSession.MainWindow = this;
    TerminalSession.OutputPane = outputPane_;
    TerminalSession.InputLine = inputLine_;
    resize(WindowOuterWidth, WindowOuterHeight);
    LayOutPanes();
    inputLine_->setFocus(Qt::OtherFocusReason);
    connect(&pollTimer_, &QTimer::timeout, this, PollTick);
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
