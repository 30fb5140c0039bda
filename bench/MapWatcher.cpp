#include "MapWatcher.h"

#include <cstdlib>
#include <memory>
#include <poll.h>
#include <stdexcept>

TMapWatcher::TMapWatcher(const std::string& display)
{
  int screenNumber = 0;
  Connection = ::xcb_connect(display.c_str(), &screenNumber);
  if (::xcb_connection_has_error(Connection)) {
    ::xcb_disconnect(Connection);
    throw std::runtime_error("cannot connect to the X server " + display);
  }
  xcb_screen_iterator_t screen = ::xcb_setup_roots_iterator(::xcb_get_setup(Connection));
  for (int i = 0; i < screenNumber; ++i)
    ::xcb_screen_next(&screen);
  Root = screen.data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  std::free(::xcb_request_check(Connection, ::xcb_change_window_attributes_checked(Connection, Root,
                                                                                     XCB_CW_EVENT_MASK, &mask)));
}

TMapWatcher::~TMapWatcher()
{
  ::xcb_disconnect(Connection);
}

std::optional<TMapWatcher::TTime> TMapWatcher::WaitForMapped(const std::string& title, std::chrono::milliseconds timeout)
{
  const TTime deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    while (xcb_generic_event_t* raw = ::xcb_poll_for_event(Connection)) {
      const TTime arrived = std::chrono::steady_clock::now(); // before the title's round trip
      const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(raw, &std::free);
      if (MappedTitle(*event) == title)
        return arrived;
    }
    if (::xcb_connection_has_error(Connection) || !WaitReadable(deadline))
      return std::nullopt;
  }
}

std::optional<std::string> TMapWatcher::MappedTitle(const xcb_generic_event_t& event)
{
  if ((event.response_type & 0x7F) != XCB_MAP_NOTIFY)
    return std::nullopt;
  const auto& map = reinterpret_cast<const xcb_map_notify_event_t&>(event);
  const xcb_get_property_cookie_t cookie =
      ::xcb_get_property(Connection, 0, map.window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
  const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      ::xcb_get_property_reply(Connection, cookie, nullptr), &std::free);
  if (!reply) // the window is gone already
    return std::nullopt;
  const auto* text = static_cast<const char*>(::xcb_get_property_value(reply.get()));
  return std::string(text, static_cast<std::size_t>(::xcb_get_property_value_length(reply.get())));
}

bool TMapWatcher::WaitReadable(TTime deadline)
{
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return false;
  pollfd fd{::xcb_get_file_descriptor(Connection), POLLIN, 0};
  return ::poll(&fd, 1, static_cast<int>(left.count())) >= 0; // a signal only shortens the wait
}
