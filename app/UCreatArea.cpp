#include "app/UCreatArea.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

namespace lanqi {

TCreatDataAreaW::TCreatDataAreaW(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CreatDataAreaW"));
  setWindowTitle(QStringLiteral("建立新的储存区"));
  resize(505, 370);

  Label1 = new QLabel(QStringLiteral("选择目录作为文件历史版本保存区域"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(48, 12, 409, 20);

  // Folders only, from the root of the file system; the tree is read once, not kept refreshed.
  folders_ = new QFileSystemModel(this);
  folders_->setOption(QFileSystemModel::DontWatchForChanges);
  folders_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  folders_->setRootPath(QDir::rootPath());

  ShellTreeView1 = new QTreeView(this);
  ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
  ShellTreeView1->setGeometry(48, 36, 409, 169);
  ShellTreeView1->setModel(folders_);
  ShellTreeView1->setHeaderHidden(true);
  for (int c = 1; c < folders_->columnCount(); ++c) ShellTreeView1->hideColumn(c);
  ShellTreeView1->setRootIsDecorated(false);
  ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

  Label2 = new QLabel(QStringLiteral("文件保存目录为："), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(48, 216, 409, 20);

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(48, 238, 409, 22);
  Edit1->setReadOnly(true);

  Label3 = new QLabel(QStringLiteral("存储区名称："), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(48, 270, 409, 20);

  Edit2 = new QLineEdit(this);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setGeometry(48, 292, 409, 22);

  Button1 = new QPushButton(QStringLiteral("确定"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(120, 328, 75, 25);

  Button2 = new QPushButton(QStringLiteral("放弃"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(310, 328, 75, 25);

  connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &TCreatDataAreaW::ShellTreeView1Change);
  connect(Button1, &QPushButton::clicked, this, &TCreatDataAreaW::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TCreatDataAreaW::Button2Click);

  // Start at the home folder, selected and opened, with its ancestors opened to reach it.
  QString homePath = QDir::homePath();
  QModelIndex home = folders_->index(homePath);
  for (QModelIndex i = home; i.isValid(); i = i.parent()) ShellTreeView1->expand(i);
  ShellTreeView1->setCurrentIndex(home);
  ShellTreeView1->scrollTo(home);
  // Folders are read and sorted in the background; keep home in view as its ancestors fill, until
  // the user picks or opens another folder.
  auto follow = [this] {
    if (followHome_) ShellTreeView1->scrollTo(ShellTreeView1->currentIndex());
  };
  connect(folders_, &QAbstractItemModel::rowsInserted, this, follow, Qt::QueuedConnection);
  connect(folders_, &QAbstractItemModel::layoutChanged, this, follow, Qt::QueuedConnection);
  connect(ShellTreeView1, &QTreeView::expanded, this, [this] { followHome_ = false; });
  connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { followHome_ = false; });
}

TCreatDataAreaW::~TCreatDataAreaW() = default;

void TCreatDataAreaW::ShellTreeView1Change() {
  QModelIndex current = ShellTreeView1->currentIndex();
  Edit1->setText(current.isValid() ? QDir::toNativeSeparators(folders_->filePath(current)) : QString());
}

void TCreatDataAreaW::Button1Click() {
  ResultCode = 1;
  close();
}

void TCreatDataAreaW::Button2Click() {
  ResultCode = 2;
  close();
}

}  // namespace lanqi
