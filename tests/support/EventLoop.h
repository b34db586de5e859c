#pragma once
// Running the Qt event loop inside a test without ever hanging it.

#include <functional>

// Runs the event loop until `done` returns true or `timeoutMs` passed (the
// reaper). Returns whether `done` became true; a test asserts on it.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Runs the event loop for `ms` milliseconds (to see that nothing happens).
void runEventLoopFor(int ms);
