// The main window: the output pane above the input line, a 100 ms poll tick, and the key
// routing that makes typing anywhere end up in the input line.
#pragma once

#include <QTimer>
#include <QWidget>

#include "shell/qt/left_control_key.h"

class InputLineEdit;
class OutputPaneEdit;

constexpr const char* WindowTitle = "Varnoth serial terminal";
// The window's size at start, frame included.
constexpr int WindowOuterWidth = 640;
constexpr int WindowOuterHeight = 512;
// Both panes start this far from the window's left edge; the strip shows the window background.
constexpr int PaneLeftMargin = 8;
constexpr int InputLineHeight = 24;
// How often the core is asked to fetch what the device sent.
constexpr int PollIntervalMilliseconds = 100;

class TerminalWindow : public QWidget {
    Q_OBJECT

  public:
    TerminalWindow();
    ~TerminalWindow() override;

    OutputPaneEdit* OutputPane() const { return outputPane_; }
    InputLineEdit* InputLine() const { return inputLine_; }

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void LayOutPanes();
    void FitFrame();

    LeftControlKey leftControl_;
    InputLineEdit* inputLine_;
    OutputPaneEdit* outputPane_;
    QTimer pollTimer_;
    // The frame's size is known only once the window is on screen; the client area is
    // shrunk to make room for it once, before the user has resized anything.
    bool frameFitted_ = false;
};
