// TFormVerSm: the version-note dialog. During a detection pass it closes itself after 10 seconds
// unless the user starts typing; ResultCode tells the caller how it ended.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdint>
#include <optional>
#include <string>

#include "rtl/Component.h"

namespace lanqi {

class TTimer;

// What a save changed in a tracked file since its newest version, for the note prompt.
struct TFileChange {
  std::string Path;                   // the tracked file (code page)
  bool HasVersion = false;            // the file has a version to compare with
  std::optional<int64_t> SizeBefore;  // the newest version's size; none when its copy cannot be read
  std::optional<int64_t> SizeAfter;   // none when the file cannot be read
  bool IsText = false;                // both sides read as text: the line counts hold
  int Added = 0;
  int Removed = 0;
};
// Compares the file with its newest version's copy (empty: there is none yet) by the same line diff
// as the compare window; nothing it meets is raised, a side it cannot read is left out.
TFileChange DescribeChange(const std::string& path, const std::string& newestCopy);
// "1.5 KB → 1.6 KB，增加 3 行，删除 1 行", as the prompt shows it.
QString ChangeText(const TFileChange& change);

class TFormVerSm : public QDialog {
 public:
  explicit TFormVerSm(QWidget* parent = nullptr);
  ~TFormVerSm() override;

  // 1: submitted, or closed by the window system; 2: abandoned or closed by the timer.
  int ResultCode = 0;

  QLabel* Label1;         // heading, empty unless the caller sets it: the file's name in a pass
  QLabel* LabelFolder;    // "目录：" and the file's folder, empty unless ShowFile is called
  QLabel* LabelChange;    // "变化：" and ChangeText, empty unless ShowFile is called
  QLabel* Label2;         // "版本说明："
  QPlainTextEdit* Edit1;  // the note
  QPushButton* Button1;   // "提交"
  QPushButton* Button2;   // "放弃"
  TTimer* tmr1;           // the auto-close, 10000 ms, running from creation
  // The code-page bytes the note may take (what the caller can store); 0: no limit. Set it before
  // the dialog is shown: typing or pasting past it keeps only the head that fits.
  int32_t NoteLimit = 0;

  void FormCreate();
  // Names the file being captured and what changed since its newest version.
  void ShowFile(const TFileChange& change);
  void Edit1Change();
  void tmr1Timer();
  void Button1Click();
  void Button2Click();

 private:
  // Cuts what the last change put into the memo down to what fits NoteLimit.
  void KeepWithinLimit();

  TComponent components_;  // owns tmr1
  int changedAt_ = 0;      // where the memo's last change happened and how many characters it added
  int changeAdded_ = 0;
  bool limiting_ = false;
};

}  // namespace lanqi
