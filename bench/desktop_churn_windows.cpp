// desktop_churn_windows: many native windows of one Wayland client, for the
// desktop benchmark's churn. Commands on standard input, one a line; each is
// answered with one line on standard output once the client has sent it:
//   open N      N windows more, titled "Churn <k>", each shown
//   flash N     N windows opened and closed at once, never waited for
//   retitle     every open window gets "Churn <k> renamed"
//   close N     the N oldest open windows go (all when N is larger)
//   titles      "titles <n>\t<title>\t..." of the open windows
// Runs with QT_QPA_PLATFORM=wayland; ends at the end of its input. The
// client paces itself: its Wayland connection dies when it queues more
// requests than the compositor has read ("Resource temporarily
// unavailable").
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QThread>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <sstream>
#include <string>

namespace {

class ChurnWindow : public QRasterWindow {
 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(0, 0, width(), height(), Qt::white); }
};

struct Churn {
  std::deque<std::unique_ptr<ChurnWindow>> windows;
  size_t next = 0;

  std::unique_ptr<ChurnWindow> make() {
    auto window = std::make_unique<ChurnWindow>();
    window->setTitle(QStringLiteral("Churn %1").arg(next++));
    window->resize(40, 30);
    window->show();
    return window;
  }

  // Lets the compositor read what was sent.
  static void settle() {
    QGuiApplication::processEvents();
    QThread::msleep(5);
    QGuiApplication::processEvents();
  }

  std::string run(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    size_t n = 0;
    in >> command >> n;
    if (command == "open") {
      for (size_t i = 0; i < n; ++i) {
        windows.push_back(make());
        QElapsedTimer waited;
        waited.start();
        while (!windows.back()->isExposed() && waited.elapsed() < 5000) {
          QGuiApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
      }
    } else if (command == "flash") {
      for (size_t i = 0; i < n; ++i) {
        make().reset();
        if (i % 5 == 4) settle();
      }
    } else if (command == "retitle") {
      for (auto& window : windows) window->setTitle(window->title() + QStringLiteral(" renamed"));
    } else if (command == "close") {
      for (size_t i = 0; i < n && !windows.empty(); ++i) {
        windows.pop_front();
        if (i % 10 == 9) settle();
      }
    } else if (command == "titles") {
      std::string reply = "titles " + std::to_string(windows.size());
      for (auto& window : windows) reply += "\t" + window->title().toStdString();
      return reply;
    } else {
      return "unknown " + command;
    }
    return "done " + command;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  Churn churn;
  QSocketNotifier input(0, QSocketNotifier::Read);
  std::string pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[4096];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0) {
      QGuiApplication::quit();
      return;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string reply = churn.run(pending.substr(0, end));
      QGuiApplication::processEvents();  // the requests leave before the answer
      std::printf("%s\n", reply.c_str());
      std::fflush(stdout);
    }
  });
  return QGuiApplication::exec();
}
