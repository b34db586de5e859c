#include "debug/TFileWriter.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "basis/Exceptions.h"
#include "basis/FileSystem.h"
#include "debug/TDebugEntry.h"

namespace {

constexpr int FIRST_RETRY_MILLISECONDS = 20;
constexpr int LAST_RETRY_MILLISECONDS = 500;

// What the destructions of this process's writers may still wait, together.
std::chrono::steady_clock::duration& finalWaitLeft() {
  static std::chrono::steady_clock::duration left = std::chrono::milliseconds(TFileWriter::FINAL_WAIT_MILLISECONDS);
  return left;
}

std::string entries(size_t count) { return std::to_string(count) + (count == 1 ? " entry" : " entries"); }

}  // namespace

void TFileWriter::setFinalWait(int milliseconds) { finalWaitLeft() = std::chrono::milliseconds(milliseconds); }

TFileWriter::TFileWriter(const std::string& fileName) : TDebugWriter() { this->fileName = fileName; }

TFileWriter::~TFileWriter() = default;

void TFileWriter::write(const TDebugEntry& entry) {
  try {
    if (writePending() && writeLocked(entry, lockWaitMilliseconds)) return;
  } catch (const std::exception& e) {
    throw IOException(failurePrefix() + ": " + wrappedText(e));
  }
  keep(entry);
}

void TFileWriter::keep(const TDebugEntry& entry) {
  pending_.push_back(entry.clone());
  scheduleRetry();
  if (pending_.size() <= MAX_PENDING) return;
  pending_.pop_front();
  // Reported when the first is dropped; the report may run a dialog's loop,
  // which may call this writer again, so it comes after every change.
  if (dropped_++ == 0) {
    internalError(failurePrefix() + ": " + fileutil::lockedMessage(fileName) + " " + entries(MAX_PENDING) +
                  " wait for it; older ones are dropped.");
  }
}

bool TFileWriter::writePending() {
  if (writingPending_) return false;  // called again from a report's dialog: keep the order
  writingPending_ = true;
  while (!pending_.empty()) {
    const auto* entry = as<TDebugEntry>(pending_.front().get());
    bool written = false;
    try {
      written = writeLocked(*entry, 0);
    } catch (const std::exception& e) {
      pending_.pop_front();
      // Nobody is left to raise to: the report names the writer's operation.
      IOException failure(failurePrefix() + ": " + wrappedText(e));
      writingPending_ = false;
      internalError(failurePrefix(), &failure);
      return writePending();
    }
    if (!written) break;
    pending_.pop_front();
  }
  writingPending_ = false;
  if (!pending_.empty()) return false;
  if (dropped_ > 0) {
    const size_t dropped = dropped_;
    dropped_ = 0;
    internalError(failurePrefix() + ": " + entries(dropped) + " for '" + fileName +
                  "' were dropped while another process held it.");
  }
  retryMilliseconds_ = 0;
  if (retry_) retry_->stop();
  return true;
}

void TFileWriter::scheduleRetry() {
  if (QCoreApplication::instance() == nullptr || QThread::currentThread() != QCoreApplication::instance()->thread()) {
    return;  // no event loop: the next write or the destruction retries
  }
  if (!retry_) {
    retry_ = std::make_unique<QTimer>();
    retry_->setSingleShot(true);
    QObject::connect(retry_.get(), &QTimer::timeout, retry_.get(), [this] {
      if (!writePending()) scheduleRetry();
    });
  }
  if (retry_->isActive()) return;
  // A lock held for long is looked at less and less often.
  retryMilliseconds_ = retryMilliseconds_ == 0 ? FIRST_RETRY_MILLISECONDS
                                               : std::min(retryMilliseconds_ * 2, LAST_RETRY_MILLISECONDS);
  retry_->start(retryMilliseconds_);
}

void TFileWriter::finishPending() noexcept {
  try {
    if (retry_) retry_->stop();
    auto pause = std::chrono::milliseconds(1);
    auto& left = finalWaitLeft();
    while (!writePending() && left > std::chrono::steady_clock::duration::zero()) {
      const auto started = std::chrono::steady_clock::now();
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, left));
      left -= std::chrono::steady_clock::now() - started;
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    if (pending_.empty()) return;
    internalError(failurePrefix() + ": " + fileutil::lockedMessage(fileName) + " " + entries(pending_.size()) +
                  " could not be written" +
                  (dropped_ > 0 ? " (and " + entries(dropped_) + " were dropped before)" : std::string()) + ".");
    pending_.clear();
  } catch (...) {
  }
}
