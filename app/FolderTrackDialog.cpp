#include "app/FolderTrackDialog.h"

#include <QBoxLayout>
#include <QFormLayout>

namespace lanqi {

TFolderTrackDialog::TFolderTrackDialog(const QString& folder, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FolderTrackDialog"));
  setWindowTitle(QStringLiteral("监控目录"));
  auto* column = new QVBoxLayout(this);
  Label1 = new QLabel(QStringLiteral("是否监控目录：%1？").arg(folder), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setWordWrap(true);
  column->addWidget(Label1);
  SubFolders = new QCheckBox(QStringLiteral("包含子目录"), this);
  SubFolders->setObjectName(QStringLiteral("SubFolders"));
  column->addWidget(SubFolders);
  auto* form = new QFormLayout;
  IncludeEdit = new QLineEdit(this);
  IncludeEdit->setObjectName(QStringLiteral("IncludeEdit"));
  IncludeEdit->setPlaceholderText(QStringLiteral("*.docx;*.txt（留空为全部文件）"));
  form->addRow(QStringLiteral("只监控："), IncludeEdit);
  ExcludeEdit = new QLineEdit(this);
  ExcludeEdit->setObjectName(QStringLiteral("ExcludeEdit"));
  ExcludeEdit->setPlaceholderText(QStringLiteral("*.bak;*.log"));
  form->addRow(QStringLiteral("不监控："), ExcludeEdit);
  column->addLayout(form);
  auto* note = new QLabel(
      QStringLiteral("编辑器的临时文件和锁文件（~$*、.~lock.*#、*.swp、*.tmp、.#*、*~）不会被监控。"), this);
  note->setWordWrap(true);
  column->addWidget(note);
  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton(QStringLiteral("确定"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("放弃"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  column->addLayout(buttons);
  resize(460, sizeHint().height());
  connect(Button1, &QPushButton::clicked, this, [this] {
    ResultCode = 1;
    accept();
  });
  connect(Button2, &QPushButton::clicked, this, [this] {
    ResultCode = 2;
    reject();
  });
}

}  // namespace lanqi
