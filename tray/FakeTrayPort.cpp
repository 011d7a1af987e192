#include "tray/FakeTrayPort.h"

namespace lanqi {

void TFakeTrayPort::AddIcon(const QIcon& i, const QString& t) {
  if (present) return;
  present = true;
  ++adds;
  icon = i;
  tip = t;
}

void TFakeTrayPort::ModifyIcon(const QIcon& i, const QString& t) {
  if (!present) return;
  icon = i;
  tip = t;
}

void TFakeTrayPort::DeleteIcon() {
  present = false;
}

bool TFakeTrayPort::CursorPos(QPoint& pos) {
  pos = cursor;
  return cursorReadable;
}

void TFakeTrayPort::PopupMenu(QMenu* menu, const QPoint& pos) {
  menusOpened.emplace_back(menu, pos);
}

void TFakeTrayPort::Send(TTrayMessage m) {
  if (OnMessage) OnMessage(m);
}

void TFakeTrayPort::DoubleClick() {
  Send(TTrayMessage::tmLButtonDown);
  Send(TTrayMessage::tmLButtonUp);
  Send(TTrayMessage::tmLButtonDblClk);
  Send(TTrayMessage::tmLButtonUp);
}

void TFakeTrayPort::RightClick() {
  Send(TTrayMessage::tmRButtonDown);
  Send(TTrayMessage::tmRButtonUp);
}

void TFakeTrayPort::RestartPanel() {
  present = false;
  if (OnPanelRestarted) OnPanelRestarted();
}

}  // namespace lanqi
