// TCreatDataAreaW: the new-storage-area dialog: a folder picked in a tree and a name typed by the
// user. ResultCode: 0 when closed by the window system, 1 on "确定", 2 on "放弃".
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

class QFileSystemModel;

namespace lanqi {

class TCreatDataAreaW : public QDialog {
 public:
  explicit TCreatDataAreaW(QWidget* parent = nullptr);
  ~TCreatDataAreaW() override;

  int ResultCode = 0;

  QLabel* Label1;             // "选择目录作为文件历史版本保存区域"
  QTreeView* ShellTreeView1;  // the folder tree
  QLabel* Label2;             // "文件保存目录为："
  QLineEdit* Edit1;           // read-only: the selected folder's path
  QLabel* Label3;             // "存储区名称："
  QLineEdit* Edit2;           // the area name
  QPushButton* Button1;       // "确定"
  QPushButton* Button2;       // "放弃"

  void ShellTreeView1Change();
  void Button1Click();
  void Button2Click();

 private:
  QFileSystemModel* folders_;
  bool followHome_ = true;
};

}  // namespace lanqi
