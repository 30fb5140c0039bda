#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <optional>
#include <string>

// Watches an X server for top-level windows being mapped, i.e. appearing on the screen. With no
// window manager they are the root window's children, so the root's notices say it all.
class TMapWatcher {
public:
  using TTime = std::chrono::steady_clock::time_point;

  // Connects to the display, e.g. ":5"; throws std::runtime_error when it cannot.
  explicit TMapWatcher(const std::string& display);
  ~TMapWatcher();
  TMapWatcher(const TMapWatcher&) = delete;
  TMapWatcher& operator=(const TMapWatcher&) = delete;

  // When the server's notice that a window with this title was mapped arrived; none within the time.
  std::optional<TTime> WaitForMapped(const std::string& title, std::chrono::milliseconds timeout);

private:
  // The title of a mapped window, when this is its map notice.
  std::optional<std::string> MappedTitle(const xcb_generic_event_t& event);
  bool WaitReadable(TTime deadline);

  xcb_connection_t* Connection = nullptr;
  xcb_window_t Root = 0;
};
