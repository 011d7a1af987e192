// TFolderTrackDialog: asks whether to track a folder and with which name masks: sub-folders or not,
// the names to keep and the names to leave out. ResultCode: 0 when closed by the window system, 1
// on "确定", 2 on "放弃".
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lanqi {

class TFolderTrackDialog : public QDialog {
 public:
  // folder: as the screen shows it.
  explicit TFolderTrackDialog(const QString& folder, QWidget* parent = nullptr);

  int ResultCode = 0;

  QLabel* Label1;          // "是否监控目录：<folder>？"
  QCheckBox* SubFolders;   // "包含子目录"
  QLineEdit* IncludeEdit;  // the names to keep ("*.docx;*.txt"; empty: every name)
  QLineEdit* ExcludeEdit;  // the names to leave out
  QPushButton* Button1;    // "确定"
  QPushButton* Button2;    // "放弃"
};

}  // namespace lanqi
