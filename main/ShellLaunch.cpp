#include "main/ShellLaunch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace {
bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}
}  // namespace

void shellLaunch(const std::string& target) {
  const QString text = QString::fromLocal8Bit(target.data(), static_cast<qsizetype>(target.size()));
  if (isExecutableFile(target)) {
    QProcess::startDetached(text, {});
    return;
  }
  QDesktopServices::openUrl(QUrl::fromUserInput(text, QString(), QUrl::AssumeLocalFile));
}
