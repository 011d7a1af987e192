// The program entry: one instance per session, the main window and its loop.
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>

#include "app/LanqiCli.h"
#include "app/LoginForm.h"
#include "app/QtEventLoop.h"
#include "app/entry.h"
#include "app/uver.h"
#include "platform/CodePage.h"
#include "platform/EventLoop.h"
#include "platform/Locale.h"
#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

// An exception no handler caught is shown with its text, and the program goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    return DeliverGuarded(
        [&] { return QApplication::notify(receiver, event); },
        [](const QString& text) { QMessageBox::critical(nullptr, applicationName(), text); });
  }
};

// SIGTERM ends the program as the end of the desktop session does; the handler only wakes the loop.
int g_termPipe[2] = {-1, -1};

void OnTerm(int) {
  char c = 1;
  ssize_t r = write(g_termPipe[1], &c, 1);
  (void)r;
}

int Run(int argc, char** argv) {
  // A second start ends at once: no window, no message.
  if (IsAnotherInstanceRunning()) return 0;
  TApplication app(argc, argv);
  // Dates, times and numbers in the user's locale (decimal separator, short date, AM/PM).
  LoadLocaleFormatSettings();
  QString title = QString::fromStdString(AnsiToUtf8(AppTitle()));
  QApplication::setApplicationName(title);
  // The window hides to the tray; only its real close ends the loop.
  QApplication::setQuitOnLastWindowClosed(false);
  QtEventLoop loop;
  SetMainLoop(&loop);
  InstallEngineHooks();

  {
    Tmainw mainw;
    QObject::connect(&mainw, &Tmainw::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainw, [&mainw](QSessionManager& manager) {
      if (!mainw.QueryEndSession()) manager.cancel();
    });
    std::unique_ptr<QSocketNotifier> term;
    if (pipe(g_termPipe) == 0) {
      term = std::make_unique<QSocketNotifier>(g_termPipe[0], QSocketNotifier::Read);
      QObject::connect(term.get(), &QSocketNotifier::activated, &mainw, [&mainw] {
        char c;
        ssize_t r = read(g_termPipe[0], &c, 1);
        (void)r;
        mainw.QueryEndSession();
      });
      std::signal(SIGTERM, OnTerm);
    }
    mainw.show();
    app.exec();
    std::signal(SIGTERM, SIG_DFL);
  }
  SetMainLoop(nullptr);
  return 0;  // whatever the loop ended with
}

}  // namespace
}  // namespace lanqi

int main(int argc, char** argv) {
  // A sub-command works on the catalog and never makes a window, so it needs no display.
  if (lanqi::IsCliInvocation(argc, argv)) return lanqi::RunCli(argc, argv, std::cout, std::cerr);
  if (!lanqi::HaveDisplay()) {
    std::cerr << "lanqi: no display (no X11 or Wayland session); without one, work through the command "
                 "line: lanqi --help\n";
    return lanqi::kCliUsage;
  }
  return lanqi::Run(argc, argv);
}
