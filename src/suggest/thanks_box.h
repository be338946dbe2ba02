#pragma once

// The one message the viewer ever shows: thanks for a suggestion the server answered.

#include <functional>

class QMessageBox;

namespace viewer {

// Shows the thanks above every window, without an owner, and returns when it is dismissed;
// the main window stays usable meanwhile.
void ShowThanksBox();

// Test hook: called once the box is shown, from inside its wait, so a test can read and answer it.
using ThanksBoxHook = std::function<void(QMessageBox &box)>;
void SetThanksBoxHookForTesting(ThanksBoxHook hook);

}  // namespace viewer
