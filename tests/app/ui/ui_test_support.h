#pragma once

#include <QGuiApplication>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace tolvane::testing {

// The test program's one GUI application, on a private Xvfb display (started on first use,
// stopped by PID when the program ends), with the software Qt Quick renderer, the Basic
// controls style, DejaVu Sans and settings kept in a private directory.
QGuiApplication& guiApplication();
// The display the application runs on, ":N".
const std::string& testDisplayName();

// Runs the event loop until `done` holds; false after `deadline` (a guard against hangs
// only, nothing waits on a time of its own).
bool processEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Where screenshots for review go: <build>/artifacts/screenshots.
std::filesystem::path screenshotDirectory();

}  // namespace tolvane::testing
