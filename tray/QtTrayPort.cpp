#include "tray/QtTrayPort.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QMenu>

namespace lanqi {

std::unique_ptr<TTrayPort> CreateTrayPort() {
  return std::make_unique<TQtTrayPort>();
}

TQtTrayPort::TQtTrayPort() : icon_(std::make_unique<QSystemTrayIcon>()) {
  connect(icon_.get(), &QSystemTrayIcon::activated, this, &TQtTrayPort::Activated);
  // A panel that speaks the status-notifier protocol announces itself on the session bus when it
  // (re)starts; an XEmbed panel is re-docked by Qt itself.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    panelWatcher_ = std::make_unique<QDBusServiceWatcher>(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                          bus, QDBusServiceWatcher::WatchForRegistration);
    connect(panelWatcher_.get(), &QDBusServiceWatcher::serviceRegistered, this,
            &TQtTrayPort::PanelRegistered);
  }
}

TQtTrayPort::~TQtTrayPort() = default;

void TQtTrayPort::AddIcon(const QIcon& icon, const QString& tip) {
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
  if (stale_ && icon_->isVisible()) icon_->hide();
  stale_ = false;
  icon_->show();
}

void TQtTrayPort::ModifyIcon(const QIcon& icon, const QString& tip) {
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
}

void TQtTrayPort::DeleteIcon() {
  icon_->hide();
}

bool TQtTrayPort::CursorPos(QPoint& pos) {
  pos = QCursor::pos();
  return true;
}

void TQtTrayPort::PopupMenu(QMenu* menu, const QPoint& pos) {
  if (menu) menu->popup(pos);
}

bool TQtTrayPort::Available() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TQtTrayPort::Send(TTrayMessage m) {
  if (OnMessage) OnMessage(m);
}

// Qt reports whole gestures; each becomes the press and release the component dispatches.
void TQtTrayPort::Activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      Send(TTrayMessage::tmLButtonDown);
      Send(TTrayMessage::tmLButtonUp);
      break;
    case QSystemTrayIcon::DoubleClick:
      Send(TTrayMessage::tmLButtonDblClk);
      Send(TTrayMessage::tmLButtonUp);
      break;
    case QSystemTrayIcon::Context:
      Send(TTrayMessage::tmRButtonDown);
      Send(TTrayMessage::tmRButtonUp);
      break;
    case QSystemTrayIcon::MiddleClick:
      Send(TTrayMessage::tmMButtonDown);
      Send(TTrayMessage::tmMButtonUp);
      break;
    case QSystemTrayIcon::Unknown:
      break;
  }
}

void TQtTrayPort::PanelRegistered() {
  stale_ = true;
  if (OnPanelRestarted) OnPanelRestarted();
}

}  // namespace lanqi
