#include "app/LoginForm.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <cstdio>

#include "engine/RadeSession.h"
#include "engine/dataset/DataSet.h"
#include "platform/CodePage.h"

namespace lanqi {

namespace {

QString ScreenText(const std::string& ansi) {
  try {
    return QString::fromStdString(AnsiToUtf8(ansi));
  } catch (const std::exception&) {
    return QString::fromLatin1(ansi.data(), static_cast<qsizetype>(ansi.size()));
  }
}

}  // namespace

TRadeZILoginForm::TRadeZILoginForm(const std::string& fileName, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("RadeZILoginForm"));
  setWindowTitle(QStringLiteral("Database Login"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setLayoutDirection(QApplication::layoutDirection());
  setFixedSize(281, 154);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect s = screen->geometry();
    move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
  }

  BackPanel = new QFrame(this);
  BackPanel->setObjectName(QStringLiteral("BackPanel"));
  BackPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  BackPanel->setGeometry(8, 8, width() - 16, 75);
  const int editWidth = BackPanel->width() - 98;

  DatabaseLabel = new QLabel(QStringLiteral("Database:"), BackPanel);
  DatabaseLabel->setObjectName(QStringLiteral("DatabaseLabel"));
  DatabaseLabel->move(12, 15);
  PasswordLabel = new QLabel(QStringLiteral("Password:"), BackPanel);
  PasswordLabel->setObjectName(QStringLiteral("PasswordLabel"));
  PasswordLabel->move(12, 45);

  DatabaseEdit = new QLineEdit(ScreenText(fileName), BackPanel);
  DatabaseEdit->setObjectName(QStringLiteral("DatabaseEdit"));
  DatabaseEdit->setGeometry(86, 12, editWidth, 21);
  DatabaseEdit->setReadOnly(true);
  DatabaseEdit->setFocusPolicy(Qt::NoFocus);
  DatabaseEdit->setBackgroundRole(QPalette::Button);
  DatabaseEdit->setStyleSheet(QStringLiteral("background: palette(button);"));

  PasswordEdit = new QLineEdit(BackPanel);
  PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
  PasswordEdit->setGeometry(86, 42, editWidth, 21);
  PasswordEdit->setEchoMode(QLineEdit::Password);

  OkButton = new QPushButton(QStringLiteral("&OK"), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->move(109, 94);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->move(191, 94);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  PasswordEdit->setFocus();
}

bool LoginDialogPrompt(const std::string& fileName, std::string& password,
                       const std::function<int(QDialog&)>& exec) {
  TRadeZILoginForm form(fileName, QApplication::activeWindow());
  int result = exec ? exec(form) : form.exec();
  if (result != QDialog::Accepted) return false;
  password = Utf8ToAnsi(form.PasswordEdit->text().toStdString());
  return true;
}

void InstallEngineHooks() {
  SetLoginPromptHook([](const std::string& fileName, std::string& password) {
    return LoginDialogPrompt(fileName, password);
  });
  // An error that no caller can receive (one raised while a dataset or a database is destroyed)
  // is shown as any error the handlers let through.
  SetApplicationExceptionHook([](const std::exception& e) {
    if (!QApplication::instance()) {
      std::fprintf(stderr, "%s\n", e.what());
      return;
    }
    QMessageBox::critical(nullptr, QApplication::applicationName(), ScreenText(e.what()));
  });
  SetScreenCursorHook([](bool busy) {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
}

}  // namespace lanqi
