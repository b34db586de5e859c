// TCustomWSocket's data: the send queue's way out through the transport,
// Receive, and the receive loop that offers what arrived to OnDataAvailable.
#include <sys/uio.h>

#include <cstdint>
#include <string>

#include <QSocketNotifier>

#include "net/TWSocket.h"

// ---- sending

void TCustomWSocket::QueueData(const void* data, int32_t length) {
  queue_.append(static_cast<const char*>(data), length);
}

void TCustomWSocket::discardQueue() { queue_.clear(); }

int32_t TCustomWSocket::Send(const void* data, int32_t length) {
  if (state_ != wsConnected) {
    failed(WSAENOTCONN, "Send");
    return -1;
  }
  allSent_ = false;
  QueueData(data, length);
  LifeGuard::Watch alive = life_.watch();
  tryToSend();
  if (!alive) return length <= 0 ? 0 : length;
  // OnDataSent must never run inside Send: the event loop delivers it.
  if (allSent_ && handle_.isOpen()) postSocketEvent(FD_WRITE, 0);
  return length <= 0 ? 0 : length;
}

int32_t TCustomWSocket::SendText(const std::string& text) {
  return Send(text.data(), static_cast<int32_t>(text.size()));
}

void TCustomWSocket::tryToSend() {
  // The unsent bytes of up to GATHER blocks leave in one call, in queue
  // order; a block emptied by it is freed unless it is the only one.
  constexpr size_t GATHER = 64;
  if (transport_->settingUp()) return;  // the bytes leave once the setup is done
  while (handle_.isOpen() && !queue_.empty()) {
    iovec parts[GATHER];
    size_t wanted = 0;
    const size_t count = queue_.gather(parts, GATHER, wanted);
    if (count == 0) {
      queue_.trim();
      allSent_ = true;
      return;
    }
    size_t sent = 0;
    const uint16_t code = transport_->send(parts, count, sent);
    if (code == 0) {
      queue_.consume(sent);
      if (sent == wanted || (transport_->takesOneRecordPerSend() && sent > 0)) continue;
      enableWrite(true);  // the next write event resumes
      return;
    }
    if (code == WSAEWOULDBLOCK) {
      if (!transport_->sendWaitsForRead()) enableWrite(true);
      return;
    }
    if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED || code == WSAECONNRESET ||
        code == WSAENOTCONN) {
      LifeGuard::Watch alive = life_.watch();
      closedNotified_ = true;
      Close();
      if (alive) life_.notify(OnSessionClosed, this, code);
      return;
    }
    failed(code, "TryToSend failed");
    return;
  }
  if (queue_.empty()) allSent_ = true;
}

// ---- receiving

int32_t TCustomWSocket::Receive(void* buffer, int32_t size) {
  ++receiveCalls_;
  if (readNotifier_ && state_ == wsConnected && !readNotifier_->isEnabled()) {
    readNotifier_->setEnabled(true);
    if (transport_->held() > 0) postSocketEvent(FD_READ, 0);
  }
  if (!handle_.isOpen()) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  if (size <= 0) return 0;
  size_t received = 0;
  const uint16_t error = transport_->receive(buffer, static_cast<size_t>(size), received);
  if (error != 0) {
    lastError_ = error;
    return -1;
  }
  readCount_ += received;
  return static_cast<int32_t>(received);
}

void TCustomWSocket::receiveLoop(uint16_t error, bool honourNoLoop) {
  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  const bool once = honourNoLoop && componentOptions_.count(wsoNoReceiveLoop) > 0;
  // A peer that sends faster than the handler reads would hold the thread
  // here for as long as it sends, and no timer would run. After a bounded
  // number of passes or bytes the event loop gets its turn; the read notifier
  // offers the rest at the next one. The loop before a close drains all.
  constexpr int PASSES_PER_EVENT = 64;
  constexpr uint64_t BYTES_PER_EVENT = 64 * 1024;
  const uint64_t readBefore = readCount_;
  for (int pass = 1;; ++pass) {
    lastError_ = 0;
    if (OnDataAvailable) {
      const uint64_t receivesBefore = receiveCalls_;
      OnDataAvailable(this, error);
      if (!alive || session != session_) return;
      if (receiveCalls_ == receivesBefore) {
        // A handler that does not read would be offered the same data for
        // ever: readiness is not watched again until it calls Receive.
        if (readNotifier_) readNotifier_->setEnabled(false);
        return;
      }
    } else {
      char discard[1024];
      if (Receive(discard, sizeof discard) < 0 && lastError_ == WSAEWOULDBLOCK) {
        lastError_ = 0;
        return;
      }
    }
    if (once || lastError_ != 0 || !handle_.isOpen()) return;
    if (honourNoLoop && (pass >= PASSES_PER_EVENT || readCount_ - readBefore >= BYTES_PER_EVENT)) {
      // Bytes the transport holds are not announced by the handle again.
      if (transport_->held() > 0) postSocketEvent(FD_READ, 0);
      return;
    }
    if (transport_->waiting() <= 0) return;
  }
}
