// Mail addresses, messages that send themselves, and the mail queue, against
// a real SMTP server and scripted ones on loopback.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "basis/TProperties.h"
#include "basis/TStringCollection.h"
#include "mail/TMailAddress.h"
#include "mail/TMailMessage.h"
#include "mail/TMailQueue.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/EventLoop.h"
#include "tests/support/TempDir.h"
#include "tests/support/MessageOf.h"

namespace {


TEST(MailAddress, Validity) {
  for (const char* valid : {"a@b", "a@@", "x@y.z", "first.last@example.org"}) {
    EXPECT_TRUE(TMailAddress::isValid(valid)) << valid;
  }
  for (const char* invalid : {"", "@b", "a@", "ab", "@ab", "ab@", "a b@c", "a@b c", " a@b"}) {
    EXPECT_FALSE(TMailAddress::isValid(invalid)) << invalid;
  }
  EXPECT_EQ(messageOf<IllegalMailAddressException>([] { TMailAddress("x"); }),
            "TMailAddress: Illegal address: 'x'.");
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { TMailAddress("n", "a b"); }),
            "TMailAddress: Illegal address: 'a b'.");
}

TEST(MailAddress, FromHeaderText) {
  for (const char* text : {"\"Jo Doe\" <jo@x.org>", "Jo Doe <jo@x.org>", "Jo Doe jo@x.org"}) {
    auto a = TMailAddress::fromString(text);
    EXPECT_EQ(a->getName(), "Jo Doe") << text;
    EXPECT_EQ(a->getAddress(), "jo@x.org") << text;
  }
  auto trailing = TMailAddress::fromString("Jo jo@x.org ignored");
  EXPECT_EQ(trailing->getName(), "Jo");
  EXPECT_EQ(trailing->toString(), "\"Jo\" <jo@x.org>");
  EXPECT_EQ(TMailAddress::fromString("<bare@x.org>")->toString(), "bare@x.org");
  EXPECT_EQ(messageOf<IllegalMailAddressException>([] { TMailAddress::fromString("no address here"); }),
            "TMailAddress: Illegal address: ''.");
  EXPECT_EQ(messageOf<IllegalMailAddressException>([] { TMailAddress::fromString(" <> \"' "); }),
            "TMailAddress: Illegal address: ' <> \"' .'");
  TMailAddress original("N", "n@x");
  auto copy = cloneOf(original);
  EXPECT_EQ(copy->toString(), original.toString());
}

// Each test runs in a directory of its own, where "system.properties" lives.
class MailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(::getcwd(oldDir_, sizeof oldDir_), nullptr);
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(::chdir(oldDir_), 0); }
  void configure(const std::string& port, bool enabled = true,
                 const std::string& from = "Morvane <morvane@test.example>") {
    dir_.write("system.properties", "system.mail-enabled = " + std::string(enabled ? "true" : "false") +
                                        "\nsystem.smtp-host.address = 127.0.0.1\n"
                                        "system.smtp-host.port = " + port + "\n" +
                                        (from.empty() ? "" : "system.from-header = " + from + "\n"));
  }
  // Mail through a provider: the security, and a login with a password
  // file of `mode` when `password` is not empty; `more` lines follow.
  void configureProvider(const std::string& port, const std::string& security, const std::string& password,
                         mode_t mode = 0600, const std::string& more = "") {
    std::string login;
    if (!password.empty()) {
      const std::string file = dir_.write("password", password);
      ::chmod(file.c_str(), mode);
      login = std::string("system.smtp-host.user = ") + PostfixServer::USER +
              "\nsystem.smtp-host.password-file = " + file + "\n";
    }
    dir_.write("system.properties", "system.mail-enabled = true\nsystem.smtp-host.address = 127.0.0.1\n"
                                    "system.smtp-host.port = " + port + "\nsystem.from-header = morvane@test.example\n"
                                    "system.smtp-host.security = " + security + "\n"
                                    "system.smtp-host.ca-file = " + TestCertificates::get().ca() + "\n" + login + more);
  }
  // Sends `m` and returns its one report: "" when it was sent.
  static std::string outcome(TMailMessage& m) {
    std::vector<std::string> errors;
    int sent = 0;
    m.onMailSent = [&](TMailMessage*) { ++sent; };
    m.onMailError = [&](TMailMessage*, std::unique_ptr<MailTransportException> e) { errors.push_back(e->what()); };
    m.send();
    EXPECT_TRUE(runEventLoopUntil([&] { return sent + errors.size() > 0; }));
    runEventLoopFor(20);
    EXPECT_EQ(sent + errors.size(), 1u) << "one notification per send";
    EXPECT_FALSE(m.isBusy());
    return errors.empty() ? "" : errors.front();
  }
  std::unique_ptr<TMailMessage> message(const std::string& subject) {
    auto m = std::make_unique<TMailMessage>(subject);
    TMailAddress to("to@test.example");
    m->addRecipient(&to);
    m->addLine("body of " + subject);
    return m;
  }

  TempDir dir_;
  char oldDir_[4096];
};

TEST_F(MailTest, SettingsComeFromSystemPropertiesOrAHandedInTable) {
  configure("2525");
  TMailMessage m("s");
  EXPECT_TRUE(m.isMailEnabled());
  EXPECT_EQ(m.getSmtpHost(), "127.0.0.1");
  EXPECT_EQ(m.getSmtpPort(), 2525);
  EXPECT_EQ(m.getFrom()->toString(), "\"Morvane\" <morvane@test.example>");

  TProperties handed;
  handed.loadFromText("system.mail-enabled = true\nsystem.smtp-host.address = 127.0.0.2\n"
                      "system.smtp-host.port = 26\nsystem.from-header = other@test.example\n");
  TMailMessage given("s", handed);
  EXPECT_TRUE(given.isMailEnabled());
  EXPECT_EQ(given.getSmtpHost(), "127.0.0.2") << "the table, not the file";
  EXPECT_EQ(given.getSmtpPort(), 26);
  EXPECT_EQ(given.getFrom()->toString(), "other@test.example");

  configure("not-a-number");
  EXPECT_EQ(TMailMessage("s").getSmtpPort(), 25);

  // Without a configured sender nothing is ever sent.
  configure("2525", true, "");
  TMailMessage disabled("s");
  EXPECT_FALSE(disabled.isMailEnabled());
  int notifications = 0;
  disabled.onMailSent = [&](TMailMessage*) { ++notifications; };
  disabled.onMailError = [&](TMailMessage*, std::unique_ptr<MailTransportException>) { ++notifications; };
  disabled.send();
  runEventLoopFor(100);
  EXPECT_EQ(notifications, 0);
  EXPECT_FALSE(disabled.isBusy());
}

TEST_F(MailTest, SendsTheHeaderBlockAndBodyToARealServer) {
  AiosmtpdServer server;
  ASSERT_TRUE(server.running());
  configure(server.portText());
  auto m = message("Report");
  m->addLine(".starts with a dot");
  int sent = 0, failed = 0;
  m->onMailSent = [&](TMailMessage*) { ++sent; };
  m->onMailError = [&](TMailMessage*, std::unique_ptr<MailTransportException> e) {
    ++failed;
    ADD_FAILURE() << e->what();
  };
  m->send();
  EXPECT_TRUE(m->isBusy());
  ASSERT_TRUE(runEventLoopUntil([&] { return sent + failed > 0; }));
  EXPECT_EQ(sent, 1);
  EXPECT_FALSE(m->isBusy());
  ASSERT_TRUE(runEventLoopUntil([&] { return !server.message(1).empty(); }));
  EXPECT_EQ(server.envelope(1), "MAIL FROM:<>\nRCPT TO:<to@test.example>\n");
  std::string data = server.message(1);
  const std::string sender = "\"Morvane\" <morvane@test.example>";
  EXPECT_EQ(data.rfind("Reply-To: " + sender + "\r\nFrom: " + sender + "\r\nTo: \r\nSubject: Report\r\n"
                       "Sender: " + sender + "\r\nMime-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=\"iso-8859-1\"\r\nDate: ",
                       0),
            0u)
      << data;
  EXPECT_NE(data.find("\r\n\r\nbody of Report\r\n.starts with a dot\r\n"), std::string::npos) << data;
}

TEST_F(MailTest, FailuresArriveOnlyThroughOnMailError) {
  configure(LoopbackServer::closedPort());
  std::vector<std::string> errors;
  auto collect = [&](TMailMessage*, std::unique_ptr<MailTransportException> e) { errors.push_back(e->what()); };

  TMailMessage noRecipients("s");
  noRecipients.onMailError = collect;
  noRecipients.send();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "TMailMessage.assembleRecipients: No recipients.");
  EXPECT_FALSE(noRecipients.isBusy());

  auto refused = message("r");
  refused->onMailError = collect;
  refused->send();
  refused->send();  // while busy
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[1], "TMailMessage.send: Busy ... already about to send a mail..");
  refused->send();
  ASSERT_TRUE(runEventLoopUntil([&] { return errors.size() == 3; }));
  EXPECT_EQ(errors[2], "TMailMessage.requestDone: Error 10061 @request connect.");
  runEventLoopFor(100);
  EXPECT_EQ(errors.size(), 3u);
}

TEST_F(MailTest, ASilentServerTimesOut) {
  ScriptedServer silent([](ScriptedServer::Peer& peer) { peer.readLine(3000); });
  configure(silent.portText());
  auto m = message("t");
  m->setSendTimeout(300);
  std::string error;
  m->onMailError = [&](TMailMessage*, std::unique_ptr<MailTransportException> e) { error = e->what(); };
  m->send();
  ASSERT_TRUE(runEventLoopUntil([&] { return !error.empty(); }));
  EXPECT_EQ(error, "TMailMessage.send: Timeout, no answer from the mail server after 300 ms.");
  EXPECT_FALSE(m->isBusy());
}

TEST_F(MailTest, TheMessageMayBeDestroyedInItsNotification) {
  AiosmtpdServer server;
  configure(server.portText());
  auto owned = message("d");
  TMailMessage* m = owned.release();
  bool done = false;
  m->onMailSent = [&](TMailMessage* sender) {
    delete sender;
    done = true;
  };
  m->send();
  ASSERT_TRUE(runEventLoopUntil([&] { return done; }));
}

// ---- through a provider: TLS and logins

const char* const PASSWORD = " pass word; with \"blanks\" ";

AiosmtpdServer::Options providerServer(bool smtps) {
  AiosmtpdServer::Options options;
  options.certificate = "server";
  options.starttls = !smtps;
  options.smtps = smtps;
  options.login = std::string(PostfixServer::USER) + ":" + PASSWORD;
  return options;
}

TEST_F(MailTest, MailThroughAProviderWithStartTlsOrTlsAndALogin) {
  ASSERT_TRUE(TestCertificates::get().ready());
  for (bool smtps : {false, true}) {
    SCOPED_TRACE(smtps ? "tls" : "starttls");
    AiosmtpdServer server(providerServer(smtps));
    ASSERT_TRUE(server.running());
    // The first line is the password, its line end removed, blanks kept.
    configureProvider(server.portText(), smtps ? "tls" : " starttls ", std::string(PASSWORD) + "\r\nsecond line\n");
    auto m = message("Report");
    EXPECT_EQ(outcome(*m), "");
    EXPECT_EQ(server.session(1), std::string("tls=1 login=") + PostfixServer::USER);
    const std::string data = server.message(1);
    EXPECT_NE(data.find("\r\nMessage-ID: " + m->getMessageId() + "\r\n"), std::string::npos) << data;
  }
}

TEST_F(MailTest, LoginSettingsThatCannotWorkAreReportedAndNothingIsSent) {
  AiosmtpdServer server(providerServer(false));
  ASSERT_TRUE(server.running());
  const std::string file = dir_.file("password");
  struct Case {
    std::string security, password;
    mode_t mode;
    std::string more, report;
  };
  const std::vector<Case> cases = {
      {"starttls", "secret", 0644, "",
       "TMailMessage.send: The password file '" + file + "' may be read or changed by other users (mode 0644): "
       "allow its owner only (chmod 600 '" + file + "')."},
      {"starttls", "secret", 0620, "", "TMailMessage.send: The password file '" + file +
                                           "' may be read or changed by other users (mode 0620): allow its owner only "
                                           "(chmod 600 '" + file + "')."},
      {"starttls", "\nsecret", 0600, "", "TMailMessage.send: The password file '" + file + "' holds no password in its first line."},
      {"tls", "", 0600, "system.smtp-host.user = morvane\n",
       "TMailMessage.send: system.smtp-host.user is set, but system.smtp-host.password-file is not."},
      {"none", "secret", 0600, "",
       "TMailMessage.send: system.smtp-host.user is set, but system.smtp-host.security is none: a login would send the "
       "password in plain text; set it to starttls or tls."},
      {"ssl", "", 0600, "", "TMailMessage.send: system.smtp-host.security is 'ssl', not none, starttls or tls."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    configureProvider(server.portText(), c.security, c.password, c.mode, c.more);
    EXPECT_EQ(outcome(*message("x")), c.report);
  }
  {
    SCOPED_TRACE("a missing file, then a FIFO: never waited for");
    configureProvider(server.portText(), "starttls", "secret");
    ::unlink(file.c_str());
    EXPECT_EQ(outcome(*message("x")),
              "TMailMessage.send: The password file '" + file + "' cannot be opened: No such file or directory.");
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(outcome(*message("x")), "TMailMessage.send: The password file '" + file + "' is not a regular file.");
  }
  if (const passwd* nobody = ::getpwnam("nobody"); nobody != nullptr && ::geteuid() == 0) {
    SCOPED_TRACE("a link to a file of another user, of mode 600");
    const std::string theirs = dir_.write("theirs", "secret");
    ASSERT_EQ(::chown(theirs.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0600), 0);
    ::unlink(file.c_str());
    ASSERT_EQ(::symlink(theirs.c_str(), file.c_str()), 0);
    EXPECT_EQ(outcome(*message("x")), "TMailMessage.send: The password file '" + file + "' belongs to another user (uid " +
                                          std::to_string(nobody->pw_uid) + "): use a file of your own.");
  }
  EXPECT_EQ(server.authLog(), "") << "a login left";
  EXPECT_EQ(server.message(1), "");
}

TEST_F(MailTest, RefusedLoginsCertificatesAndStalledHandshakesAreReportedWithTheirReason) {
  ASSERT_TRUE(TestCertificates::get().ready());
  {
    SCOPED_TRACE("a wrong password");
    AiosmtpdServer server(providerServer(false));
    configureProvider(server.portText(), "starttls", "wrong password");
    EXPECT_EQ(outcome(*message("x")),
              "TMailMessage.requestDone: Error 535 @request open (535 5.7.8 Authentication credentials invalid).");
  }
  {
    SCOPED_TRACE("a certificate from a CA nobody trusts");
    AiosmtpdServer::Options stranger = providerServer(true);
    stranger.certificate = "stranger";
    AiosmtpdServer server(stranger);
    configureProvider(server.portText(), "tls", PASSWORD);
    EXPECT_EQ(outcome(*message("x")),
              "TMailMessage.requestDone: Error 500 @request open (500 TLS with 127.0.0.1 failed: certificate verify "
              "failed (unable to get local issuer certificate)).");
    EXPECT_EQ(server.authLog(), "");
  }
  // A server that stops answering in the middle of the handshake: after
  // STARTTLS, or right at the start of TLS from the first byte.
  for (const char* security : {"starttls", "tls"}) {
    SCOPED_TRACE(std::string("a handshake that stalls under ") + security);
    ScriptedServer stalling([security](ScriptedServer::Peer& p) {
      if (std::string(security) == "starttls") {
        p.send("220 hi\r\n");
        p.readLine();
        p.send("250-hi\r\n250 STARTTLS\r\n");
        p.readLine();
        p.send("220 Ready to start TLS\r\n");
      }
      p.readLine(3000);  // the client's hello, never answered
    });
    configureProvider(stalling.portText(), security, PASSWORD);
    auto m = message("x");
    m->setSendTimeout(300);
    EXPECT_EQ(outcome(*m), "TMailMessage.send: Timeout, no answer from the mail server after 300 ms.");
  }
}

// A real Postfix with reject_non_fqdn_helo_hostname takes the mails, plain
// and through its submission and TLS listeners with a SASL login.
TEST_F(MailTest, ARealPostfixTakesTheMailPlainAndOverTls) {
  PostfixServer postfix(PASSWORD);
  if (!postfix.available()) GTEST_SKIP() << postfix.reason();
  std::vector<std::string> ids;
  configure(postfix.plainPort());
  for (const char* subject : {"first", "second"}) {
    auto m = message(subject);
    EXPECT_EQ(outcome(*m), "") << postfix.maillog();
    ids.push_back(m->getMessageId());
  }
  configureProvider(postfix.submissionPort(), "starttls", PASSWORD);
  auto overStartTls = message("third");
  EXPECT_EQ(outcome(*overStartTls), "");
  configureProvider(postfix.smtpsPort(), "tls", PASSWORD);
  auto overTls = message("fourth");
  EXPECT_EQ(outcome(*overTls), "");
  ids.insert(ids.end(), {overStartTls->getMessageId(), overTls->getMessageId()});

  ASSERT_TRUE(runEventLoopUntil([&] { return postfix.delivered().size() == 4; })) << postfix.maillog();
  std::set<std::string> delivered;
  for (const std::string& mail : postfix.delivered()) {
    std::smatch id;
    ASSERT_TRUE(std::regex_search(mail, id, std::regex("\r?\nMessage-ID: (<[^>\r\n]+>)\r?\n"))) << mail;
    delivered.insert(id[1]);
  }
  EXPECT_EQ(delivered, std::set<std::string>(ids.begin(), ids.end())) << "one distinct Message-ID per message";
  const std::string log = postfix.maillog();
  EXPECT_EQ(log.find("Helo command rejected"), std::string::npos) << log;
  std::smatch greeting;
  int greetings = 0;
  for (std::string rest = log; std::regex_search(rest, greeting, std::regex(": (HELO|EHLO) ([^\r\n]*)\n"));
       rest = greeting.suffix(), ++greetings) {
    const std::string name = greeting[2];
    EXPECT_TRUE(name == "[127.0.0.1]" || (name.find('.') != std::string::npos && name.front() != '['))
        << "neither a fully-qualified name nor the address literal: " << name;
  }
  EXPECT_EQ(greetings, 5) << "HELO for each plain mail, EHLO twice around STARTTLS, once over TLS";
  EXPECT_NE(log.find(std::string("sasl_method=PLAIN, sasl_username=") + PostfixServer::USER), std::string::npos);
}

// ---- the queue

class CountedMessage : public TMailMessage {
  MORVANE_CLASS(CountedMessage, TMailMessage)
  CountedMessage(const std::string& subject, int& destroyed)
      : TMailMessage(subject), destroyed_(&destroyed) {
    TMailAddress to("to@test.example");
    addRecipient(&to);
    addLine(subject);
  }
  ~CountedMessage() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

 private:
  int* destroyed_ = nullptr;
};

TEST_F(MailTest, QueueCapacityAndDisabledMail) {
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { TMailQueue q(9); }),
            "TMailQueue.create(integer): Queue size must be at minimum 10.");
  TMailQueue ten(10);
  EXPECT_EQ(ten.getCapacity(), 10);

  configure("25", true);
  TProperties off;
  off.loadFromText("system.mail-enabled = false\n");
  TMailQueue disabled(10, off);
  int destroyed = 0, notified = 0;
  disabled.onMailSent = [&](TMailQueue*) { ++notified; };
  disabled.addMail(std::make_unique<CountedMessage>("x", destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(disabled.size(), 0);
  runEventLoopFor(50);
  EXPECT_EQ(notified, 0);

  // Mail switched on without a sender: the mails are dropped, and that is
  // reported once, naming the key.
  configure("25", true, "");
  std::vector<std::string> errors;
  for (int queues = 0; queues < 2; ++queues) {
    TMailQueue unsendable;
    unsendable.onMailError = [&](TMailQueue*, std::unique_ptr<MailTransportException> e) { errors.push_back(e->what()); };
    for (int i = 0; i < 2; ++i) unsendable.addMail(std::make_unique<CountedMessage>("y", destroyed));
    EXPECT_EQ(unsendable.size(), 0);
  }
  EXPECT_EQ(errors, std::vector<std::string>{"TMailQueue.addMail: Mail is switched on (system.mail-enabled), but "
                                             "system.from-header is missing in system.properties: no error mail can "
                                             "be sent."});
}

TEST_F(MailTest, QueueSendsOneAtATimeNewestWaitingNext) {
  AiosmtpdServer server;
  configure(server.portText());
  TMailQueue queue;
  int sent = 0;
  queue.onMailSent = [&](TMailQueue*) { ++sent; };
  queue.onMailError = [&](TMailQueue*, std::unique_ptr<MailTransportException> e) { ADD_FAILURE() << e->what(); };
  for (const char* subject : {"A", "B", "C"}) queue.addMail(message(subject));
  EXPECT_EQ(queue.size(), 3);
  ASSERT_TRUE(runEventLoopUntil([&] { return sent == 3; }));
  EXPECT_EQ(queue.size(), 0);
  EXPECT_EQ(TMailQueue::pendingInAllQueues(), 0);
  std::vector<std::string> order;
  for (int n = 1; n <= 3; ++n) {
    ASSERT_TRUE(runEventLoopUntil([&] { return !server.message(n).empty(); }));
    std::string data = server.message(n);
    size_t at = data.find("Subject: ");
    order.push_back(data.substr(at + 9, 1));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"A", "C", "B"}));
}

TEST_F(MailTest, AFullQueueDropsItsOldestAndKeepsSending) {
  ScriptedServer silent([](ScriptedServer::Peer& peer) { peer.readLine(2000); });
  configure(silent.portText());
  TMailQueue queue(10);
  int destroyed = 0;
  for (int i = 0; i < 10; ++i) queue.addMail(std::make_unique<CountedMessage>("m" + std::to_string(i), destroyed));
  TMailMessage* oldest = queue.messages().front();
  EXPECT_TRUE(oldest->isBusy());
  queue.addMail(std::make_unique<CountedMessage>("new", destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(queue.size(), 10);
  EXPECT_EQ(queue.messages().back()->getSubject(), "new");
  // The dropped message was the one under way: the newest starts at once.
  EXPECT_TRUE(queue.messages().back()->isBusy());
}

TEST_F(MailTest, AMessageFailingTwiceIsRemoved) {
  configure(LoopbackServer::closedPort());
  TMailQueue queue;
  queue.setRetryDelay(100);
  int destroyed = 0;
  std::vector<std::string> errors;
  queue.onMailError = [&](TMailQueue*, std::unique_ptr<MailTransportException> e) { errors.push_back(e->what()); };
  queue.addMail(std::make_unique<CountedMessage>("f", destroyed));
  ASSERT_TRUE(runEventLoopUntil([&] { return errors.size() == 1; }));
  EXPECT_EQ(errors[0], "TMailQueue.mailError: TMailMessage.requestDone: Error 10061 @request connect..");
  EXPECT_EQ(queue.size(), 1);
  EXPECT_TRUE(queue.isFailed(queue.messages().front()));
  ASSERT_TRUE(runEventLoopUntil([&] { return errors.size() == 2; }));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(queue.size(), 0);
  runEventLoopFor(300);
  EXPECT_EQ(errors.size(), 2u);
}

TEST_F(MailTest, DestroyingTheQueueDestroysWaitingMailsWithoutNotice) {
  ScriptedServer silent([](ScriptedServer::Peer& peer) { peer.readLine(1000); });
  configure(silent.portText());
  int destroyed = 0, notified = 0;
  {
    TMailQueue queue;
    queue.onMailError = [&](TMailQueue*, std::unique_ptr<MailTransportException>) { ++notified; };
    queue.addMail(std::make_unique<CountedMessage>("a", destroyed));
    queue.addMail(std::make_unique<CountedMessage>("b", destroyed));
    runEventLoopFor(50);
  }
  EXPECT_EQ(destroyed, 2);
  runEventLoopFor(100);
  EXPECT_EQ(notified, 0);
}

}  // namespace
