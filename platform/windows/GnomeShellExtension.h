#pragma once
// Morvane's window list extension for GNOME Shell, as the running shell sees
// it, and what a user has to do before it runs.
//
// The extension comes in two forms under two uuids, both installed: GNOME
// Shell 45 and later load an ES module (UUID), 43 and 44 a script
// (LEGACY_UUID). Each form's metadata names the shell versions it is made
// for, so the shell itself reports the other form as out of date and runs
// only the one that fits. The shell finds an extension only when it starts,
// so a first install needs one log-out and log-in; enabling it is per user
// and takes effect at once for an extension the shell has found.

#include <QString>
#include <string>

class SessionBus;

class GnomeShellExtension {
 public:
  static constexpr const char* UUID = "windowlist@morvane.org";
  static constexpr const char* LEGACY_UUID = "windowlist-gnome43@morvane.org";
  static constexpr const char* BUS_NAME = "org.morvane.WindowList";

  // How long an extension that is enabled may take to publish the list.
  static constexpr int START_MS = 3000;

  // Sees to it that the shell (the unique name `shell`) runs the window
  // list: enables an extension the shell has found but that is not enabled
  // for this user. Returns "" when the shell publishes the list or is about
  // to, else a notice that says in plain words which case holds and what
  // the user can do. When the list is not there yet, `ifLate` is the notice
  // for a list that has not come within START_MS.
  static std::string prepare(SessionBus& bus, const QString& shell, std::string& ifLate);

  // The installed copies a shell would find at its next start, looked for in
  // $XDG_DATA_HOME and $XDG_DATA_DIRS; else one installed with this program
  // in a folder the shell does not search. "" when there is none.
  static std::string installedCopy(bool& whereShellLooks);
};
