#pragma once
// A writer to a named file; it keeps no file open between entries.
//
// Writers in several processes share a file through its lock. While another
// process holds the lock (a reader, a writer that was stopped), a write does
// not wait: it keeps a copy of the entry, and the entries kept are written,
// in order, once the lock is free: retried from the event loop at growing
// intervals (when there is a Qt application), before the writer's next
// entry, and when the writer is destroyed, which waits for the lock a
// bounded time shared by all writers of the process. What is still kept
// then is reported once, with how many entries it was and the holder of the
// lock where the system tells it.

#include <QTimer>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "debug/TDebugWriter.h"

class TFileWriter : public TDebugWriter {
  MORVANE_CLASS(TFileWriter, TDebugWriter)

  // Keeps the name (used unchanged: a relative name is relative to the
  // current directory); opens nothing.
  explicit TFileWriter(const std::string& fileName);
  ~TFileWriter() override;

  // Writes `entry` to the file, or keeps a copy while another process holds
  // the file's lock (see above). Entries reach the file in the order they
  // were written. Other failures raise IOException
  // "<Class>.write: (Class) message".
  void write(const TDebugEntry& entry) final;

  // Entries kept while the file was locked, not written yet.
  size_t pendingCount() const { return pending_.size(); }

  std::string fileName;
  // How long a write waits for the file's lock before it keeps the entry
  // for later: a moment, so that a writer in the middle of its own write
  // does not delay this one.
  int lockWaitMilliseconds = 5;
  // At most this many entries are kept; beyond it the oldest are dropped,
  // which is reported once.
  static constexpr size_t MAX_PENDING = 10000;
  // How long the destruction of all writers of a process waits, together,
  // for locks held elsewhere.
  static constexpr int FINAL_WAIT_MILLISECONDS = 5000;
  // Sets what the destructions may still wait, together, from now on.
  static void setFinalWait(int milliseconds);

 protected:
  // Writes `entry` under the file's exclusive lock, waiting at most
  // `waitMilliseconds` for it. False when another process held the lock all
  // that time; other failures raise.
  virtual bool writeLocked(const TDebugEntry& entry, int waitMilliseconds) = 0;
  // Writes what is kept, waiting for the lock a bounded time, and reports
  // what stays. The destructor of each concrete writer calls it, since
  // writeLocked is gone once this base is destroyed.
  void finishPending() noexcept;

 private:
  // Writes kept entries in order without waiting; true when none is left.
  // A kept entry that fails for another reason than the lock is reported
  // and dropped.
  bool writePending();
  void keep(const TDebugEntry& entry);
  void scheduleRetry();
  std::string failurePrefix() const { return className() + ".write"; }

  std::deque<std::unique_ptr<TMappedObject>> pending_;
  std::unique_ptr<QTimer> retry_;
  int retryMilliseconds_ = 0;
  size_t dropped_ = 0;
  bool writingPending_ = false;
};
