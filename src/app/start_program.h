#pragma once

#include <memory>

namespace viewer {

class MainWindow;

// Names the program and its version for the platform (before the application object exists).
void SetVersionRecord();

// Processes the window's pending events; the page fetcher's pump.
void ProcessPendingEvents();

// Releases CurrentThread and GuidePageHtml. The exit routine: runs once, at the end.
void ReleaseGlobals();

// Start-up up to the message loop: registers the exit routine, creates the hidden window, runs
// the newest-thread discovery, lays the window out and shows it centred. The window is returned
// as it is if it was closed meanwhile.
std::unique_ptr<MainWindow> OpenMainWindow();

// OpenMainWindow, then the message loop until the window is closed. The result is the exit
// status.
int StartProgram();

}  // namespace viewer
