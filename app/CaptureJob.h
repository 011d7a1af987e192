// TCaptureJob: the copy step of one capture on a thread of its own, so that the window goes on
// serving its user while a large file is read and copied.
//
// Threads: everything but the copy runs on the user-interface thread (the main loop's). The copy
// touches no table; its progress reaches the user-interface thread through the loop's
// Synchronize, so a progress report runs while the copy is provably still going, and the copy
// only moves on once the loop has served it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "app/VersionCatalog.h"
#include "platform/EventLoop.h"

namespace lanqi {

class TCaptureJob {
 public:
  using TProgress = std::function<void(int64_t done, int64_t total)>;

  // Starts the copy of plan at once. onProgress, when set, is called on this thread each time
  // another hundredth of the work is done.
  TCaptureJob(TVersionCatalog& catalog, TCapturePlan plan, TProgress onProgress = {});
  // Abandons the copy unless it was committed (see Abandon).
  ~TCaptureJob();
  TCaptureJob(const TCaptureJob&) = delete;
  TCaptureJob& operator=(const TCaptureJob&) = delete;

  bool Done() const;
  // Waits for the copy to end, running the loop's messages meanwhile, so the window stays usable.
  void Wait();
  // Stops the copy and waits for it; a copy already made is removed as well: nothing of this
  // capture stays on disk. Commit then records nothing. Does nothing after Commit.
  void Abandon();
  // Waits, then gives the plan as the copy left it. Raises what the copy raised.
  const TCapturePlan& Plan();
  // Waits, then writes the version row and the stamp (CommitCapture); from here on the copy is
  // the catalog's. Raises what the copy or the commit raised; false when no row was written.
  bool Commit(const std::string& note, verinfo& info);

 private:
  void Run();

  TVersionCatalog& catalog_;
  EventLoop& loop_;  // the user-interface thread's
  TCapturePlan plan_;
  TProgress onProgress_;  // the user-interface thread's
  const bool report_;     // whether the copy reports its progress
  bool committed_ = false;
  std::atomic<bool> cancel_{false};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  uint64_t pokes_ = 0;  // a progress report is on its way to the loop
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace lanqi
