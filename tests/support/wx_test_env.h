// Test support: the toolkit brought up inside a test program, for in-process GUI tests.
#pragma once

#include <functional>

// Makes an application object, starts the toolkit on the sandbox's display as program_name
// (kept for the program's life) and sets an active event loop. A display or start-up that
// fails is a fatal test failure ("no display?"); the caller checks HasFatalFailure().
void start_test_toolkit(const char *program_name);
// Drops the event loop and ends the toolkit started by start_test_toolkit.
void stop_test_toolkit();

// Runs the toolkit's pending events, and its idle handlers too when with_idle is true, until
// done() is true or timeout_ms pass; returns the final done().
bool pump_test_toolkit_until(const std::function<bool()> &done, int timeout_ms, bool with_idle);
