// The asynchronous socket against real loopback servers on a real event loop.
#include "net/TWSocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/LoopbackServer.h"
#include "tests/support/EventLoop.h"

namespace {

// A socket whose notifications are written to a log in the order they come.
struct Probe {
  std::unique_ptr<TWSocket> socket = std::make_unique<TWSocket>();
  std::vector<std::string> log;
  std::string received;
  bool insideCall = false;
  bool notifiedInsideCall = false;

  Probe() {
    TWSocket* s = socket.get();
    s->OnDnsLookupDone = [this](TCustomWSocket*, uint16_t e) { note("dns " + std::to_string(e)); };
    s->OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { note("connected " + std::to_string(e)); };
    s->OnDataSent = [this](TCustomWSocket*, uint16_t e) { note("sent " + std::to_string(e)); };
    s->OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { note("closed " + std::to_string(e)); };
    s->OnDataAvailable = [this](TCustomWSocket* sender, uint16_t) {
      char buffer[4096];
      int n = sender->Receive(buffer, sizeof buffer);
      if (n > 0) {
        received.append(buffer, static_cast<size_t>(n));
        note("data");
      }
    };
  }
  void note(const std::string& what) {
    if (insideCall) notifiedInsideCall = true;
    if (what != "data" || log.empty() || log.back() != "data") log.push_back(what);
  }
  bool has(const std::string& entry) const {
    for (const auto& e : log)
      if (e == entry) return true;
    return false;
  }
  void connectTo(const std::string& port) {
    socket->SetAddr("127.0.0.1");
    socket->SetPort(port);
    socket->Connect();
  }
};

// Connects a probe to a fresh server and returns the server side.
int connectPair(Probe& probe, LoopbackServer& server) {
  probe.connectTo(server.portText());
  int peer = server.accept();
  EXPECT_GE(peer, 0);
  EXPECT_TRUE(runEventLoopUntil([&] { return probe.has("connected 0"); }));
  return peer;
}

}  // namespace

TEST(TWSocketTest, ErrorTextsAndHostName) {
  EXPECT_EQ(TWSocket::ErrorDescription(0), "No Error");
  EXPECT_EQ(TWSocket::ErrorDescription(10061), "Connection refused");
  EXPECT_EQ(TWSocket::ErrorDescription(10047), "Address family not supported by protocol family");
  EXPECT_EQ(TWSocket::ErrorDescription(11004), "No Data");
  EXPECT_EQ(TWSocket::ErrorDescription(10010), "Not a WinSock error");
  std::string name = TWSocket::GetLocalHostName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 63u);
}

TEST(TWSocketTest, NewSocketDefaults) {
  TWSocket s;
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(s.LocalPort(), "0");
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.FlushTimeout(), 60);
  EXPECT_TRUE(s.AllSent());
  s.SetAddr("  127.0.0.1 ");
  EXPECT_EQ(s.Addr(), "127.0.0.1");
}

TEST(TWSocketTest, StatesThenSendCompletesFromTheLoopNotInsideSend) {
  LoopbackServer server;
  Probe probe;
  std::vector<std::pair<int, int>> states;
  probe.socket->OnChangeState = [&](TCustomWSocket*, TSocketState from, TSocketState to) {
    states.emplace_back(from, to);
  };
  int peer = connectPair(probe, server);
  std::vector<std::pair<int, int>> expected{{wsClosed, wsOpened}, {wsOpened, wsConnecting},
                                            {wsConnecting, wsConnected}};
  EXPECT_EQ(states, expected);
  // The write event after the connection already reported an empty queue.
  ASSERT_TRUE(runEventLoopUntil([&] { return probe.has("sent 0"); }));
  probe.log.clear();

  probe.insideCall = true;
  EXPECT_EQ(probe.socket->SendText("0123456789"), 10);
  probe.insideCall = false;
  EXPECT_FALSE(probe.notifiedInsideCall) << "OnDataSent fired inside Send";
  EXPECT_TRUE(probe.log.empty());
  ASSERT_TRUE(runEventLoopUntil([&] { return probe.has("sent 0"); }));
  EXPECT_EQ(readBytes(peer, 10), "0123456789");
  EXPECT_EQ(probe.socket->Send("x", 0), 0);

  // A Send that overflows a partly filled block of the queue: every byte
  // leaves once and in order.
  std::string queued(1000, 'q');
  std::string overflow;
  for (int i = 0; i < 2 * TWSocket::SEND_BLOCK_SIZE; ++i) overflow += static_cast<char>('a' + i % 26);
  probe.socket->QueueData(queued.data(), static_cast<int32_t>(queued.size()));
  probe.socket->SendText(overflow);
  EXPECT_EQ(readBytes(peer, queued.size() + overflow.size()), queued + overflow);
  ::close(peer);
}

TEST(TWSocketTest, SendWhileConnectingFailsWithTheSocketErrorText) {
  LoopbackServer server;
  Probe probe;
  probe.connectTo(server.portText());
  ASSERT_EQ(probe.socket->State(), wsConnecting);
  try {
    probe.socket->SendText("early");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.getMessage(), "Error 10057 in function Send\r\nSocket is not connected");
  }
  EXPECT_EQ(probe.socket->LastError(), 10057);

  // With OnError set nothing is raised and Send answers -1.
  Probe second;
  int errors = 0;
  second.socket->OnError = [&](TCustomWSocket*) { ++errors; };
  second.connectTo(server.portText());
  EXPECT_EQ(second.socket->SendText("early"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(second.socket->LastError(), 10057);
}

TEST(TWSocketTest, HostLookup) {
  Probe probe;
  probe.insideCall = true;
  probe.socket->LookupHost("10.1.2.3");
  probe.insideCall = false;
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 0"}) << "a dotted address completes inside the call";
  EXPECT_EQ(probe.socket->DnsResult(), "10.1.2.3");

  probe.log.clear();
  probe.socket->LookupHost("localhost");
  EXPECT_TRUE(probe.log.empty());
  ASSERT_TRUE(runEventLoopUntil([&] { return !probe.log.empty(); }));
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(probe.socket->DnsResult(), "127.0.0.1");
  EXPECT_FALSE(probe.socket->DnsResultList().empty());

  probe.log.clear();
  probe.socket->LookupHost("no-such-host.invalid");
  ASSERT_TRUE(runEventLoopUntil([&] { return !probe.log.empty(); }, 20000));
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 11001"});
  EXPECT_EQ(probe.socket->DnsResult(), "");

  try {
    probe.socket->LookupHost("");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.getMessage(), "DNS lookup: invalid host name.");
  }
  probe.log.clear();
  probe.socket->OnError = [](TCustomWSocket*) {};
  probe.socket->LookupHost("");
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 10022"});
}

TEST(TWSocketTest, CancelLookupReportsInterruptedAndNothingLater) {
  Probe probe;
  probe.socket->CancelLookup();  // nothing pending: nothing happens
  EXPECT_TRUE(probe.log.empty());
  probe.socket->LookupHost("localhost");
  probe.socket->CancelLookup();
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 10004"});
  runEventLoopFor(300);
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 10004"});
  // Destroying the socket with a lookup pending notifies nothing.
  probe.socket->LookupHost("localhost");
  probe.socket.reset();
  runEventLoopFor(300);
  EXPECT_EQ(probe.log, std::vector<std::string>{"dns 10004"});
}

TEST(TWSocketTest, PropertiesAreFixedWhileOpenAndResetByClose) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  for (auto [setter, text] : {std::pair{&TWSocket::SetPort, "Cannot change Port if not closed"},
                              std::pair{&TWSocket::SetAddr, "Cannot change Addr if not closed"},
                              std::pair{&TWSocket::SetProto, "Cannot change Proto if not closed"}}) {
    try {
      (probe.socket.get()->*setter)("1");
      ADD_FAILURE() << "no exception for " << text;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.getMessage(), text);
    }
  }
  EXPECT_EQ(probe.socket->Port(), server.portText());
  probe.log.clear();
  probe.socket->Close();
  EXPECT_EQ(probe.log, std::vector<std::string>{"closed 0"});
  probe.socket->Close();
  EXPECT_EQ(probe.log, std::vector<std::string>{"closed 0"}) << "a second Close does nothing";
  EXPECT_EQ(probe.socket->State(), wsClosed);
  EXPECT_EQ(probe.socket->Addr(), "");
  EXPECT_EQ(probe.socket->Port(), "");
  EXPECT_EQ(probe.socket->Proto(), "tcp");
  EXPECT_EQ(probe.socket->ReadCount(), 0);
  // The peer sees an orderly end of stream.
  EXPECT_EQ(readBytes(peer, 1, 2000), "");
  ::close(peer);
}

TEST(TWSocketTest, ServerCloseAfterDataGivesClosedOnceAfterTheLastData) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  std::string payload(200000, 'a');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  writeAll(peer, payload);
  ::close(peer);
  ASSERT_TRUE(runEventLoopUntil([&] { return probe.has("closed 0"); }));
  runEventLoopFor(100);
  EXPECT_EQ(probe.received, payload);
  ASSERT_GE(probe.log.size(), 2u);
  EXPECT_EQ(probe.log.back(), "closed 0");
  EXPECT_EQ(probe.log[probe.log.size() - 2], "data");
  int closes = 0;
  for (const auto& e : probe.log) closes += e.rfind("closed", 0) == 0;
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(probe.socket->State(), wsClosed);
}

TEST(TWSocketTest, ConnectionRefusedArrivesThroughSessionConnected) {
  Probe probe;
  probe.connectTo(LoopbackServer::closedPort());
  EXPECT_TRUE(probe.log.empty());
  ASSERT_TRUE(runEventLoopUntil([&] { return probe.has("closed 0"); }));
  EXPECT_EQ(probe.log, (std::vector<std::string>{"connected 10061", "closed 0"}));
  EXPECT_EQ(probe.socket->State(), wsClosed);
}

TEST(TWSocketTest, PeerResetIsReportedAsConnectionReset) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  linger hard{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(peer);
  ASSERT_TRUE(runEventLoopUntil([&] { return probe.socket->State() == wsClosed; }));
  EXPECT_TRUE(probe.has("closed 10054"));
}

TEST(TWSocketTest, ConnectChecksAndResolution) {
  TWSocket s;
  auto failure = [&] {
    try {
      s.Connect();
    } catch (const ESocketException& e) {
      return e.getMessage();
    }
    return std::string("(none)");
  };
  EXPECT_EQ(failure(), "Connect: No Port Specified");
  s.SetPort("25");
  EXPECT_EQ(failure(), "Connect: No IP Address Specified");
  s.SetAddr("1.2.3.999");
  EXPECT_EQ(failure(), "connect: WSocketResolveHost: '1.2.3.999' Invalid IP address.");
  // Names of up to 256 characters are resolved; longer ones are refused.
  s.SetAddr(std::string(256, 'a'));
  EXPECT_EQ(failure(), "connect: WSocketResolveHost: Cannot convert host address '" + std::string(256, 'a') +
                           "', Error #11001");
  s.SetAddr(std::string(257, 'a'));
  EXPECT_EQ(failure(), "connect: WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
  s.SetAddr("127.0.0.1");
  s.SetPort("no-such-service-name");
  EXPECT_EQ(failure(), "connect: WSocketResolvePort: Cannot convert port 'no-such-service-name', Error #11004");
  s.SetPort("25");
  s.SetProto("");
  EXPECT_EQ(failure(), "Connect: No Protocol Specified");
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(TWSocketTest, TenMegabytesToASlowReaderArriveWholeAndInOrder) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  int small = 16384;
  ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string payload(10 * 1024 * 1024, '\0');
  uint32_t x = 12345;
  for (auto& c : payload) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  std::string got;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buffer[8192];
    while (got.size() < payload.size()) {
      ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
      if (got.size() < 1024 * 1024) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    done = true;
  });
  probe.log.clear();
  EXPECT_EQ(probe.socket->Send(payload.data(), static_cast<int32_t>(payload.size())),
            static_cast<int32_t>(payload.size()));
  EXPECT_FALSE(probe.socket->AllSent()) << "the slow reader should hold back the queue";
  bool finished = runEventLoopUntil([&] { return done.load() && probe.has("sent 0"); }, 60000);
  if (!finished) ::shutdown(peer, SHUT_RDWR);
  reader.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(got.size(), payload.size());
  EXPECT_TRUE(got == payload) << "bytes corrupted or out of order";
  int sentEvents = 0;
  for (const auto& e : probe.log) sentEvents += e == "sent 0";
  EXPECT_EQ(sentEvents, 1);
  ::close(peer);
}

TEST(TWSocketTest, HandlersMayDestroyTheSocket) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  bool called = false;
  probe.socket->OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
    called = true;
    probe.socket.reset();
  };
  writeAll(peer, "bye");
  ::close(peer);
  ASSERT_TRUE(runEventLoopUntil([&] { return called; }));
  runEventLoopFor(50);
  EXPECT_EQ(probe.socket, nullptr);

  // A socket destroyed with a write event still queued notifies nothing.
  Probe second;
  int peer2 = connectPair(second, server);
  runEventLoopFor(20);
  second.log.clear();
  second.socket->SendText("abc");
  second.socket.reset();
  runEventLoopFor(50);
  EXPECT_TRUE(second.log.empty());
  EXPECT_EQ(readBytes(peer2, 3), "abc");
  ::close(peer2);

  // Release destroys a socket made with new, later from the event loop.
  const int32_t live = TCustomWSocket::SocketCount();
  (new TWSocket)->Release();
  EXPECT_EQ(TCustomWSocket::SocketCount(), live + 1);
  ASSERT_TRUE(runEventLoopUntil([&] { return TCustomWSocket::SocketCount() == live; }));
}

TEST(TWSocketTest, ExceptionsOfHandlersGoToOnBgException) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  std::vector<std::string> caught;
  bool allowClose = false;
  probe.socket->OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
    caught.push_back(e.what());
    canClose = allowClose;
  };
  probe.socket->PostTestException();
  ASSERT_TRUE(runEventLoopUntil([&] { return !caught.empty(); }));
  EXPECT_EQ(caught[0], "Test exception in WSocket");
  EXPECT_EQ(probe.socket->State(), wsConnected) << "CanClose false keeps the session";

  allowClose = true;
  probe.socket->OnDataAvailable = [](TCustomWSocket*, uint16_t) { throw IOException("handler failed"); };
  writeAll(peer, "x");
  ASSERT_TRUE(runEventLoopUntil([&] { return caught.size() == 2; }));
  EXPECT_EQ(caught[1], "handler failed");
  EXPECT_EQ(probe.socket->State(), wsClosed) << "CanClose true aborts";
  ::close(peer);
}

TEST(TWSocketTest, AHandlerThatDoesNotReadIsNotCalledInALoop) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  int offers = 0;
  probe.socket->OnDataAvailable = [&](TCustomWSocket*, uint16_t) { ++offers; };
  writeAll(peer, "abc");
  ASSERT_TRUE(runEventLoopUntil([&] { return offers > 0; }));
  runEventLoopFor(100);
  EXPECT_EQ(offers, 1);
  char buffer[8];
  EXPECT_EQ(probe.socket->Receive(buffer, sizeof buffer), 3);
  EXPECT_EQ(probe.socket->ReadCount(), 3);
  writeAll(peer, "de");
  ASSERT_TRUE(runEventLoopUntil([&] { return offers == 2; })) << "reading again resumes the offers";
  ::close(peer);
}

TEST(TWSocketTest, AFloodingPeerLeavesTimersOnTimeAndAbortEndsIt) {
  LoopbackServer server;
  Probe probe;
  int peer = connectPair(probe, server);
  int64_t offers = 0;
  probe.socket->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buffer[64];
    if (s->Receive(buffer, sizeof buffer) > 0) ++offers;
  };
  // Floods until the connection breaks, or gives up after a while so that
  // a socket that never lets timers run fails the test instead of hanging it.
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    std::string block(65536, 'f');
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until && writeAll(peer, block)) {
    }
    flooding = false;
  });
  const auto start = std::chrono::steady_clock::now();
  std::chrono::milliseconds firedAfter{-1};
  bool floodingWhenFired = false;
  QTimer::singleShot(300, [&] {
    firedAfter = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    floodingWhenFired = flooding;
    probe.socket->Abort();
  });
  EXPECT_TRUE(runEventLoopUntil([&] { return firedAfter.count() >= 0; }, 8000));
  flood.join();
  EXPECT_TRUE(floodingWhenFired);
  EXPECT_GE(firedAfter.count(), 290);
  EXPECT_LT(firedAfter.count(), 400) << "the timer waited for the flood";
  EXPECT_GT(offers, 0);
  EXPECT_EQ(probe.socket->State(), wsClosed);
  const int64_t offersAtAbort = offers;
  runEventLoopFor(50);
  EXPECT_EQ(offers, offersAtAbort) << "data offered after Abort";
  ::close(peer);
}
