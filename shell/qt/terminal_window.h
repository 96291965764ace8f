// The main window: the output pane above the input line, a 100 ms poll tick, and the key
// routing that makes typing anywhere end up in the input line.
#pragma once

#include <QTimer>
#include <QWidget>

#include "shell/qt/left_control_key.h"
#include "shell/window_layout.h"
#include "shell/window_state.h"

class InputLineEdit;
class OutputPaneEdit;
class QMenu;
class QSocketNotifier;

class TerminalWindow : public QWidget {
    Q_OBJECT

  public:
    TerminalWindow();
    ~TerminalWindow() override;

    OutputPaneEdit* OutputPane() const { return outputPane_; }
    InputLineEdit* InputLine() const { return inputLine_; }

    // The pane's context menu: the text field's own, "Fast upload" and "Save as…"; the caller
    // owns it.
    QMenu* NewPaneMenu();
    // Writes the pane's text as shown, in UTF-8 with LF line ends, to `path`; a message box
    // says why when it cannot.
    void SavePaneTo(const QString& path);
    // Where "Save as…" opens: the program file's folder, or else the home folder.
    static QString SaveFolder();
    // Logs the session into `path` (core/session_log.h); a message box says why when it cannot.
    bool StartLogTo(const QString& path);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void LayOutPanes();
    void FitFrame();
    void Tick();
    void TakeArrived();
    // Watches the port for what arrives while a fast upload runs, and only then.
    void WatchForArrivals();
    void ShowState(bool lineEntered);
    void SavePaneAs();
    void LogToFile();

    LeftControlKey leftControl_;
    InputLineEdit* inputLine_;
    OutputPaneEdit* outputPane_;
    QTimer pollTimer_;
    QSocketNotifier* arrivals_ = nullptr;
    WindowState state_;
    // The frame's size is known only once the window is on screen; the client area is
    // shrunk to make room for it once, before the user has resized anything.
    bool frameFitted_ = false;
};
