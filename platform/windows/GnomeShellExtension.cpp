#include "platform/windows/GnomeShellExtension.h"

#include <QDBusArgument>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QVariantMap>
#include <vector>

#include "basis/TSystem.h"
#include "platform/SessionBus.h"

namespace {

const QString SHELL = QStringLiteral("org.gnome.Shell");
const QString SHELL_PATH = QStringLiteral("/org/gnome/Shell");
const QString EXTENSIONS = QStringLiteral("org.gnome.Shell.Extensions");
// The states GNOME Shell reports for an extension.
enum State { Unknown = 0, Enabled = 1, Disabled = 2, Failed = 3, OutOfDate = 4, NotEnabled = 6 };

struct Extension {
  QString uuid;
  int state = Unknown;
  QString error;
};

Extension infoOf(SessionBus& bus, const QString& uuid) {
  Extension extension;
  extension.uuid = uuid;
  QDBusMessage reply = bus.call(SHELL, SHELL_PATH, EXTENSIONS, "GetExtensionInfo", {uuid});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return extension;
  QVariantMap info = qdbus_cast<QVariantMap>(reply.arguments().first());
  if (info.isEmpty()) return extension;  // the shell has not found it: installed after it started, or not at all
  extension.state = static_cast<int>(info.value("state").toDouble());
  extension.error = info.value("error").toString();
  return extension;
}

QVariant shellProperty(SessionBus& bus, const QString& interface, const QString& name) {
  QDBusMessage reply = bus.call(SHELL, SHELL_PATH, "org.freedesktop.DBus.Properties", "Get", {interface, name});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QVariant();
  return reply.arguments().first().value<QDBusVariant>().variant();
}

// Where the extensions installed for this user alone are.
QString userShare() {
  QString home = qEnvironmentVariable("XDG_DATA_HOME");
  return QDir::cleanPath(home.isEmpty() ? QDir::homePath() + "/.local/share" : home);
}

std::string notice(const std::string& text) {
  return "GNOME Shell shows its windows to Morvane only through Morvane's window list extension. " + text;
}

}  // namespace

std::string GnomeShellExtension::installedCopy(bool& whereShellLooks) {
  auto copyIn = [](const QString& share) {
    for (const char* uuid : {UUID, LEGACY_UUID}) {
      const QString folder = QDir::cleanPath(share + "/gnome-shell/extensions/" + uuid);
      if (QFileInfo::exists(folder + "/metadata.json")) return folder.toStdString();
    }
    return std::string();
  };
  QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dirs.isEmpty()) dirs = "/usr/local/share:/usr/share";
  whereShellLooks = true;
  for (const QString& share : QStringList{userShare()} + dirs.split(':', Qt::SkipEmptyParts)) {
    if (std::string copy = copyIn(share); !copy.empty()) return copy;
  }
  // <prefix>/libexec/morvane/morvane: the share folder of its prefix.
  whereShellLooks = false;
  return copyIn(QFileInfo(QString::fromStdString(TSystem::getExecutablePath())).absolutePath() + "/../../share");
}

std::string GnomeShellExtension::prepare(SessionBus& bus, const QString& shell, std::string& ifLate) {
  ifLate.clear();
  const QString owner = bus.ownerOf(BUS_NAME);
  if (owner == shell) return std::string();
  if (!owner.isEmpty()) {
    return notice(
        "Another program holds the extension's bus name (org.morvane.WindowList), so Morvane does not "
        "trust the windows listed there. End that program, then log out and log in once.");
  }
  std::vector<Extension> forms{infoOf(bus, UUID), infoOf(bus, LEGACY_UUID)};
  auto any = [&](std::initializer_list<int> states) -> const Extension* {
    for (const Extension& form : forms) {
      for (int state : states) {
        if (form.state == state) return &form;
      }
    }
    return nullptr;
  };
  const QVariant userExtensions = shellProperty(bus, EXTENSIONS, "UserExtensionsEnabled");
  if (userExtensions.isValid() && !userExtensions.toBool() && any({Enabled, Disabled, NotEnabled}) != nullptr) {
    return notice(
        "Extensions are switched off in this GNOME session (GNOME also switches them off after a "
        "crash of the shell). Switch them on again in the Extensions app, or with `gsettings set "
        "org.gnome.shell disable-user-extensions false`.");
  }
  if (any({Enabled}) != nullptr) {
    ifLate = notice("GNOME Shell runs it, but it does not publish the windows: log out and log in once.");
    return std::string();
  }
  if (const Extension* off = any({Disabled, NotEnabled})) {
    // The shell answers once the extension has started; the source does not wait for that.
    QDBusMessage enable = QDBusMessage::createMethodCall(SHELL, SHELL_PATH, EXTENSIONS, "EnableExtension");
    enable << off->uuid;
    bus.connection().asyncCall(enable);
    ifLate = notice("Morvane has switched it on for you; GNOME Shell starts it after you log out and log in once.");
    return std::string();
  }
  if (const Extension* failed = any({Failed})) {
    return notice("GNOME Shell could not start it (" + failed->error.toStdString() +
                  "). Reinstall Morvane, then log out and log in once.");
  }
  if (any({OutOfDate}) != nullptr) {
    return notice("It is not made for this version of GNOME Shell (" +
                  shellProperty(bus, SHELL, "ShellVersion").toString().toStdString() + "): install a newer Morvane.");
  }
  bool whereShellLooks = false;
  const std::string copy = installedCopy(whereShellLooks);
  if (copy.empty()) {
    return notice(
        "It is not installed: install Morvane's package (or run `cmake --install` with a prefix whose "
        "share folder GNOME searches), then log out and log in once.");
  }
  if (!whereShellLooks) {
    return notice("It is installed in " + copy +
                  ", where GNOME Shell does not look for extensions: copy that folder into "
                  "~/.local/share/gnome-shell/extensions/, then log out and log in once.");
  }
  // GNOME 48 may skip the per-user folder (allow-extension-installation).
  const bool forYouAlone = QString::fromStdString(copy).startsWith(userShare() + "/");
  return notice(
      "It was installed after this GNOME session began, and GNOME Shell finds new extensions only "
      "when it starts: log out and log in once. Morvane then switches it on by itself." +
      std::string(forYouAlone ? " It is installed for you alone (" + copy +
                                    "); where GNOME's setting allow-extension-installation is off, only a copy "
                                    "for all users, in /usr/share/gnome-shell/extensions/, is loaded."
                              : ""));
}
