// TFormVerSm: the version-note dialog. During a detection pass it closes itself after 10 seconds
// unless the user starts typing; ResultCode tells the caller how it ended.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "rtl/Component.h"

namespace lanqi {

class TTimer;

class TFormVerSm : public QDialog {
 public:
  explicit TFormVerSm(QWidget* parent = nullptr);
  ~TFormVerSm() override;

  // 1: submitted, or closed by the window system; 2: abandoned or closed by the timer.
  int ResultCode = 0;

  QLabel* Label1;         // heading, empty unless the caller sets it
  QLabel* Label2;         // "版本说明："
  QPlainTextEdit* Edit1;  // the note
  QPushButton* Button1;   // "提交"
  QPushButton* Button2;   // "放弃"
  TTimer* tmr1;           // the auto-close, 10000 ms, running from creation
  // The code-page bytes the note may take (what the caller can store); 0: no limit. Set it before
  // the dialog is shown: typing or pasting past it keeps only the head that fits.
  int32_t NoteLimit = 0;

  void FormCreate();
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
