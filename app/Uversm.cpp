#include "app/Uversm.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "platform/Timer.h"

namespace lanqi {

namespace {

QFont SongTi13() {
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(13);
  return f;
}

}  // namespace

TFormVerSm::TFormVerSm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormVerSm"));
  setWindowTitle(QStringLiteral("版本说明"));
  // No close, minimise or system menu in the caption; above every other window.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  resize(383, 244);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect desk = screen->geometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }

  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(SongTi13());
  Label1->setGeometry(24, 16, 335, 20);

  Label2 = new QLabel(QStringLiteral("版本说明："), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(24, 52, 72, 20);

  Edit1 = new QPlainTextEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setFont(SongTi13());
  Edit1->setGeometry(100, 52, 257, 73);

  Button1 = new QPushButton(QStringLiteral("提交"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(100, 160, 75, 25);

  Button2 = new QPushButton(QStringLiteral("放弃"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(240, 160, 75, 25);

  tmr1 = components_.Create<TTimer>();
  tmr1->SetName("tmr1");
  tmr1->SetInterval(10000);
  tmr1->OnTimer = [this](TObject*) { tmr1Timer(); };

  connect(Edit1, &QPlainTextEdit::textChanged, this, &TFormVerSm::Edit1Change);
  connect(Button1, &QPushButton::clicked, this, &TFormVerSm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFormVerSm::Button2Click);
  FormCreate();
}

TFormVerSm::~TFormVerSm() = default;

void TFormVerSm::FormCreate() {
  ResultCode = 1;
}

// Once the user types, the dialog waits for a button however long it takes.
void TFormVerSm::Edit1Change() {
  tmr1->SetEnabled(false);
}

void TFormVerSm::tmr1Timer() {
  tmr1->SetEnabled(false);
  ResultCode = 2;
  close();
}

void TFormVerSm::Button1Click() {
  ResultCode = 1;
  close();
}

void TFormVerSm::Button2Click() {
  ResultCode = 2;
  close();
}

}  // namespace lanqi
