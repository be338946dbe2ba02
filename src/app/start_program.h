#pragma once

#include <functional>
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

// Runs `body` inside the program's surroundings: shader caches kept off the disk, libcurl's
// global state, the version record, the application object and the page fetcher's event pump.
// The application is gone, and the exit routines have run, when this returns body's result.
int RunApplication(int &argc, char **argv, const std::function<int()> &body);

}  // namespace viewer
