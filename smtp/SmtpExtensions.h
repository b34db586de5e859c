#pragma once
// What a server offers in its reply to EHLO, as far as this client uses it:
// STARTTLS and the AUTH mechanisms PLAIN and LOGIN.
//
// The reply's first line names the server; every further line is one
// extension keyword with its parameters ("250-AUTH PLAIN LOGIN",
// "250 STARTTLS"), keywords and mechanisms without regard to case. The
// older "AUTH=LOGIN" form counts too. Lines are read in place: nothing is
// kept but the flags.

#include <cstddef>
#include <string_view>

class SmtpExtensions {
 public:
  // Reads the next line of the reply (without CR LF). False for a line that
  // is no line of a positive EHLO reply ("250" followed by "-", a blank or
  // nothing); such a line, and every line after the last one, changes nothing.
  bool addLine(std::string_view line);

  bool startTls() const { return startTls_; }
  bool authPlain() const { return authPlain_; }
  bool authLogin() const { return authLogin_; }
  // Whether the reply offered AUTH at all (with any mechanism).
  bool auth() const { return auth_; }
  // Whether the last line of the reply was read.
  bool complete() const { return complete_; }

 private:
  size_t lines_ = 0;
  bool complete_ = false;
  bool startTls_ = false;
  bool authPlain_ = false;
  bool authLogin_ = false;
  bool auth_ = false;
};
