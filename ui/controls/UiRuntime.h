#pragma once
// How the window layer meets the rest of the program at run time: toolkit assertion failures go
// to the activity log (and to an optional observer, e.g. a test) instead of a pop-up, and the
// platform's worker wait lets the event loop run while an engine worker works.
#include <functional>
#include <string>

// Replaces the toolkit's assertion dialog: each failure is logged as an error line and handed to
// `observer` when one is given.
void InstallUiAssertHandler(std::function<void(const std::string&)> observer = {});

// Makes platform::WaitForWorker run the event loop on the UI thread between its checks.
void InstallWxPumpHook();
// Handles the UI thread's pending events (nothing when called on another thread or while the
// loop is already doing so).
void PumpUiEvents();
