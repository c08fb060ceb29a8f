#pragma once
// Pieces shared by both simulator modes: the stop request and small helpers.
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim {

using Clock = std::chrono::steady_clock;

// Set by SIGINT/SIGTERM/SIGHUP; the wake descriptor becomes readable at the same time so
// a poll() in progress returns at once.
bool stopRequested();
int wakeFd();
void installStopHandlers();

// "01 03 00 ..." for the log.
std::string hexLine(const std::uint8_t* data, std::size_t size);

// Milliseconds until `when`, clamped to 0, or -1 (wait forever) when there is no deadline.
int msUntil(const Clock::time_point* when);

bool writeAll(int fd, const char* data, std::size_t size);

} // namespace devsim
