// The main window: the output pane above the input line, a 100 ms poll tick, and the key
// routing that makes typing anywhere end up in the input line.
#pragma once

#include <QTimer>
#include <QWidget>

#include "shell/qt/left_control_key.h"
#include "shell/window_layout.h"

class InputLineEdit;
class OutputPaneEdit;

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
