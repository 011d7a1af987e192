#include "app/Ribbon.h"

#include <QAction>
#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTabWidget>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

namespace lanqi {

namespace {

QToolButton* CaptionButton(QWidget* parent, const char* name, const QString& glyph) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setText(glyph);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setFixedSize(30, 24);
  return b;
}

}  // namespace

TRibbon::TRibbon(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kHeight);
  setAutoFillBackground(false);

  appButton_ = new QToolButton(this);
  appButton_->setObjectName(QStringLiteral("AppButton"));
  appButton_->setFixedSize(28, 28);
  appButton_->setFocusPolicy(Qt::NoFocus);
  appButton_->setStyleSheet(
      QStringLiteral("QToolButton#AppButton { border: 1px solid #3a6ea5; border-radius: 14px;"
                     " background: qradialgradient(cx:0.5, cy:0.35, radius:0.7, fx:0.5, fy:0.3,"
                     " stop:0 #ffffff, stop:0.5 #9cc3ee, stop:1 #2f6db5); }"
                     "QToolButton#AppButton:pressed { background: #2f6db5; }"));
  appMenu_ = new QMenu(this);
  appMenu_->setObjectName(QStringLiteral("AppMenu"));

  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("CaptionLabel"));
  caption_->setAlignment(Qt::AlignCenter);
  // Presses on the name go to the bar, so it can be dragged there too.
  caption_->setAttribute(Qt::WA_TransparentForMouseEvents);

  minButton_ = CaptionButton(this, "MinimizeButton", QStringLiteral("\u2014"));
  maxButton_ = CaptionButton(this, "MaximizeButton", QStringLiteral("\u25a1"));
  closeButton_ = CaptionButton(this, "CloseButton", QStringLiteral("\u2715"));

  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("RibbonPages"));
  pages_->setDocumentMode(true);

  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 2, 2);
  bar->setSpacing(0);
  bar->addWidget(appButton_);
  bar->addWidget(caption_, 1);
  bar->addWidget(minButton_);
  bar->addWidget(maxButton_);
  bar->addWidget(closeButton_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(bar);
  column->addWidget(pages_, 1);

  connect(appButton_, &QToolButton::clicked, this, &TRibbon::OpenAppMenu);
  connect(appMenu_, &QMenu::triggered, this,
          [this](QAction* a) { emit appMenuItemClicked(static_cast<int>(appMenu_->actions().indexOf(a))); });
  connect(minButton_, &QToolButton::clicked, this, &TRibbon::minimizeClicked);
  connect(maxButton_, &QToolButton::clicked, this, &TRibbon::maximizeClicked);
  connect(closeButton_, &QToolButton::clicked, this, &TRibbon::closeClicked);
}

TRibbon::~TRibbon() {
  if (attached_) attached_->removeEventFilter(this);
  if (frame_) frame_->removeEventFilter(this);
}

QString TRibbon::Caption() const {
  return caption_->text();
}

void TRibbon::SetCaption(const QString& caption) {
  caption_->setText(caption);
}

int TRibbon::AddPage(const QString& caption, const QString& objectName) {
  auto* page = new QWidget;
  page->setObjectName(objectName);
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(6, 4, 6, 4);
  row->setSpacing(4);
  row->addStretch(1);
  return pages_->addTab(page, caption);
}

void TRibbon::AddWidget(int page, QWidget* widget) {
  QWidget* p = pages_->widget(page);
  if (!p || !widget) return;
  auto* row = static_cast<QHBoxLayout*>(p->layout());
  row->insertWidget(row->count() - 1, widget);  // before the closing stretch
}

QToolButton* TRibbon::AddButton(int page, const QString& objectName, const QString& caption,
                                const QIcon& icon) {
  QWidget* p = pages_->widget(page);
  if (!p) return nullptr;
  auto* b = new QToolButton(p);
  b->setObjectName(objectName);
  b->setText(caption);
  b->setIcon(icon);
  b->setIconSize(QSize(32, 32));
  b->setToolButtonStyle(icon.isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextUnderIcon);
  b->setAutoRaise(true);  // lights up under the pointer
  b->setMinimumSize(64, 64);
  AddWidget(page, b);
  return b;
}

void TRibbon::AttachWindow(QWidget* window) {
  if (attached_) {
    attached_->removeEventFilter(this);
    if (frame_) frame_->removeEventFilter(this);
    disconnect(attached_, nullptr, this, nullptr);
    disconnect(this, nullptr, attached_, nullptr);
    if (edgeCursor_) attached_->unsetCursor();
  }
  attached_ = window;
  frame_ = nullptr;
  resizeEdges_ = {};
  edgeCursor_ = false;
  if (!window) return;
  SetCaption(window->windowTitle());
  connect(window, &QWidget::windowTitleChanged, this, &TRibbon::SetCaption);
  connect(this, &TRibbon::minimizeClicked, window, &QWidget::showMinimized);
  connect(this, &TRibbon::maximizeClicked, window, [window] {
    if (window->isMaximized())
      window->showNormal();
    else
      window->showMaximized();
  });
  connect(this, &TRibbon::closeClicked, window, &QWidget::close);
  window->installEventFilter(this);
  WatchFrame();
  UpdateMaximizeGlyph();
}

// The window system's window sees every pointer movement over the window, whichever control is
// under it; that is where the window's edges are watched.
void TRibbon::WatchFrame() {
  if (!attached_ || frame_ || !attached_->windowHandle()) return;
  frame_ = attached_->windowHandle();
  frame_->installEventFilter(this);
}

Qt::Edges TRibbon::EdgesAt(const QPoint& p) const {
  Qt::Edges edges;
  if (!attached_ || attached_->isMaximized() || attached_->isFullScreen()) return edges;
  if (p.x() < kBorder) edges |= Qt::LeftEdge;
  if (p.x() >= attached_->width() - kBorder) edges |= Qt::RightEdge;
  if (p.y() < kBorder) edges |= Qt::TopEdge;
  if (p.y() >= attached_->height() - kBorder) edges |= Qt::BottomEdge;
  return edges;
}

bool TRibbon::FrameMouse(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  switch (e->type()) {
    case QEvent::MouseMove:
      if (resizeEdges_) {
        QRect g = resizeStart_;
        QPoint d = e->globalPosition().toPoint() - resizeOrigin_;
        QSize min = attached_->minimumSizeHint()
                        .expandedTo(attached_->minimumSize())
                        .expandedTo(QSize(kBorder * 4, kHeight));
        if (resizeEdges_ & Qt::LeftEdge) g.setLeft(std::min(g.left() + d.x(), g.right() - min.width() + 1));
        if (resizeEdges_ & Qt::RightEdge) g.setRight(std::max(g.right() + d.x(), g.left() + min.width() - 1));
        if (resizeEdges_ & Qt::TopEdge) g.setTop(std::min(g.top() + d.y(), g.bottom() - min.height() + 1));
        if (resizeEdges_ & Qt::BottomEdge)
          g.setBottom(std::max(g.bottom() + d.y(), g.top() + min.height() - 1));
        attached_->setGeometry(g);
        return true;
      }
      if (e->buttons() == Qt::NoButton) {
        Qt::Edges edges = EdgesAt(p);
        if (edges) {
          bool diagonal =
              (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
          Qt::CursorShape shape =
              !diagonal ? ((edges & (Qt::LeftEdge | Qt::RightEdge)) ? Qt::SizeHorCursor : Qt::SizeVerCursor)
              : (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
                  ? Qt::SizeFDiagCursor
                  : Qt::SizeBDiagCursor;
          attached_->setCursor(shape);
          edgeCursor_ = true;
        } else if (edgeCursor_) {
          attached_->unsetCursor();
          edgeCursor_ = false;
        }
      }
      return false;
    case QEvent::MouseButtonPress: {
      if (e->button() != Qt::LeftButton) return false;
      Qt::Edges edges = EdgesAt(p);
      if (!edges) return false;
      if (frame_->startSystemResize(edges)) return true;
      // Where the window system cannot do it, follow the pointer ourselves.
      resizeEdges_ = edges;
      resizeStart_ = attached_->geometry();
      resizeOrigin_ = e->globalPosition().toPoint();
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (!resizeEdges_ || e->button() != Qt::LeftButton) return false;
      resizeEdges_ = {};
      return true;
    default:
      return false;
  }
}

bool TRibbon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == attached_) {
    if (event->type() == QEvent::WindowStateChange) UpdateMaximizeGlyph();
    if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange) WatchFrame();
  } else if (frame_ && watched == frame_ && attached_) {
    switch (event->type()) {
      case QEvent::MouseMove:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
        return FrameMouse(static_cast<QMouseEvent*>(event));
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TRibbon::UpdateMaximizeGlyph() {
  bool maximized = attached_ && attached_->isMaximized();
  maxButton_->setText(maximized ? QStringLiteral("\u2750") : QStringLiteral("\u25a1"));
}

void TRibbon::OpenAppMenu() {
  appMenu_->popup(appButton_->mapToGlobal(QPoint(0, appButton_->height())));
}

void TRibbon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient caption(0, 0, 0, kCaptionHeight);
  caption.setColorAt(0, QColor(0xe3, 0xef, 0xfd));
  caption.setColorAt(1, QColor(0xc4, 0xda, 0xf5));
  p.fillRect(QRect(0, 0, width(), kCaptionHeight), caption);
  QLinearGradient body(0, kCaptionHeight, 0, height());
  body.setColorAt(0, QColor(0xdf, 0xea, 0xf7));
  body.setColorAt(1, QColor(0xc9, 0xd9, 0xee));
  p.fillRect(QRect(0, kCaptionHeight, width(), height() - kCaptionHeight), body);
  p.setPen(QColor(0x8d, 0xb2, 0xe3));
  p.drawLine(0, height() - 1, width(), height() - 1);
}

void TRibbon::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || event->position().y() >= kCaptionHeight) {
    QWidget::mousePressEvent(event);
    return;
  }
  QWidget* w = window();
  // Let the window system move the window where it can (it then also snaps and tiles).
  if (w->windowHandle() && w->windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - w->pos();
}

void TRibbon::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    QWidget* w = window();
    if (w->isMaximized()) return;
    w->move(event->globalPosition().toPoint() - dragOffset_);
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void TRibbon::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void TRibbon::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->position().y() < kCaptionHeight) {
    dragging_ = false;
    emit maximizeClicked();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

}  // namespace lanqi
