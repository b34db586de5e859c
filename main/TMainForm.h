#pragma once
// The program's only window: the configured connections, the "Verbinden"
// button and the "Log schreiben" check box. Connecting minimises the window,
// starts the selected connection's target and watches the connection's mark
// (ConnectionWatch), its network interface where one is configured, its
// NetworkManager profile's active connection where it is a profile (which
// connecting activates instead of starting a target), else its status
// window: at every tick of the interval timer and at once whenever the
// interfaces, the profile or the desktop's windows change. Once the mark was
// seen and is gone again, the program ends.

#include <QCoreApplication>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/netif/InterfacePattern.h"

class ConnectionMark;
class ConnectionWatch;
class NetworkManagerMark;
class NetworkManagerProfileWatch;
struct NetworkManagerListing;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTimer;
class TChannel;
class TString;
class TStringCollection;
class TWindowsIterator;

// The channels of the main unit, looked up at start-up: errors and the
// connection log. The channel pool owns them.
extern TChannel* mainChannel;
extern TChannel* netLogChannel;

// Exit statuses of the program.
constexpr int EXIT_CONNECTION_ENDED = 0;  // also: closed before connecting
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_ENDED_WHILE_CONNECTED = 3;

class TMainForm : public QWidget {
  // Its texts are translated in the context "TMainForm" (main/translations).
  Q_DECLARE_TR_FUNCTIONS(TMainForm)

 public:
  TMainForm();
  ~TMainForm() override;

  // Frees the target of every connection and empties the list.
  virtual void clearConnections();
  // Reads the configuration file named after the executable; reports any
  // failure on mainChannel and returns false. Never raises.
  virtual bool init();
  // Hands the selected connection's target to the desktop. Raises
  // IllegalStateException when no connection is selected.
  virtual void startConnection();

  // Ends the program at the user's or the system's request: with
  // EXIT_ENDED_WHILE_CONNECTED while a connection is open (nothing is
  // logged: the connection may still be up), else as a normal end.
  void endOnRequest();
  // Whether a connection is open: started and its end not seen yet.
  bool isConnected() const { return connected_; }

  // The watcher, made on first use from the "window" titles. A failure is
  // reported as FATAL, termination is requested and nullptr returned.
  TWindowsIterator* getIterator();

  // Event handlers.
  void FormShow();
  void sbConnectClick();
  void timerTimer();
  void timerWarningsTimer();
  void FormDestroy();

  QComboBox* cbxConnection;
  QPushButton* sbConnect;
  QCheckBox* cbLog;
  QTimer* timer;
  QTimer* timerWarnings;

  int32_t intervalMillis = 1000;
  std::string windowTitles;
  int32_t warningsMillis = 0;
  std::unique_ptr<TStringCollection> titles;
  std::unique_ptr<TWindowsIterator> iterator;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Asks the event loop to end once the current handler has returned.
  void requestTermination(int exitStatus);
  // Reports a caught exception on mainChannel with the dialog writer; the
  // report never raises.
  void reportError(const std::exception* e, const std::string& prefix);
  // Runs `body`; any exception is reported with the prefix
  // "FATAL: TMainForm.<handler>: " and ends the program.
  template <class Body>
  void fatalOnFailure(const char* handler, Body&& body);
  std::string connectionName() const;
  // The mark that tells whether the selected connection is up: its status
  // window. nullptr after a failure reported by getIterator.
  std::unique_ptr<ConnectionMark> connectionMark();
  // Logs the open line, starts the selected connection and watches `mark`
  // (its status window when none is given).
  void openConnection(std::unique_ptr<ConnectionMark> mark);
  // The dialog after a configuration failure; ends the program.
  void illegalConfiguration();
  // Tells the watch's notice once, also one that comes while watching (a
  // source that settles on the event loop).
  void tellNotice();
  // The watch found the connection ended: logs its end and ends the program.
  void connectionEnded();
  // NetworkManager listed its profiles: after the configured connections the
  // window lists those of the listed types that no configured name already
  // stands for, while nothing is being connected. The first listing decides
  // whether a configuration without names has anything to list at all.
  void profilesListed(const NetworkManagerListing& listing);

  // One configured connection: its name as the configuration holds it (the
  // combo box shows it as well as Qt can), the target it starts and, when it
  // is watched through its network interface, that interface. A
  // NetworkManager connection has a profile (id or UUID) instead of a target,
  // and the key that named it.
  struct Connection {
    std::string name;
    std::unique_ptr<TString> target;
    std::optional<InterfacePattern> interface;
    std::string profile;
    std::string profileKey;
  };
  // In the order of the combo box.
  std::vector<Connection> connections_;
  // The connection selected in the combo box, or nullptr.
  const Connection* selectedConnection() const;
  // While connected: the rule applied to the connection's mark.
  std::unique_ptr<ConnectionWatch> watch_;
  // The watch's mark when the connection is a NetworkManager profile.
  NetworkManagerMark* profileMark_ = nullptr;
  // networkmanager.types: the profile types the window lists after the
  // configured connections, which are the first configuredCount_.
  std::vector<std::string> profileTypes_;
  size_t configuredCount_ = 0;
  std::unique_ptr<NetworkManagerProfileWatch> profileWatch_;
  bool profilesListed_ = false;  // the first listing has come
  bool pressed_ = false;         // connecting has begun: the list stays as it is
  bool ending_ = false;          // termination requested: no more work
  bool connected_ = false;
  std::string toldNotice_;
  bool shown_ = false;
  bool destroyed_ = false;
};
