// Morvane's start routine: the UI framework first, then the base library,
// the diagnostics and the main unit's channels, then the window and the loop.
#include <QApplication>
#include <clocale>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "debug/TChannelPool.h"
#include "main/MessageBoxHook.h"
#include "main/TMainForm.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName("morvane");
  installMessageBoxHook();

  startupBasis();
  startupDebug();
  mainChannel = TChannelPool::getChannel("morvane");
  netLogChannel = TChannelPool::getChannel("net-log");

  int status;
  {
    TMainForm form;
    form.show();
    status = QApplication::exec();
  }  // the form's destruction releases the diagnostics
  return status;
}
