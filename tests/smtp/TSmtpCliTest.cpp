// The SMTP client against a real SMTP server and against scripted servers.
#include "smtp/TSmtpCli.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "smtp/LocalName.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/EventLoop.h"
#include "tests/support/TempDir.h"

namespace {

struct Client {
  std::unique_ptr<TSmtpCli> smtp = std::make_unique<TSmtpCli>();
  std::vector<std::pair<TSmtpRequest, uint16_t>> done;
  std::vector<std::string> display;
  bool insideCall = false;
  bool completedInsideCall = false;

  explicit Client(const std::string& port) {
    smtp->SetHost("127.0.0.1");
    smtp->SetPort(port);
    smtp->SetSignOn("client.test");
    smtp->OnRequestDone = [this](TCustomSmtpClient*, TSmtpRequest rq, uint16_t error) {
      if (insideCall) completedInsideCall = true;
      done.emplace_back(rq, error);
    };
    smtp->OnDisplay = [this](TCustomSmtpClient*, const std::string& msg) { display.push_back(msg); };
  }
  // Starts a request and waits for its completion; returns its code.
  int run(void (TCustomSmtpClient::*request)(), TSmtpRequest expected, int timeoutMs = 10000) {
    size_t before = done.size();
    insideCall = true;
    (smtp.get()->*request)();
    insideCall = false;
    EXPECT_FALSE(completedInsideCall) << "OnRequestDone ran inside the call";
    if (!runEventLoopUntil([&] { return done.size() > before; }, timeoutMs)) return -1;
    EXPECT_EQ(done.size(), before + 1);
    EXPECT_EQ(done.back().first, expected);
    return done.back().second;
  }
  void message(const std::string& from, const std::vector<std::string>& to,
               const std::vector<std::string>& body) {
    smtp->SetFromName(from);
    smtp->SetRcptName(to);
    smtp->SetHdrFrom(from);
    smtp->SetHdrTo(to.empty() ? "" : to[0]);
    smtp->SetHdrSubject("Test");
    smtp->SetMailMessage(body);
  }
};

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

// The message without its header block.
std::string bodyOf(const std::string& message) {
  size_t end = message.find("\r\n\r\n");
  return end == std::string::npos ? "" : message.substr(end + 4);
}

std::string headerOf(const std::string& message) {
  size_t end = message.find("\r\n\r\n");
  return end == std::string::npos ? message : message.substr(0, end + 2);
}

class RealServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()) << "aiosmtpd did not start"; }
  AiosmtpdServer server;
};

}  // namespace

TEST_F(RealServerTest, OpenMailQuitDeliversHeaderBlockAndStuffedBody) {
  Client c(server.portText());
  c.message(" sender@example.org ", {"first@example.org", "<second@example.org>"},
            {"Hello", ".", ".hidden", "..two", "", "end"});
  c.smtp->SetHdrReplyTo("reply@example.org");
  c.smtp->SetHdrSender("   ");
  ASSERT_EQ(c.run(&TCustomSmtpClient::Open, smtpOpen), 0) << c.smtp->ErrorMessage();
  EXPECT_TRUE(c.smtp->Connected());
  EXPECT_EQ(c.smtp->State(), smtpReady);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 0) << c.smtp->ErrorMessage();
  ASSERT_EQ(c.run(&TCustomSmtpClient::Quit, smtpQuit), 0);
  ASSERT_TRUE(runEventLoopUntil([&] { return !c.smtp->Connected(); }));

  EXPECT_EQ(server.envelope(1),
            "MAIL FROM:<sender@example.org>\nRCPT TO:<first@example.org>\nRCPT TO:<second@example.org>\n");
  std::string message = server.message(1);
  std::string header = headerOf(message);
  std::regex expected(
      "Reply-To: reply@example.org\r\n"
      "From:  sender@example.org \r\n"
      "To: first@example.org\r\n"
      "Subject: Test\r\n"
      "Sender:  sender@example.org \r\n"
      "Mime-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? [A-Z][a-z][a-z] 20[0-9][0-9] "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [-+][0-9]{4}\r\n"
      "Message-ID: <[0-9]{14}\\.[0-9]+\\.[0-9]+\\.[0-9a-f]{16}@[-.A-Za-z0-9]+>\r\n");
  EXPECT_TRUE(std::regex_match(header, expected)) << header;
  // The server removed the stuffing again: every line arrived as written.
  EXPECT_EQ(bodyOf(message), crlf({"Hello", ".", ".hidden", "..two", "", "end"}));
  // On the wire the lines beginning with "." carried one more.
  for (const char* sent : {"> ..", "> ..hidden", "> ...two"})
    EXPECT_NE(std::find(c.display.begin(), c.display.end(), sent), c.display.end()) << sent;
}

TEST_F(RealServerTest, LineBreaksInsideLinesCannotEndTheMessage) {
  Client c(server.portText());
  c.message("a@example.org", {"b@example.org"}, {"first\r\n.\r\nMAIL FROM:<evil@example.org>", "x\n.\ny\r.z"});
  c.smtp->SetHdrSubject("subject\r\n.\r\nRSET");
  ASSERT_EQ(c.run(&TCustomSmtpClient::Open, smtpOpen), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 0) << c.smtp->ErrorMessage();
  ASSERT_EQ(c.run(&TCustomSmtpClient::Quit, smtpQuit), 0);
  std::string message = server.message(1);
  EXPECT_NE(message.find("Subject: subject\r\n.\r\nRSET\r\n"), std::string::npos) << message;
  EXPECT_NE(message.find("first\r\n.\r\nMAIL FROM:<evil@example.org>\r\nx\r\n.\r\ny\r\n.z\r\n"), std::string::npos)
      << message;
  EXPECT_EQ(server.message(2), "") << "only one message was delivered";
}

TEST_F(RealServerTest, AttachmentsAreMultipartWithBase64Lines) {
  TempDir dir;
  std::string bytes46;
  for (int i = 0; i < 46; ++i) bytes46 += static_cast<char>(i * 5);
  std::string f46 = dir.write("forty-six.bin", bytes46);
  std::string f45 = dir.write("forty-five.bin", bytes46.substr(0, 45));
  std::string empty = dir.write("empty.txt", "");
  Client c(server.portText());
  c.message("a@example.org", {"b@example.org"}, {"See the files."});
  c.smtp->SetEmailFiles({" " + f46 + " ", "", f45, empty});
  EXPECT_EQ(c.smtp->EmailFiles().size(), 3u);
  c.smtp->OnAttachContentType = [](TCustomSmtpClient*, int32_t n, std::string& name, std::string& type) {
    if (n == 2) {
      name = "renamed.txt";
      type = "text/plain";
    }
  };
  c.smtp->OnAttachHeader = [](TCustomSmtpClient*, int32_t n, const std::string&, std::vector<std::string>& lines) {
    if (n == 1) lines.push_back("X-Part: 1");
  };
  ASSERT_EQ(c.run(&TCustomSmtpClient::Open, smtpOpen), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 0) << c.smtp->ErrorMessage();
  std::string message = server.message(1);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(message, m,
                                std::regex("Content-Type: multipart/mixed;\r\n\tboundary=\"(= Multipart Boundary [0-9]{10})\"\r\n")))
      << headerOf(message);
  const std::string b = "--" + m[1].str();
  std::string base64of46 = TSmtpCli::Base64Line(reinterpret_cast<const unsigned char*>(bytes46.data()), 45);
  ASSERT_EQ(base64of46.size(), 60u);
  EXPECT_EQ(bodyOf(message),
            crlf({"This is a multipart MIME message.", "", b, "Content-Type: text/plain; charset=\"iso-8859-1\"",
                  "Content-Transfer-Encoding: 7bit", "", "See the files.", "",
                  b, "Content-Type: application/octet-stream;", "\tname=\"forty-six.bin\"",
                  "Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                  "\tfilename=\"forty-six.bin\"", "", base64of46, "4Q==", "",
                  b, "Content-Type: application/octet-stream;", "\tname=\"forty-five.bin\"",
                  "Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                  "\tfilename=\"forty-five.bin\"", "X-Part: 1", "", base64of46, "",
                  b, "Content-Type: text/plain;", "\tname=\"renamed.txt\"",
                  "Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                  "\tfilename=\"empty.txt\"", "", "", "", b + "--"}));
}

TEST(SmtpScriptedTest, LongHeaderLinesGoWholeLongBodyLinesAreCut) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    for (int i = 0; i < 2; ++i) {
      p.readLine();
      p.send("250 ok\r\n");
    }
    p.readLine();
    p.send("354 go\r\n");
    p.readData();
    p.send("250 queued\r\n");
  });
  Client c(server.portText());
  std::string subject(3000, 's');
  c.message("a@example.org", {"b@example.org"}, {std::string(1500, 'x'), "short"});
  c.smtp->SetHdrSubject(subject);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 0) << c.smtp->ErrorMessage();
  ASSERT_TRUE(runEventLoopUntil([&] { return server.done(); }));
  EXPECT_NE(server.transcript().find("\nSubject: " + subject + "\n"), std::string::npos);
  EXPECT_NE(server.transcript().find("\n\n" + std::string(1023, 'x') + "\nshort\n.\n"), std::string::npos);
}

TEST_F(RealServerTest, RequestByRequestAndTheReadinessRules) {
  Client c(server.portText());
  c.smtp->SetHost("localhost");
  c.message("", {"  <b@example.org>  "}, {"x"});
  EXPECT_THROW(c.smtp->Helo(), SmtpException);  // not connected
  // Quit without a session completes with 0, from the event loop.
  ASSERT_EQ(c.run(&TCustomSmtpClient::Quit, smtpQuit), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  // Without SignOn: the host's fully-qualified name, else the literal of the
  // connection's own address.
  c.smtp->SetSignOn("");
  const std::string greeting = c.smtp->GreetingName();
  EXPECT_TRUE(greeting == "[127.0.0.1]" || (isHostName(greeting) && greeting.find('.') != std::string::npos))
      << greeting;
  EXPECT_EQ(addressLiteral("2001:db8::1"), "[IPv6:2001:db8::1]");
  c.smtp->SetSignOn("client.test");
  try {
    c.smtp->Connect();
    FAIL() << "no exception";
  } catch (const SmtpException& e) {
    EXPECT_STREQ(e.what(), "SMTP component already connected");
  }
  // MAIL before HELO: the real server refuses it; the session stays usable.
  EXPECT_EQ(c.run(&TCustomSmtpClient::MailFrom, smtpMailFrom), 503);
  EXPECT_EQ(c.smtp->ErrorMessage().substr(0, 3), "503");
  ASSERT_EQ(c.run(&TCustomSmtpClient::Helo, smtpHelo), 0);
  c.smtp->Helo();
  try {
    c.smtp->Rset();
    FAIL() << "no exception";
  } catch (const SmtpException& e) {
    EXPECT_STREQ(e.what(), "SMTP component not ready");
  }
  ASSERT_TRUE(runEventLoopUntil([&] { return c.done.size() == 5; }));
  ASSERT_EQ(c.run(&TCustomSmtpClient::MailFrom, smtpMailFrom), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::RcptTo, smtpRcptTo), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Data, smtpData), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Rset, smtpRset), 0);
  c.smtp->SetRcptName({});
  try {
    c.smtp->RcptTo();
    FAIL() << "no exception";
  } catch (const SmtpException& e) {
    EXPECT_STREQ(e.what(), "RcptName list is empty");
  }
  EXPECT_EQ(server.envelope(1), "MAIL FROM:<>\nRCPT TO:<b@example.org>\n");
  for (const char* sent : {"> MAIL FROM:<>", "> RCPT TO:<b@example.org>", "> HELO client.test"})
    EXPECT_NE(std::find(c.display.begin(), c.display.end(), sent), c.display.end()) << sent;
}

TEST(SmtpScriptedTest, MultiLineGreetingCompletesOnceAfterTheLastLine) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220-first line\r\n220-\r\n220-second line\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.send("220 last line\r\n");
  });
  Client c(server.portText());
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  EXPECT_EQ(c.display,
            (std::vector<std::string>{"< 220-first line", "< 220-", "< 220-second line", "< 220 last line"}));
  EXPECT_EQ(c.smtp->LastResponse(), "220 last line");
  runEventLoopFor(50);
  EXPECT_EQ(c.done.size(), 1u);
}

TEST(SmtpScriptedTest, RefusedGreetingEndsConnectWithItsCode) {
  ScriptedServer server([](ScriptedServer::Peer& p) { p.send("554 no service here\r\n"); });
  Client c(server.portText());
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 554);
  EXPECT_EQ(c.smtp->ErrorMessage(), "554 no service here");
  EXPECT_FALSE(c.smtp->Connected());
  EXPECT_EQ(c.smtp->State(), smtpReady);
}

TEST(SmtpScriptedTest, RefusedFirstRecipientDoesNotStopMail) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    p.readLine();
    p.send("250-\r\n250 ok\r\n");  // MAIL, with a line of the code and "-" alone
    p.readLine();
    p.send("550 no such user\r\n");
    p.readLine();
    p.send("251 will forward\r\n");
    p.readLine();
    p.send("354 go\r\n");  // DATA
    p.readData();
    p.send("250 queued\r\n");
  });
  Client c(server.portText());
  c.message("a@example.org", {"nobody@example.org", "c@example.org"}, {"hi"});
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 0);
  EXPECT_EQ(c.smtp->ErrorMessage(), "550 no such user");
  ASSERT_TRUE(runEventLoopUntil([&] { return server.done(); }));
  EXPECT_EQ(server.transcript().rfind(
                "MAIL FROM:<a@example.org>\nRCPT TO:<nobody@example.org>\nRCPT TO:<c@example.org>\nDATA\n", 0),
            0u)
      << server.transcript();
}

TEST(SmtpScriptedTest, ConnectionClosedDuringDataEndsMail) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    p.readLine();
    p.send("250 ok\r\n");
    p.readLine();
    p.send("250 ok\r\n");
    p.readLine();
    p.send("354 go\r\n");
    p.readLine();
    p.close();
  });
  Client c(server.portText());
  std::vector<std::string> body(20000, "a line of the body");
  c.message("a@example.org", {"b@example.org"}, body);
  int closedEvents = 0;
  c.smtp->OnSessionClosed = [&](TCustomSmtpClient*, uint16_t) { ++closedEvents; };
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 10004);
  EXPECT_FALSE(c.smtp->Connected());
  EXPECT_EQ(closedEvents, 1);
}

TEST(SmtpScriptedTest, OverlongReplyLineEndsTheRequestAndTheConnection) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    p.readLine();
    p.send("250-" + std::string(5000, 'x') + "\r\n250 ok\r\n");
    p.readLine(3000);
  });
  Client c(server.portText());
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  ASSERT_EQ(c.run(&TCustomSmtpClient::Helo, smtpHelo), 500);
  EXPECT_EQ(c.smtp->ErrorMessage(), "500 Reply line too long (more than 4094 bytes)");
  ASSERT_TRUE(runEventLoopUntil([&] { return server.done(); }));
  EXPECT_FALSE(c.smtp->Connected());
  runEventLoopFor(50);
  EXPECT_EQ(c.done.size(), 2u) << "the close after the error completes nothing more";
}

TEST(SmtpScriptedTest, AbortEndsARequestTheServerNeverAnswers) {
  ScriptedServer server([](ScriptedServer::Peer& p) { p.readLine(2000); });
  Client c(server.portText());
  c.smtp->Connect();
  ASSERT_TRUE(runEventLoopUntil([&] { return c.smtp->State() == smtpWaitingBanner; }));
  runEventLoopFor(100);
  EXPECT_TRUE(c.done.empty());
  c.smtp->Abort();
  EXPECT_EQ(c.smtp->State(), smtpReady);
  ASSERT_TRUE(runEventLoopUntil([&] { return !c.done.empty(); }));
  EXPECT_EQ(c.done[0], std::make_pair(smtpConnect, uint16_t{10004}));
}

TEST(SmtpClientTest, ConnectionRefusedCompletesWithTheSocketError) {
  Client c(LoopbackServer::closedPort());
  ASSERT_EQ(c.run(&TCustomSmtpClient::Open, smtpOpen), 10061);
  EXPECT_EQ(c.smtp->LastResponse(), "500 Connection refused (Winsock error #10061)");
  EXPECT_EQ(c.smtp->ErrorMessage(), c.smtp->LastResponse());
  EXPECT_EQ(c.smtp->State(), smtpReady);
}

TEST(SmtpClientTest, LookupFailureAndAbortDuringTheLookup) {
  Client c("25");
  c.smtp->SetHost("no-such-host.invalid");
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect, 20000), 11001);
  EXPECT_EQ(c.smtp->LastResponse(), "500 Host not found (Winsock error #11001)");

  c.smtp->SetHost("localhost");
  c.smtp->Open();
  EXPECT_EQ(c.smtp->State(), smtpDnsLookup);
  c.smtp->Abort();
  EXPECT_EQ(c.smtp->State(), smtpReady);
  ASSERT_TRUE(runEventLoopUntil([&] { return c.done.size() == 2; }));
  EXPECT_EQ(c.done[1], std::make_pair(smtpOpen, uint16_t{10004}));
  runEventLoopFor(100);
  EXPECT_EQ(c.done.size(), 2u);
}

TEST(SmtpClientTest, NoNotificationAfterTheClientIsGone) {
  Client c("25");
  c.smtp->Quit();  // completion queued
  c.smtp.reset();
  runEventLoopFor(50);
  EXPECT_TRUE(c.done.empty());

  // Destroying the client inside OnRequestDone is allowed.
  AiosmtpdServer server;
  ASSERT_TRUE(server.running());
  Client d(server.portText());
  d.smtp->OnRequestDone = [&](TCustomSmtpClient*, TSmtpRequest rq, uint16_t e) {
    d.done.emplace_back(rq, e);
    d.smtp.reset();
  };
  d.smtp->Open();
  ASSERT_TRUE(runEventLoopUntil([&] { return !d.done.empty(); }));
  runEventLoopFor(50);
  EXPECT_EQ(d.done.size(), 1u);
}

TEST(SmtpClientTest, EmailFilesChecks) {
  TempDir dir;
  std::string a = dir.write("a.txt", "a");
  TSmtpCli smtp;
  try {
    smtp.SetEmailFiles({a, "  ", dir.file("missing.txt"), a});
    FAIL() << "no exception";
  } catch (const SmtpException& e) {
    EXPECT_EQ(e.getMessage(), "File not found '" + dir.file("missing.txt") + "'");
  }
  EXPECT_EQ(smtp.EmailFiles(), std::vector<std::string>{a});
  smtp.SetEmailFiles({});
  EXPECT_TRUE(smtp.EmailFiles().empty());
}

namespace {

// Sets TZ for one test and restores it.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (hadOld_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

std::time_t utc(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return ::timegm(&t);
}

}  // namespace

TEST(SmtpDateTest, DateLineInSeveralZones) {
  std::time_t winter = utc(2026, 1, 15, 12, 5);
  std::time_t summer = utc(2026, 7, 4, 23, 30);
  {
    ZoneGuard zone("UTC");
    EXPECT_EQ(TCustomSmtpClient::DateText(winter), "Thu, 15 Jan 2026 12:05:00 -0000");
  }
  {
    ZoneGuard zone("Europe/Berlin");
    EXPECT_EQ(TCustomSmtpClient::DateText(winter), "Thu, 15 Jan 2026 13:05:00 +0100");
    EXPECT_EQ(TCustomSmtpClient::DateText(summer), "Sun, 5 Jul 2026 01:30:00 +0200");
  }
  {
    ZoneGuard zone("America/New_York");
    EXPECT_EQ(TCustomSmtpClient::DateText(winter), "Thu, 15 Jan 2026 07:05:00 -0500");
    EXPECT_EQ(TCustomSmtpClient::DateText(summer), "Sat, 4 Jul 2026 19:30:00 -0400");
  }
  {
    ZoneGuard zone("Asia/Kolkata");
    EXPECT_EQ(TCustomSmtpClient::ZoneOffset(winter), "+0530");
  }
  {
    // A locale with other day and month names changes nothing.
    ZoneGuard zone("UTC");
    const char* previous = std::setlocale(LC_TIME, nullptr);
    std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_TIME, "de_DE.UTF-8")) {
      EXPECT_EQ(TCustomSmtpClient::DateText(summer), "Sat, 4 Jul 2026 23:30:00 -0000");
      std::setlocale(LC_TIME, saved.c_str());
    }
  }
}

TEST(SmtpScriptedTest, RepliesWithoutAnSmtpCodeFailTheRequestAndEndTheSession) {
  const std::vector<std::string> badReplies = {
      "65536 refused", "65786 truncates to 250", "0 zero", "99 too small", "600 too large", "garbage",
      std::string("\x01\xfe\x80\x00\xff", 5)};
  // Where the bad reply comes: the greeting, then the replies to MAIL, RCPT, DATA and the final ".".
  const char* const places[] = {"greeting", "MAIL", "RCPT", "DATA", "end of text"};
  for (const std::string& bad : badReplies) {
    for (int place = 0; place < 5; ++place) {
      SCOPED_TRACE(std::string(places[place]) + " answered with '" + bad + "'");
      ScriptedServer server([&](ScriptedServer::Peer& p) {
        const char* const good[] = {"220 hi", "250 ok", "250 ok", "354 go", "250 queued"};
        for (int step = 0; step < 5; ++step) {
          if (step == 4) p.readData();
          else if (step > 0) p.readLine();
          p.send((step == place ? bad : good[step]) + "\r\n");
          if (step == place) return;
        }
      });
      Client c(server.portText());
      c.message("a@example.org", {"b@example.org"}, {"text"});
      if (place == 0) {
        ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 500);
      } else {
        ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
        ASSERT_EQ(c.run(&TCustomSmtpClient::Mail, smtpMail), 500);
      }
      EXPECT_EQ(c.smtp->ErrorMessage(), bad);
      ASSERT_TRUE(runEventLoopUntil([&] { return server.done(); }));
      EXPECT_FALSE(c.smtp->Connected());
      const char* const sentBefore[] = {"", "MAIL FROM:<a@example.org>\n",
                                        "MAIL FROM:<a@example.org>\nRCPT TO:<b@example.org>\n",
                                        "MAIL FROM:<a@example.org>\nRCPT TO:<b@example.org>\nDATA\n"};
      if (place < 4) EXPECT_EQ(server.transcript(), sentBefore[place]) << "sent after the bad reply";
      else EXPECT_EQ(server.transcript().substr(server.transcript().size() - 3), "\n.\n");
      runEventLoopFor(20);
      EXPECT_EQ(c.done.size(), place == 0 ? 1u : 2u) << "the close completed the request again";
    }
  }
}

TEST(SmtpScriptedTest, AFloodOfReplyLinesLeavesTimersOnTimeAndAbortEndsTheRequest) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    p.readLine();
    std::string block;
    while (block.size() < 65536) block += "250-a line of a reply that never ends\r\n";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until && p.send(block)) {
    }
  });
  Client c(server.portText());
  ASSERT_EQ(c.run(&TCustomSmtpClient::Connect, smtpConnect), 0);
  c.smtp->Helo();
  const auto start = std::chrono::steady_clock::now();
  std::chrono::milliseconds firedAfter{-1};
  QTimer::singleShot(300, [&] {
    firedAfter = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    c.smtp->Abort();
  });
  ASSERT_TRUE(runEventLoopUntil([&] { return c.done.size() == 2; }, 8000));
  EXPECT_GE(firedAfter.count(), 290);
  EXPECT_LT(firedAfter.count(), 400) << "the timer waited for the flood";
  EXPECT_EQ(c.done[1], std::make_pair(smtpHelo, uint16_t{10004}));
  EXPECT_GT(c.display.size(), 10u) << "the flood was read";
}

namespace {

// Destroys the client inside one notification, at its n-th call while a
// given request runs; the client drives Open, Mail and Quit to the end.
struct DestroyCase {
  const char* notification;
  TSmtpRequest during;
  int occurrence;
};

struct DestroyHarness {
  const DestroyCase& when;
  std::unique_ptr<TSmtpCli> smtp = std::make_unique<TSmtpCli>();
  TSmtpRequest running = smtpOpen;
  int calls = 0;
  int callsAfterwards = 0;
  bool destroyed = false;

  // True when the client is gone; the handler then returns at once. The
  // handlers reach this through a copied pointer, so they touch nothing of
  // the destroyed client's storage afterwards.
  bool gone(const char* notification) {
    if (destroyed) {
      ++callsAfterwards;
      return true;
    }
    if (running == when.during && std::strcmp(notification, when.notification) == 0 &&
        ++calls == when.occurrence) {
      destroyed = true;
      smtp.reset();
    }
    return destroyed;
  }
  void attach() {
    DestroyHarness* h = this;
    TSmtpCli& s = *smtp;
    s.OnDisplay = [h](TCustomSmtpClient*, const std::string&) { h->gone("OnDisplay"); };
    s.OnCommand = [h](TCustomSmtpClient*, const std::string&) { h->gone("OnCommand"); };
    s.OnResponse = [h](TCustomSmtpClient*, const std::string&) { h->gone("OnResponse"); };
    s.OnStateChange = [h](TCustomSmtpClient*) { h->gone("OnStateChange"); };
    s.OnSessionConnected = [h](TCustomSmtpClient*, uint16_t) { h->gone("OnSessionConnected"); };
    s.OnSessionClosed = [h](TCustomSmtpClient*, uint16_t) { h->gone("OnSessionClosed"); };
    s.OnProcessHeader = [h](TCustomSmtpClient*, std::vector<std::string>&) { h->gone("OnProcessHeader"); };
    s.OnHeaderLine = [h](TCustomSmtpClient*, char*, int32_t) { h->gone("OnHeaderLine"); };
    s.OnGetData = [h](TCustomSmtpClient*, int32_t lineNum, char* line, int32_t, bool& more) {
      if (h->gone("OnGetData")) return;
      std::strcpy(line, "text line");
      more = lineNum < 3;
    };
    s.OnAttachContentType = [h](TCustomSmtpClient*, int32_t, std::string&, std::string&) {
      h->gone("OnAttachContentType");
    };
    s.OnAttachHeader = [h](TCustomSmtpClient*, int32_t, const std::string&, std::vector<std::string>&) {
      h->gone("OnAttachHeader");
    };
    s.OnRequestDone = [h](TCustomSmtpClient*, TSmtpRequest rq, uint16_t error) {
      if (h->gone("OnRequestDone") || error != 0 || rq == smtpQuit) return;
      h->running = rq == smtpOpen ? smtpMail : smtpQuit;
      if (rq == smtpOpen) h->smtp->Mail();
      else h->smtp->Quit();
    };
  }
};

class ClientDestroyedInsideANotificationTest : public ::testing::TestWithParam<DestroyCase> {};

std::string destroyCaseName(const ::testing::TestParamInfo<DestroyCase>& info) {
  const char* during = info.param.during == smtpOpen ? "Open" : info.param.during == smtpMail ? "Mail" : "Quit";
  return std::string(info.param.notification) + "During" + during + "Call" + std::to_string(info.param.occurrence);
}

}  // namespace

TEST_P(ClientDestroyedInsideANotificationTest, TouchesNothingAfterwards) {
  ScriptedServer server([](ScriptedServer::Peer& p) {
    p.send("220 hi\r\n");
    for (const char* reply : {"250 hello", "250 ok", "250 ok", "354 go"}) {
      p.readLine();
      p.send(std::string(reply) + "\r\n");
    }
    p.readData();
    p.send("250 queued\r\n");
    p.readLine();
    p.send("221 bye\r\n");
    p.close();
  });
  TempDir dir;
  DestroyHarness h{GetParam()};
  h.smtp->SetHost("127.0.0.1");
  h.smtp->SetPort(server.portText());
  h.smtp->SetFromName("a@example.org");
  h.smtp->SetRcptName({"b@example.org"});
  h.smtp->SetEmailFiles({dir.write("attached.txt", "attached bytes")});
  h.attach();
  h.smtp->Open();
  ASSERT_TRUE(runEventLoopUntil([&] { return h.destroyed; })) << "the notification never came";
  runEventLoopFor(50);
  EXPECT_EQ(h.callsAfterwards, 0) << "notified after the client was destroyed";
}

INSTANTIATE_TEST_SUITE_P(
    EveryNotification, ClientDestroyedInsideANotificationTest,
    ::testing::Values(DestroyCase{"OnStateChange", smtpOpen, 3}, DestroyCase{"OnStateChange", smtpMail, 1},
                      DestroyCase{"OnStateChange", smtpMail, 4}, DestroyCase{"OnDisplay", smtpOpen, 1},
                      DestroyCase{"OnDisplay", smtpMail, 2}, DestroyCase{"OnDisplay", smtpMail, 12},
                      DestroyCase{"OnCommand", smtpMail, 1}, DestroyCase{"OnResponse", smtpOpen, 1},
                      DestroyCase{"OnResponse", smtpMail, 2}, DestroyCase{"OnSessionConnected", smtpOpen, 1},
                      DestroyCase{"OnProcessHeader", smtpMail, 1}, DestroyCase{"OnHeaderLine", smtpMail, 1},
                      DestroyCase{"OnGetData", smtpMail, 1}, DestroyCase{"OnAttachContentType", smtpMail, 1},
                      DestroyCase{"OnAttachHeader", smtpMail, 1}, DestroyCase{"OnRequestDone", smtpMail, 1},
                      DestroyCase{"OnSessionClosed", smtpQuit, 1}),
    destroyCaseName);
