// TRibbon: the top area of a frameless window. A caption bar with the round application button and
// its menu, the window's name, and the minimise, maximise and close buttons (dragging the bar moves
// the window), above a tab bar of pages carrying tool buttons.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <QWindow>

class QLabel;
class QMenu;
class QTabWidget;
class QToolButton;

namespace lanqi {

class TRibbon : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 145;
  static constexpr int kCaptionHeight = 32;
  // The band along the window's edges where the pointer resizes the frameless window.
  static constexpr int kBorder = 4;

  explicit TRibbon(QWidget* parent = nullptr);
  ~TRibbon() override;

  QString Caption() const;
  void SetCaption(const QString& caption);

  // The application menu opened by the round button; its items are the caller's.
  QMenu* AppMenu() const { return appMenu_; }
  QToolButton* AppButton() const { return appButton_; }
  QToolButton* MinimizeButton() const { return minButton_; }
  QToolButton* MaximizeButton() const { return maxButton_; }
  QToolButton* CloseButton() const { return closeButton_; }
  QTabWidget* Pages() const { return pages_; }

  // Adds a page at the end and returns its index.
  int AddPage(const QString& caption, const QString& objectName = QString());
  // Adds a tool button (objectName for tests and the caller) at the right of the page's row.
  QToolButton* AddButton(int page, const QString& objectName, const QString& caption,
                         const QIcon& icon = QIcon());
  // Any other control (a check box) at the right of the page's row; the page takes it over.
  void AddWidget(int page, QWidget* widget);

  // Follows window's title in the caption and gives the caption buttons their usual effect on it:
  // minimise, maximise or restore, close (a close request, which the window may refuse). The
  // window's edges resize it, as a frame would.
  void AttachWindow(QWidget* window);

 signals:
  void minimizeClicked();
  void maximizeClicked();
  void closeClicked();
  // index: the position of the chosen item in the application menu.
  void appMenuItemClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OpenAppMenu();
  void UpdateMaximizeGlyph();
  void WatchFrame();
  Qt::Edges EdgesAt(const QPoint& windowPos) const;
  bool FrameMouse(QMouseEvent* event);

  QToolButton* appButton_;
  QMenu* appMenu_;
  QLabel* caption_;
  QToolButton* minButton_;
  QToolButton* maxButton_;
  QToolButton* closeButton_;
  QTabWidget* pages_;
  QPointer<QWidget> attached_;
  QPointer<QWindow> frame_;
  Qt::Edges resizeEdges_;
  QRect resizeStart_;
  QPoint resizeOrigin_;
  bool edgeCursor_ = false;
  // Moving the window by hand where the window system cannot do it for us.
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace lanqi
