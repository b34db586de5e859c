#include "tests/support/X11TestDisplay.h"

#include "tests/support/ChildProcess.h"

#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

X11TestDisplay::X11TestDisplay(const std::vector<std::string>& serverOptions) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  // Xvfb writes the display number it found free to the pipe once it listens.
  std::vector<std::string> command = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                                      "-screen", "0", "1024x768x24"};
  command.insert(command.end(), serverOptions.begin(), serverOptions.end());
  server_ = childprocess::spawn(command, {}, fds[1]);
  ::close(fds[1]);
  std::string number;
  char ch = 0;
  while (::read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
  ::close(fds[0]);
  if (number.empty()) {
    childprocess::stop(server_);
    throw std::runtime_error("Xvfb did not start");
  }
  name_ = ":" + number;
  connection_ = xcb_connect(name_.c_str(), nullptr);
  if (xcb_connection_has_error(connection_) != 0) {
    xcb_disconnect(connection_);
    childprocess::stop(server_);
    throw std::runtime_error("cannot connect to Xvfb on " + name_);
  }
  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

X11TestDisplay::~X11TestDisplay() {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) childprocess::stop(*it);
  xcb_disconnect(connection_);
  childprocess::stop(server_);
}

void X11TestDisplay::stopServer() {
  ::kill(server_, SIGKILL);
  childprocess::stop(server_);
  server_ = -1;
}

uint32_t X11TestDisplay::atom(const std::string& name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str());
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
  if (reply == nullptr) throw std::runtime_error("cannot intern " + name);
  uint32_t result = reply->atom;
  std::free(reply);
  return result;
}

uint32_t X11TestDisplay::createWindow(const WindowSpec& settings) {
  xcb_window_t window = xcb_generate_id(connection_);
  uint32_t values[] = {settings.overrideRedirect ? 1u : 0u};
  xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, settings.parent != 0 ? settings.parent : root_, 10, 10,
                    100, 50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                    values);
  if (settings.netWmName != nullptr) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                        static_cast<uint32_t>(std::strlen(settings.netWmName)), settings.netWmName);
  }
  if (settings.wmName != nullptr) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(std::strlen(settings.wmName)), settings.wmName);
  }
  if (settings.mapped) xcb_map_window(connection_, window);
  sync();
  return window;
}

uint32_t X11TestDisplay::createTitled(const std::string& title, bool mapped) {
  WindowSpec settings;
  settings.netWmName = title.c_str();
  settings.wmName = title.c_str();
  settings.mapped = mapped;
  return createWindow(settings);
}

void X11TestDisplay::destroyWindow(uint32_t window) {
  xcb_destroy_window(connection_, window);
  sync();
}

void X11TestDisplay::sync() {
  std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

pid_t X11TestDisplay::spawn(const std::vector<std::string>& argv) {
  pid_t pid = childprocess::spawn(argv, {"DISPLAY=" + name_});
  children_.push_back(pid);
  return pid;
}

void X11TestDisplay::kill(pid_t pid) {
  childprocess::stop(pid);
  std::erase(children_, pid);
}

void X11TestDisplay::startWindowManager() {
  spawn({"openbox", "--sm-disable"});
  // Openbox drops the map requests that reach it while it starts up, so it
  // counts as running once it has framed a probe window; the probe is mapped
  // again until it has.
  uint32_t probe = createWindow({});
  bool running = false;
  for (int attempt = 0; attempt < 50 && !running; ++attempt) {
    running = waitManaged(probe, 200);
    if (!running) {
      xcb_unmap_window(connection_, probe);
      xcb_map_window(connection_, probe);
      sync();
    }
  }
  destroyWindow(probe);
  if (!running) throw std::runtime_error("openbox did not start");
}

bool X11TestDisplay::waitManaged(uint32_t window, int timeoutMs) {
  const uint32_t wmState = atom("WM_STATE");
  return childprocess::waitFor(
      [&] {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        bool moved = tree != nullptr && tree->parent != root_;
        std::free(tree);
        if (!moved) return false;
        xcb_get_property_reply_t* state = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
        bool marked = state != nullptr && state->type != XCB_NONE;
        std::free(state);
        return marked;
      },
      timeoutMs);
}

uint32_t X11TestDisplay::waitForTitle(const std::string& title, int timeoutMs) {
  // Looks two levels down, enough for a top-level window or a framed client.
  auto hasTitle = [&](xcb_window_t window) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
        nullptr);
    bool same = reply != nullptr &&
                std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                            static_cast<size_t>(xcb_get_property_value_length(reply))) == title;
    std::free(reply);
    return same;
  };
  std::function<xcb_window_t(xcb_window_t, int)> search = [&](xcb_window_t window, int depth) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
    if (tree == nullptr) return xcb_window_t{XCB_NONE};
    xcb_window_t found = XCB_NONE;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_NONE; ++i) {
      if (hasTitle(children[i])) {
        found = children[i];
      } else if (depth > 0) {
        found = search(children[i], depth - 1);
      }
    }
    std::free(tree);
    return found;
  };
  xcb_window_t window = XCB_NONE;
  childprocess::waitFor([&] { return (window = search(root_, 1)) != XCB_NONE; }, timeoutMs);
  return window;
}
