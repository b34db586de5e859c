// The SMTP client's reply reader on arbitrary server bytes: line assembly in
// the fixed receive buffer, reply codes, multi-line replies, the greeting
// rules and overlong lines. The first byte picks the state the bytes meet.
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

#include "basis/Exceptions.h"
#include "smtp/TSmtpCli.h"

namespace {

class FuzzClient : public TSmtpCli {
 public:
  using TCustomSmtpClient::ReceiveReply;
  using TCustomSmtpClient::SetState;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_smtpreply";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  if (size == 0) return 0;
  static const TSmtpState states[] = {smtpWaitingBanner, smtpReady, smtpWaitingResponse, smtpInternalReady};
  {
    FuzzClient client;
    if (!client.SetState(states[data[0] % 4])) return 0;  // no handler here can destroy it
    try {
      client.ReceiveReply(reinterpret_cast<const char*>(data + 1), static_cast<int32_t>(size - 1));
    } catch (const SmtpException&) {
      // a reply with no request waiting for it
    }
  }
  QCoreApplication::processEvents();
  return 0;
}
