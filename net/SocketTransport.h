#pragma once
// How the socket's bytes travel over its handle: as they are
// (PlainTransport) or through a TLS session (TlsTransport). The socket sends,
// receives and looks at the incoming side only through its transport and
// never asks which one it has. Results are classic socket error numbers, as
// SocketHandle gives them.
//
// A transport may need setting up before data moves (the TLS handshake).
// While that runs the socket hands it every readiness event of the handle,
// and each step says which readiness it waits for next.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/SocketHandle.h"

class SocketTransport {
 public:
  // Where a step of the setup left it.
  enum class Setup { Done, WantRead, WantWrite, Failed };

  SocketTransport() = default;
  virtual ~SocketTransport() = default;
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  // ---- setup
  // Whether the setup still runs: until it is done no data moves, and every
  // byte that arrives belongs to the setup.
  virtual bool settingUp() const = 0;
  // One step of the setup, from a readiness event of the handle.
  virtual Setup advanceSetup() = 0;
  // Why the setup failed.
  virtual const std::string& failure() const = 0;
  // Whether the bytes travel encrypted (the setup complete).
  virtual bool encrypted() const = 0;
  // The protocol of the encryption ("TLSv1.3"), "" without one.
  virtual std::string protocol() const = 0;

  // ---- data
  // Hands as much of the parts, in order, as the transport takes now;
  // sent := that count.
  virtual uint16_t send(const iovec* parts, size_t count, size_t& sent) = 0;
  // Whether a send that took only part of what was offered still leaves
  // room for another at once (TLS takes one record per call); otherwise the
  // network is full until the next write event.
  virtual bool takesOneRecordPerSend() const = 0;
  // Whether the last send that could not go on waits for readability of
  // the handle instead of writability.
  virtual bool sendWaitsForRead() const = 0;
  // The handle became readable: ends such a wait; true when a send waited.
  virtual bool endReadWait() = 0;
  // Reads at most size bytes; received := the count (0 at the end of stream).
  virtual uint16_t receive(void* buffer, size_t size, size_t& received) = 0;
  // Looks at the incoming side without consuming; error set when Failed.
  virtual SocketHandle::Incoming peek(uint16_t& error) = 0;
  // Bytes ready to be read.
  virtual int32_t waiting() const = 0;
  // Received bytes held inside the transport, which the handle's readiness
  // no longer announces.
  virtual size_t held() const = 0;
  // Tells the peer that nothing more comes, before the sending side of the
  // handle is shut down (best effort, never waits).
  virtual void closeNotify() = 0;
};
