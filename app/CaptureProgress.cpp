#include "app/CaptureProgress.h"

#include <QGuiApplication>
#include <QScreen>

namespace lanqi {

namespace {

QString Megabytes(int64_t bytes) {
  return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

}  // namespace

TFormCapture::TFormCapture(const QString& fileName, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormCapture"));
  setWindowTitle(QStringLiteral("正在备份：") + fileName);
  // Not modal: the note prompt and the window stay usable while the copy runs. No close button:
  // the copy ends by itself, or with the program.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setModal(false);
  resize(383, 110);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->geometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + desk.height() / 4);
  }

  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(24, 16, 335, 20);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setGeometry(24, 48, 335, 22);
}

TFormCapture::~TFormCapture() = default;

void TFormCapture::SetProgress(int64_t done, int64_t total) {
  if (total <= 0) return;
  ProgressBar1->setValue(static_cast<int>(done * 100 / total));
  Label1->setText(QStringLiteral("已完成 ") + Megabytes(done) + QStringLiteral(" / ") + Megabytes(total));
}

}  // namespace lanqi
