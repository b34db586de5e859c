#pragma once
// The timeline the program tests run on each desktop. With interval = 5 the
// ticks come five seconds apart from connecting. Half a second after the
// first tick the status window opens; a second later it is re-created
// (closed, and 10 ms later opened again), which must not end the connection;
// it closes 2.5 s after that tick, and the end must be logged at once, not
// at the next tick: within 400 ms. A probe watching the same desktop tells
// whether the re-creation was quick enough for the program's grace of 80 ms
// (a gap under half of it); when a loaded machine made it slower, the run
// is abandoned and made again.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/windows/WindowSource.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowGapProbe.h"

struct StatusWindowTimeline {
  using Clock = std::chrono::steady_clock;

  std::string logPath;                                  // the connection log
  std::function<void()> connect;                        // starts the program, presses "Verbinden"
  std::function<void()> open;                           // opens a status window
  std::function<void()> close;                          // closes the one opened last
  std::function<void()> abandon;                        // ends the program
  std::function<int()> exitStatus;                      // waits for the program's end
  std::function<std::unique_ptr<WindowSource>()> desktop;  // a source for the probe
  std::string title;                                    // the status window's title, as far as watched

  // When `line` first showed in the connection log (looked at every 5 ms).
  std::optional<Clock::time_point> waitForLog(const std::string& line) const {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(20);
    for (; Clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (TempDir::read(logPath).find(line) != std::string::npos) return Clock::now();
    }
    return std::nullopt;
  }

  void run() const {
    using namespace std::chrono_literals;
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::remove(logPath.c_str());
      connect();
      std::optional<Clock::time_point> connected = waitForLog("open connection @demo\r\n");
      ASSERT_TRUE(connected.has_value()) << "no connection";
      WindowGapProbe probe(desktop(), title);
      std::this_thread::sleep_until(*connected + 5500ms);
      open();
      std::this_thread::sleep_until(*connected + 6500ms);
      close();
      std::this_thread::sleep_for(10ms);
      open();
      std::this_thread::sleep_until(*connected + 7500ms);
      if (probe.longestGap() >= 40ms) {
        abandon();
        close();
        continue;
      }
      EXPECT_EQ(TempDir::read(logPath).find("close connection"), std::string::npos) << "a re-created window is no end";
      const Clock::time_point gone = Clock::now();
      close();
      std::optional<Clock::time_point> closed = waitForLog("close connection @demo\r\n");
      ASSERT_TRUE(closed.has_value()) << TempDir::read(logPath);
      EXPECT_LT(*closed - gone, 400ms) << "logged after "
                                       << std::chrono::duration_cast<std::chrono::milliseconds>(*closed - gone).count()
                                       << " ms";
      EXPECT_EQ(exitStatus(), 0);
      return;
    }
    ADD_FAILURE() << "the window was never re-created quickly enough";
  }
};
