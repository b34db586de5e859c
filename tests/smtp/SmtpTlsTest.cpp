// The SMTP client over TLS against aiosmtpd with a CA and certificates of
// the test's own: STARTTLS and TLS from the first byte, logins, refused
// certificates and logins, and a server or attacker that lies.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "smtp/SmtpBase64.h"
#include "smtp/SmtpExtensions.h"
#include "smtp/TSmtpCli.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/EventLoop.h"

namespace {

const char* const USER = "morvane";
const char* const PASSWORD = "s3cret pass: with blanks";

std::string login() { return std::string(USER) + ":" + PASSWORD; }

// A client with everything it displays, running one request after another.
struct TlsClient {
  TSmtpCli smtp;
  std::vector<std::pair<TSmtpRequest, uint16_t>> done;
  std::string display;

  TlsClient(const std::string& port, TSmtpSecurity security, const std::string& caFile) {
    smtp.SetHost("127.0.0.1");
    smtp.SetPort(port);
    smtp.SetSecurity(security);
    smtp.SetCaFile(caFile);
    smtp.SetUsername(USER);
    smtp.SetPassword(PASSWORD);
    smtp.SetFromName("a@example.org");
    smtp.SetRcptName({"b@example.org"});
    smtp.SetHdrSubject("over TLS");
    smtp.SetMailMessage({"Hello"});
    smtp.OnRequestDone = [this](TCustomSmtpClient*, TSmtpRequest rq, uint16_t error) { done.emplace_back(rq, error); };
    smtp.OnDisplay = [this](TCustomSmtpClient*, const std::string& line) { display += line + "\n"; };
  }
  int run(void (TCustomSmtpClient::*request)()) {
    size_t before = done.size();
    (smtp.*request)();
    if (!runEventLoopUntil([&] { return done.size() > before; })) return -1;
    return done.back().second;
  }
  // Open, Mail and Quit; the result of the first that fails, else 0.
  int send() {
    for (auto request : {&TCustomSmtpClient::Open, &TCustomSmtpClient::Mail, &TCustomSmtpClient::Quit}) {
      if (int result = run(request); result != 0) return result;
    }
    return 0;
  }
  // Neither the password nor its encodings were ever shown.
  void expectNoSecretShown() const {
    for (const std::string& secret :
         {std::string(PASSWORD), base64Encode(PASSWORD), base64Encode(std::string(1, '\0') + USER + '\0' + PASSWORD)}) {
      EXPECT_EQ(display.find(secret), std::string::npos) << display;
      EXPECT_EQ(smtp.ErrorMessage().find(secret), std::string::npos);
    }
  }
};

AiosmtpdServer::Options tlsServer(const std::string& certificate, bool smtps) {
  AiosmtpdServer::Options options;
  options.certificate = certificate;
  options.starttls = !smtps;
  options.smtps = smtps;
  options.login = login();
  return options;
}

class SmtpTlsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TestCertificates::get().ready()) << "openssl could not make the certificates"; }
  std::string ca() const { return TestCertificates::get().ca(); }
};

}  // namespace

TEST(SmtpExtensionsTest, ReadsStartTlsAndTheLoginMechanisms) {
  SmtpExtensions offered;
  // The first line is the server's name, whatever it says.
  for (const char* line : {"250-STARTTLS.example.org greets you", "250-8BITMIME", "250-auth  login  cram-md5",
                           "250-AUTH=PLAIN", "250-XSTARTTLS", "250 starttls"})
    EXPECT_TRUE(offered.addLine(line)) << line;
  EXPECT_TRUE(offered.complete());
  EXPECT_TRUE(offered.startTls());
  EXPECT_TRUE(offered.authLogin());
  EXPECT_TRUE(offered.authPlain());
  EXPECT_FALSE(offered.addLine("250 AUTH PLAIN")) << "a line after the last one";

  SmtpExtensions refused;
  for (const char* line : {"502 not here", "250", "2500-STARTTLS", "250x STARTTLS"}) {
    SCOPED_TRACE(line);
    SmtpExtensions one;
    bool taken = one.addLine(line);
    EXPECT_EQ(taken, std::string(line) == "250");
  }
  SmtpExtensions plainOnly;
  for (const char* line : {"250-mx", "250-STARTTLSX", "250-AUTHX PLAIN", "250 AUTH CRAM-MD5"}) plainOnly.addLine(line);
  EXPECT_FALSE(plainOnly.startTls());
  EXPECT_FALSE(plainOnly.authPlain());
  EXPECT_TRUE(plainOnly.auth());
}

TEST_F(SmtpTlsTest, StartTlsOrTlsFromTheFirstByteThenLoginAndDeliver) {
  struct Case {
    const char* name;
    bool smtps;
    bool loginOnly;
    const char* mechanism;
  };
  for (const Case& c : {Case{"starttls, AUTH PLAIN", false, false, "PLAIN"}, Case{"tls, AUTH PLAIN", true, false, "PLAIN"},
                        Case{"starttls, AUTH LOGIN", false, true, "LOGIN"}}) {
    SCOPED_TRACE(c.name);
    AiosmtpdServer::Options options = tlsServer("server", c.smtps);
    options.loginOnly = c.loginOnly;
    AiosmtpdServer server(options);
    ASSERT_TRUE(server.running());
    TlsClient client(server.portText(), c.smtps ? smtpSecurityTls : smtpSecurityStartTls, ca());
    ASSERT_EQ(client.send(), 0) << client.smtp.ErrorMessage() << "\n" << client.display;
    EXPECT_EQ(server.session(1), std::string("tls=1 login=") + USER);
    EXPECT_EQ(server.authLog(), std::string(c.mechanism) + " " + USER + "\n");
    EXPECT_NE(server.message(1).find("Subject: over TLS\r\n"), std::string::npos);
    // STARTTLS asks for the server's offer again once encrypted.
    size_t ehlos = 0;
    for (size_t at = client.display.find("> EHLO "); at != std::string::npos; at = client.display.find("> EHLO ", at + 1))
      ++ehlos;
    EXPECT_EQ(ehlos, c.smtps ? 1u : 2u) << client.display;
    EXPECT_NE(client.display.find(c.loginOnly ? "> <password hidden>\n" : "> AUTH PLAIN <credentials hidden>\n"),
              std::string::npos)
        << client.display;
    client.expectNoSecretShown();
  }
}

TEST_F(SmtpTlsTest, ACertificateThatDoesNotCheckOutEndsTheSessionBeforeAnythingIsSent) {
  struct Case {
    const char* certificate;
    bool smtps;
    std::string host;
    std::string caFile;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"stranger", false, "127.0.0.1", ca(),
       "500 TLS with 127.0.0.1 failed: certificate verify failed (unable to get local issuer certificate)"},
      {"stranger", true, "127.0.0.1", "",
       "500 TLS with 127.0.0.1 failed: certificate verify failed (unable to get local issuer certificate)"},
      {"wrong-name", true, "127.0.0.1", ca(), "500 TLS with 127.0.0.1 failed: certificate verify failed (IP address mismatch)"},
      {"wrong-name", false, "localhost", ca(), "500 TLS with localhost failed: certificate verify failed (hostname mismatch)"},
      {"server", false, "127.0.0.1", "/nonexistent/ca.pem",
       "500 TLS with 127.0.0.1 failed: cannot read the CA file '/nonexistent/ca.pem': No such file or directory"},
  };
  {
    // A session with a good server first: a later server of the same name
    // cannot resume it and has its certificate checked.
    AiosmtpdServer good(tlsServer("server", true));
    TlsClient client(good.portText(), smtpSecurityTls, ca());
    ASSERT_EQ(client.send(), 0) << client.smtp.ErrorMessage();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.certificate) + (c.smtps ? " over tls" : " after STARTTLS") + " for " + c.host);
    AiosmtpdServer server(tlsServer(c.certificate, c.smtps));
    ASSERT_TRUE(server.running());
    TlsClient client(server.portText(), c.smtps ? smtpSecurityTls : smtpSecurityStartTls, c.caFile);
    client.smtp.SetHost(c.host);
    EXPECT_EQ(client.run(&TCustomSmtpClient::Open), 500);
    EXPECT_EQ(client.smtp.ErrorMessage(), c.error);
    EXPECT_TRUE(runEventLoopUntil([&] { return !client.smtp.Connected(); })) << "the connection stays open";
    EXPECT_EQ(server.authLog(), "") << "the password left";
    EXPECT_EQ(client.display.find("AUTH"), std::string::npos) << client.display;
  }
}

TEST_F(SmtpTlsTest, RefusedLoginsAndServersWithoutTls) {
  {
    SCOPED_TRACE("a wrong password");
    AiosmtpdServer server(tlsServer("server", false));
    TlsClient client(server.portText(), smtpSecurityStartTls, ca());
    client.smtp.SetPassword("wrong");
    EXPECT_EQ(client.run(&TCustomSmtpClient::Open), 535);
    EXPECT_EQ(client.smtp.ErrorMessage().substr(0, 4), "535 ") << client.smtp.ErrorMessage();
    EXPECT_EQ(client.display.find("wrong"), std::string::npos) << client.display;
  }
  {
    SCOPED_TRACE("a server without STARTTLS under starttls: no plain fallback");
    AiosmtpdServer server;
    TlsClient client(server.portText(), smtpSecurityStartTls, ca());
    EXPECT_EQ(client.run(&TCustomSmtpClient::Open), 500);
    EXPECT_EQ(client.smtp.ErrorMessage(), "500 SmtpException: 127.0.0.1 does not offer STARTTLS");
    EXPECT_NE(client.display.find("> EHLO "), std::string::npos);
    EXPECT_EQ(client.display.find("> STARTTLS"), std::string::npos);
    EXPECT_EQ(client.display.find("> AUTH"), std::string::npos);
  }
  {
    SCOPED_TRACE("a user name without encryption: no AUTH over plain text");
    AiosmtpdServer::Options plainLogin;
    plainLogin.login = login();
    AiosmtpdServer server(plainLogin);
    TlsClient client(server.portText(), smtpSecurityNone, "");
    EXPECT_EQ(client.run(&TCustomSmtpClient::Open), 500);
    EXPECT_EQ(client.smtp.ErrorMessage(),
              "500 SmtpException: No login over a connection that is not encrypted: 127.0.0.1 would receive the "
              "password in plain text");
    EXPECT_EQ(client.display.find("> AUTH"), std::string::npos) << client.display;
    EXPECT_EQ(server.authLog(), "");
  }
}

TEST_F(SmtpTlsTest, RepliesSentBeforeTheHandshakeAreNeverRead) {
  // An attacker on the way puts a reply behind "220 Ready to start TLS"; read
  // as the answer to the EHLO over TLS, it would hide the server's AUTH.
  AiosmtpdServer::Options options = tlsServer("server", false);
  options.inject = "250 injected";
  AiosmtpdServer server(options);
  ASSERT_TRUE(server.running());
  TlsClient client(server.portText(), smtpSecurityStartTls, ca());
  ASSERT_EQ(client.send(), 0) << client.smtp.ErrorMessage() << "\n" << client.display;
  EXPECT_EQ(client.display.find("injected"), std::string::npos) << client.display;
  EXPECT_EQ(server.session(1), std::string("tls=1 login=") + USER);
}

TEST_F(SmtpTlsTest, AServerThatRepeatsTheCredentialsHasThemBlankedOut) {
  AiosmtpdServer::Options options = tlsServer("server", true);
  options.echoAuth = true;
  AiosmtpdServer server(options);
  ASSERT_TRUE(server.running());
  TlsClient client(server.portText(), smtpSecurityTls, ca());
  EXPECT_EQ(client.run(&TCustomSmtpClient::Open), 535);
  EXPECT_EQ(client.smtp.ErrorMessage(), "535 5.7.8 Refused: PLAIN <hidden>");
  client.expectNoSecretShown();
}
