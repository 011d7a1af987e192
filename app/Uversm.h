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

  void FormCreate();
  void Edit1Change();
  void tmr1Timer();
  void Button1Click();
  void Button2Click();

 private:
  TComponent components_;  // owns tmr1
};

}  // namespace lanqi
