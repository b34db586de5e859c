// Mail addresses, messages that send themselves, and the mail queue, against
// a real SMTP server and scripted ones on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

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
