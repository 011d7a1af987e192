// Change detection: one watcher per fixed drive only says that something changed; 5 seconds
// later a pass compares every tracked file's stamp with the one stored at its last capture and
// captures the files that differ. The watchers are muted, not closed, for the pass: their watches
// (one per folder of the drive, put on by their workers) are kept from one pass to the next.
#include "app/CaptureJob.h"
#include "app/CaptureProgress.h"
#include "app/Uversm.h"
#include "app/uver.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Timer.h"
#include "tray/TrayIcon.h"

namespace lanqi {

namespace {

// Files larger than this show the progress of their copy, and their note is asked for while they
// are copied; smaller ones are copied before their prompt.
constexpr int64_t kProgressFrom = 50LL * 1024 * 1024;

}  // namespace

void Tmainw::CreateDriveWatchers() {
  std::vector<std::string> roots = setup_.DriveRoots ? *setup_.DriveRoots : FixedDriveRoots();
  for (const std::string& root : roots) {
    auto* w = components_.Create<TFileSystemWatcher>();
    w->SetWatchedDir(root);
    w->SetNotifyFilters(TNotifyFilters::All());
    w->SetActive(true);
    w->SetOnWatchLimit([this](TObject*) { DriveWatchLimitReached(); });
    w->SetOnChange([this](TObject* s, TFileOperation op, const std::string& a, const std::string& b) {
      FileSystemWatcher1Change(s, op, a, b);
    });
    DriveWatchers.push_back(w);
  }
}

void Tmainw::SetWatchersActive(bool active) {
  // Reopening a drive's watch would walk the whole drive again; muting costs nothing.
  for (TFileSystemWatcher* w : DriveWatchers) w->SetMuted(!active);
}

void Tmainw::AbandonCapture() {
  // No version is half recorded: the pass that started the copy commits nothing after this.
  if (capture_) capture_->Abandon();
}

void Tmainw::DriveWatchLimitReached() {
  if (pollTracked_ || closed_) return;
  pollTracked_ = true;
  ShowMessage(QString::fromUtf8(reinterpret_cast<const char*>(
      u8"文件夹太多，系统允许的文件监视数已用完（fs.inotify.max_user_watches），部分文件夹里的改动不能"
      u8"即时发现。本程序改为每 5 秒检查一次所有被跟踪的文件。调大这一设置（例如 sudo sysctl "
      u8"fs.inotify.max_user_watches=524288）后重新启动本程序，即可恢复即时监视。")));
  // The pass that starts the polling; each pass then arms the next one.
  if (!closed_ && PendingFiles && PendingFiles->Count() == 0) tmr1->SetEnabled(true);
}

void Tmainw::FreeDriveWatchers() {
  std::vector<TFileSystemWatcher*> watchers;
  watchers.swap(DriveWatchers);
  for (TFileSystemWatcher* w : watchers) {
    w->SetActive(false);
    DestroyComponent(w);
  }
}

void Tmainw::FileSystemWatcher1Change(TObject*, TFileOperation, const std::string&, const std::string&) {
  if (!AutoMonitor()) return;  // "自动监测" is off: no pass, no prompt
  tmr1->SetEnabled(true);
  // One pass per burst: nothing more is reported until the pass has run.
  SetWatchersActive(false);
}

void Tmainw::ScanTrackedFiles() {
  for (const std::string& path : catalog_->ChangedFiles()) {
    // Paths compare as the file system does: letter case counts.
    bool listed = false;
    for (int k = 0; k < PendingFiles->Count() && !listed; ++k) listed = PendingFiles->Strings(k) == path;
    if (!listed) PendingFiles->Add(path);
  }
}

QModelIndex Tmainw::FindFileNode(const std::string& path, int32_t fileNo) {
  // Where a path has several nodes (older catalogs hold some paths twice), the one of the row that
  // got the version wins.
  return TreeModel->IndexOf(TreeModel->FindFile(path, fileNo));
}

void Tmainw::tmr1Timer() {
  tmr1->SetEnabled(false);
  if (!AutoMonitor()) return;
  // The window is closing, or its catalog never opened (that was reported once, at start): no pass,
  // and the watchers stay silent rather than bring the same message at every change.
  if (!PendingFiles || !Tbfileid || !Tbfileid->Active()) return;
  // Whatever happens below, the pass ends: the tree is drawn again, the list is emptied and the
  // watchers listen again.
  struct TPassEnd {
    Tmainw* w;
    bool bulk = false;
    ~TPassEnd() {
      if (bulk) w->EndTreeUpdate();
      if (w->PendingFiles) w->PendingFiles->Clear();
      w->SetWatchersActive(true);
      if (w->pollTracked_ && !w->closed_) w->tmr1->SetEnabled(true);
    }
  } end{this};
  TrackNewFolderFilesInPass();
  // The session may have ended while that waited on a message: the window is closed and its list
  // of pending files gone.
  if (closed_ || !PendingFiles) return;
  ScanTrackedFiles();
  BeginTreeUpdate();
  end.bulk = true;
  for (int i = 0; !closed_ && PendingFiles && i < PendingFiles->Count(); ++i) {
    const std::string path = PendingFiles->Strings(i);
    if (!FileExists(path)) continue;
    // What there is to do is decided here; the copy runs on a thread of its own, and the version
    // row is written here once the copy is complete and synced.
    std::unique_ptr<TFormCapture> progress;
    std::unique_ptr<TCaptureJob> job;
    Guard([&] {
      TCapturePlan plan = catalog_->PrepareCapture(path);
      if (plan.FileNo == 0) return;  // no longer tracked
      TCaptureJob::TProgress report;
      if (FileSizeOf(path) > kProgressFrom) {
        progress = std::make_unique<TFormCapture>(ScreenText(ExtractFileName(path)), this);
        progress->show();
        report = [bar = progress.get()](int64_t done, int64_t total) { bar->SetProgress(done, total); };
      }
      job = std::make_unique<TCaptureJob>(*catalog_, std::move(plan), std::move(report));
    });
    if (!job) continue;
    // Leaving the program abandons the copy: see FormClose.
    struct TJobEnd {
      Tmainw* w;
      TCaptureJob* outer;
      TFormCapture* outerProgress;
      ~TJobEnd() {
        w->capture_ = outer;
        w->FormCapture = outerProgress;
      }
    } jobEnd{this, capture_, FormCapture};
    capture_ = job.get();
    FormCapture = progress.get();
    if (!progress) {
      // A save that brought nothing new has nothing to ask about: only its stamp is stored. (A
      // failed copy is reported after its prompt, as the capture's failure.)
      bool unchanged = false;
      try {
        unchanged = job->Plan().Unchanged;
      } catch (const std::exception&) {
      }
      if (closed_) break;  // the session ended while the copy ran: it was abandoned
      if (unchanged) {
        verinfo ignored;
        Guard([&] { job->Commit("", ignored); });
        continue;
      }
    }
    std::string note;
    {
      TFormVerSm dialog(this);
      dialog.NoteLimit = NoteRoom();
      // The prompt names the file and what changed since its newest version.
      std::string newestCopy;
      Guard([&] {
        if (int32_t fileNo = catalog_->FileNoOf(path)) {
          std::vector<verinfo> versions = catalog_->Versions(fileNo);
          if (!versions.empty()) newestCopy = versions.back().FilePath;
        }
      });
      dialog.ShowFile(DescribeChange(path, newestCopy));
      ExecDialog(dialog);
      TrayIcon1->HideToTray();  // where there is no notification area, only minimised
      // A note the catalog cannot hold is reported; the version is still captured, without it.
      if (dialog.ResultCode == 1)
        Guard([&] { note = Utf8ToAnsi(dialog.Edit1->toPlainText().toStdString()); });
    }
    // The session ended while the prompt was open: the rest waits for the next start, whose first
    // pass finds the same stamps differing.
    if (closed_) break;
    // A capture that fails is reported and the pass goes on with the next file. A large copy may
    // still be running: its progress stays on screen until it is done.
    Guard([&] {
      verinfo info;
      notesRead_ = false;
      if (!job->Commit(note, info)) return;  // unchanged after all: nothing to show
      const TCatalogTreeModel::TPlace file = TreeModel->FindFile(path, info.FileNo);
      if (file.Kind != TCatalogTreeModel::TKind::None)
        TreeModel->AddVersion(file, info.Version);
      else
        // Another program added the file since the tree was read: the reload shows it.
        ReloadTimer->SetEnabled(true);
    });
  }
}

}  // namespace lanqi
