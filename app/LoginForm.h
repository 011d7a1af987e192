// TRadeZILoginForm: the password prompt of an encrypted database, laid out in code.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lanqi {

class TRadeZILoginForm : public QDialog {
 public:
  // fileName: code-page text shown read-only.
  explicit TRadeZILoginForm(const std::string& fileName, QWidget* parent = nullptr);

  QFrame* BackPanel;
  QLabel* DatabaseLabel;
  QLabel* PasswordLabel;
  QLineEdit* DatabaseEdit;
  QLineEdit* PasswordEdit;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

// Shows the prompt (exec: how it is shown modally, null for QDialog::exec); true with the password
// (code-page text) when confirmed.
bool LoginDialogPrompt(const std::string& fileName, std::string& password,
                       const std::function<int(QDialog&)>& exec = nullptr);

// Makes this prompt the engine's, the busy cursor the look of a running filter, and a message box
// the place for errors that no caller can receive.
void InstallEngineHooks();

}  // namespace lanqi
