#include "main/CommandLine.h"

#include <cstring>
#include <string_view>

#include "basis/TSystem.h"
#include "main/TMainForm.h"

namespace {

// Qt's generic and X11 options, with and without a value; Qt removes them
// from the arguments itself. Both "-name" and "--name" are Qt's spellings.
constexpr std::string_view QT_OPTIONS_WITH_VALUE[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "display", "geometry", "style", "stylesheet", "name", "title", "qmljsdebugger"};
constexpr std::string_view QT_FLAGS[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <size_t N>
bool contains(const std::string_view (&list)[N], std::string_view option) {
  for (std::string_view known : list) {
    if (known == option) return true;
  }
  return false;
}

}  // namespace

CommandLineRequest parseCommandLine(int argc, char** argv) {
  CommandLineRequest request;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help") return {CommandLineRequest::Action::Help, {}};
    if (argument == "--version") return {CommandLineRequest::Action::Version, {}};
    if (argument.size() < 2 || argument[0] != '-') continue;
    std::string_view name = argument.substr(argument[1] == '-' ? 2 : 1);
    std::string_view bare = name.substr(0, name.find('='));
    if (contains(QT_OPTIONS_WITH_VALUE, bare)) {
      if (bare.size() == name.size()) ++i;  // the value is the next argument
      continue;
    }
    if (contains(QT_FLAGS, name)) continue;
    if (request.action == CommandLineRequest::Action::Run) {
      request = {CommandLineRequest::Action::UsageError, std::string(argument)};
    }
  }
  return request;
}

std::string helpText() {
  std::string text =
      "Usage: morvane [OPTION]...\n"
      "Offers the configured connections; \"Verbinden\" (Return, Alt+V) starts the chosen\n"
      "one and watches for its status window until it has come and gone.\n"
      "A connection NAME with the key NAME.interface in the configuration file is\n"
      "watched through its network interface instead: NAME.interface = wg0, or ppp*\n"
      "for every interface whose name begins with ppp. It counts as up while such an\n"
      "interface is up and has its carrier; its traffic is logged when it ends.\n"
      "A NAME with NAME.networkmanager = PROFILE (a NetworkManager profile's id or\n"
      "UUID) activates that profile instead of starting a target, and is up while its\n"
      "active connection is activated. networkmanager.types = vpn wireguard ... also\n"
      "offers every saved profile of these types.\n"
      "\n"
      "  -h, --help     show this help and exit\n"
      "  --version      show the version and exit\n"
      "Qt's own options (-platform, -display, ...) are passed on to Qt.\n"
      "\n"
      "Configuration folder: " +
      TSystem::getConfigurationPath() + "\nLooked for in this order (the first holding " +
      TSystem::configurationFileName(TSystem::getExecutablePath()) + " is used):\n";
  for (const std::string& folder : TSystem::configurationFolders()) text += "  " + folder + "\n";
  text += "\nExit status:\n"
          "  " + std::to_string(EXIT_CONNECTION_ENDED) +
          "  the connection ended, or the program was closed before connecting\n"
          "  " + std::to_string(EXIT_FAILED) +
          "  the configuration failed, no display could be opened, or a fatal error was reported\n"
          "  " + std::to_string(EXIT_USAGE) + "  unknown option\n"
          "  " + std::to_string(EXIT_ENDED_WHILE_CONNECTED) +
          "  closed, ended by SIGTERM, SIGINT or SIGHUP, or the display went away, while\n"
          "     still connected\n";
  return text;
}

std::string versionText() { return std::string("morvane ") + MORVANE_VERSION + "\n"; }
