#include "app/CaptureJob.h"

#include <chrono>
#include <filesystem>

#include "platform/CodePage.h"
#include "platform/EventLoop.h"

namespace lanqi {

TCaptureJob::TCaptureJob(TVersionCatalog& catalog, TCapturePlan plan, TProgress onProgress)
    : catalog_(catalog),
      loop_(MainLoop()),
      plan_(std::move(plan)),
      onProgress_(std::move(onProgress)),
      report_(static_cast<bool>(onProgress_)) {
  thread_ = std::thread([this] { Run(); });
}

TCaptureJob::~TCaptureJob() {
  Abandon();
}

void TCaptureJob::Run() {
  int last = -1;
  auto progress = [&](int64_t done, int64_t total) {
    if (!report_ || total <= 0) return;
    const int hundredth = static_cast<int>(done * 100 / total);
    if (hundredth == last) return;
    last = hundredth;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pokes_;
    }
    wake_.notify_all();
    try {
      loop_.Synchronize([this, done, total] {
        if (onProgress_ && !cancel_.load()) onProgress_(done, total);
      });
    } catch (...) {
      // A report the loop could not show (it went away, or the report failed) stops no copy.
    }
  };
  try {
    catalog_.CopyForCapture(plan_, progress, &cancel_);
  } catch (...) {
    error_ = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
}

bool TCaptureJob::Done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void TCaptureJob::Wait() {
  if (!thread_.joinable()) return;
  uint64_t seen = 0;
  for (;;) {
    // The copy may be waiting for this very thread to show its progress.
    loop_.ProcessMessages();
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_) break;
    // Woken by the end or by a report on its way; the bound only covers a report queued after
    // the messages were processed.
    wake_.wait_for(lock, std::chrono::milliseconds(10), [&] { return done_ || pokes_ != seen; });
    seen = pokes_;
  }
  if (thread_.joinable()) thread_.join();
}

void TCaptureJob::Abandon() {
  if (committed_) return;
  cancel_.store(true);
  onProgress_ = nullptr;
  Wait();
  if (plan_.Copied) {
    std::error_code ignored;
    std::filesystem::remove(ToOsPath(plan_.Copy), ignored);
    plan_.Copied = false;
  }
  plan_.Cancelled = true;
}

const TCapturePlan& TCaptureJob::Plan() {
  Wait();
  if (error_) std::rethrow_exception(error_);
  return plan_;
}

bool TCaptureJob::Commit(const std::string& note, verinfo& info) {
  Plan();
  if (committed_ || plan_.Cancelled) return false;
  committed_ = true;
  return catalog_.CommitCapture(plan_, note, info);
}

}  // namespace lanqi
