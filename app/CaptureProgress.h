// TFormCapture: the progress of a large file's copy during a detection pass, shown from the start
// of the copy until its version is recorded; the note prompt can be answered beside it.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>

#include <cstdint>

namespace lanqi {

class TFormCapture : public QDialog {
 public:
  // Caption "正在备份：" and the file's name.
  explicit TFormCapture(const QString& fileName, QWidget* parent = nullptr);
  ~TFormCapture() override;

  QLabel* Label1;              // "已完成 12.0 MB / 200.0 MB"
  QProgressBar* ProgressBar1;  // 0..100

  void SetProgress(int64_t done, int64_t total);
};

}  // namespace lanqi
