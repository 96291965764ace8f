// What both window shells show alike: the title, the window's size at start, and where the two
// panes sit.
#pragma once

constexpr const char* WindowTitle = "Varnoth serial terminal";
// The window's size at start, frame included.
constexpr int WindowOuterWidth = 640;
constexpr int WindowOuterHeight = 512;
// Both panes start this far from the window's left edge; the strip shows the window background.
constexpr int PaneLeftMargin = 8;
// The input line's height at the bottom; the output pane takes the rest above it.
constexpr int InputLineHeight = 24;
