#include "app/CompareWindow.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Files.h"

namespace lanqi {

namespace {

QString U(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

// A line as shown: without its break.
QString Shown(const QString& line) {
  QString s = line;
  if (s.endsWith(QLatin1Char('\n'))) s.chop(1);
  if (s.endsWith(QLatin1Char('\r'))) s.chop(1);
  return s;
}

const QColor kRemovedLine(255, 236, 236);
const QColor kRemovedChars(255, 180, 180);
const QColor kAddedLine(234, 255, 234);
const QColor kAddedChars(160, 240, 160);
const QColor kTakenLine(228, 238, 255);
const QColor kFiller(240, 240, 240);

}  // namespace

// ---- line numbers

class TLineNumberArea : public QWidget {
 public:
  explicit TLineNumberArea(TDiffPane* pane) : QWidget(pane), pane_(pane) {}
  QSize sizeHint() const override { return {pane_->NumberAreaWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { pane_->PaintNumbers(event); }

 private:
  TDiffPane* pane_;
};

TDiffPane::TDiffPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  // The text is only ever replaced whole; no edits to undo.
  document()->setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  numberArea_ = new TLineNumberArea(this);
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy)
      numberArea_->scroll(0, dy);
    else
      numberArea_->update(0, rect.y(), numberArea_->width(), rect.height());
  });
}

int TDiffPane::NumberAreaWidth() const {
  int top = numbers_.empty() ? 1 : std::max(1, *std::max_element(numbers_.begin(), numbers_.end()));
  int digits = static_cast<int>(QString::number(top).size());
  return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3);
}

void TDiffPane::SetRows(const QStringList& rows, std::vector<int> numbers) {
  numbers_ = std::move(numbers);
  setPlainText(rows.join(QLatin1Char('\n')));
  setViewportMargins(NumberAreaWidth(), 0, 0, 0);
  QRect r = contentsRect();
  numberArea_->setGeometry(r.left(), r.top(), NumberAreaWidth(), r.height());
}

void TDiffPane::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  QRect r = contentsRect();
  numberArea_->setGeometry(r.left(), r.top(), NumberAreaWidth(), r.height());
}

void TDiffPane::PaintNumbers(QPaintEvent* event) {
  QPainter painter(numberArea_);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && top <= event->rect().bottom()) {
    int height = qRound(blockBoundingRect(block).height());
    int n = block.blockNumber();
    if (n < static_cast<int>(numbers_.size()) && numbers_[static_cast<size_t>(n)] > 0)
      painter.drawText(0, top, numberArea_->width() - 4, height, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(numbers_[static_cast<size_t>(n)]));
    block = block.next();
    top += height;
  }
}

// ---- the window

TCompareWindow::TCompareWindow(TCompareSide left, TCompareSide right, bool rightIsCurrent, QWidget* parent)
    : QWidget(parent, Qt::Window),
      left_(std::move(left)),
      right_(std::move(right)),
      rightIsCurrent_(rightIsCurrent) {
  setObjectName(QStringLiteral("CompareWindow"));
  setWindowTitle(U(u8"版本合并 - ") + QString::fromStdString(AnsiToUtf8(
                                          ExtractFileName(right_.Path.empty() ? left_.Path : right_.Path))));
  resize(900, 560);

  auto* column = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto button = [this, bar](const char* name, const char8_t* caption) {
    auto* b = new QPushButton(U(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    bar->addWidget(b);
    return b;
  };
  PrevButton = button("PrevButton", u8"上一处");
  NextButton = button("NextButton", u8"下一处");
  TakeButton = button("TakeButton", u8"采用此块");
  UndoButton = button("UndoButton", u8"撤销此块");
  SaveButton = button("SaveButton", u8"保存");
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  bar->addStretch(1);
  bar->addWidget(StatusLabel);
  column->addLayout(bar);
  // Two versions side by side: nothing to take or save.
  TakeButton->setVisible(rightIsCurrent_);
  UndoButton->setVisible(rightIsCurrent_);
  SaveButton->setVisible(rightIsCurrent_);

  stack_ = new QStackedWidget(this);
  column->addWidget(stack_, 1);
  auto* sides = new QSplitter(Qt::Horizontal, stack_);
  auto side = [sides](QLabel*& title, TDiffPane*& pane, const char* titleName, const char* paneName,
                      const QString& caption) {
    auto* box = new QWidget(sides);
    auto* col = new QVBoxLayout(box);
    col->setContentsMargins(0, 0, 0, 0);
    title = new QLabel(caption, box);
    title->setObjectName(QString::fromLatin1(titleName));
    pane = new TDiffPane(box);
    pane->setObjectName(QString::fromLatin1(paneName));
    col->addWidget(title);
    col->addWidget(pane, 1);
  };
  side(LeftTitle, LeftPane, "LeftTitle", "LeftPane", left_.Title);
  side(RightTitle, RightPane, "RightTitle", "RightPane", right_.Title);
  stack_->addWidget(sides);
  BinaryInfo = new QTextBrowser(stack_);
  BinaryInfo->setObjectName(QStringLiteral("BinaryInfo"));
  stack_->addWidget(BinaryInfo);

  // The two sides have the same rows, so they scroll as one.
  for (auto [from, to] : {std::pair{LeftPane, RightPane}, std::pair{RightPane, LeftPane}}) {
    connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(from->horizontalScrollBar(), &QScrollBar::valueChanged, to->horizontalScrollBar(),
            &QScrollBar::setValue);
  }
  auto guarded = [this](void (TCompareWindow::*fn)()) {
    return [this, fn] {
      try {
        (this->*fn)();
      } catch (const std::exception& e) {
        Message(QString::fromStdString(AnsiToUtf8(e.what())));
      }
    };
  };
  connect(PrevButton, &QPushButton::clicked, this, guarded(&TCompareWindow::PreviousChange));
  connect(NextButton, &QPushButton::clicked, this, guarded(&TCompareWindow::NextChange));
  connect(TakeButton, &QPushButton::clicked, this, guarded(&TCompareWindow::TakeBlock));
  connect(UndoButton, &QPushButton::clicked, this, guarded(&TCompareWindow::UndoBlock));
  connect(SaveButton, &QPushButton::clicked, this, [this] {
    try {
      Save();
    } catch (const std::exception& e) {
      Message(QString::fromStdString(AnsiToUtf8(e.what())));
    }
  });

  Reload();
}

TCompareWindow::~TCompareWindow() = default;

void TCompareWindow::Message(const QString& text) {
  if (ShowMessage) {
    ShowMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

bool TCompareWindow::Ask(const QString& text) {
  if (Confirm) return Confirm(text);
  return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
}

void TCompareWindow::Reload() {
  result_ = std::make_unique<TCompareResult>(CompareFiles(left_.Path, right_.Path));
  chars_.assign(result_->IsText ? result_->Merge->Blocks().size() : 0, {});
  current_ = result_->IsText && !result_->Merge->Blocks().empty() ? 0 : -1;
  if (result_->IsText)
    ShowRows();
  else
    ShowBinary();
  UpdateButtons();
}

void TCompareWindow::ShowRows() {
  const TMergeModel& m = *result_->Merge;
  const std::vector<QString>& left = m.Left();
  const std::vector<QString>& right = m.Right();
  QStringList leftRows, rightRows;
  std::vector<int> leftNumbers, rightNumbers;
  struct TMark {
    int row;
    bool left;
    QColor color;
    TCharRange chars;  // Length 0: the whole line
  };
  std::vector<TMark> marks;
  blockRows_.clear();
  int i = 0, j = 0;  // next left line, next right line of the file read
  int merged = 0;    // line numbers of the right side as it now stands
  auto same = [&](int untilLeft) {
    for (; i < untilLeft; ++i, ++j) {
      leftRows << Shown(left[static_cast<size_t>(i)]);
      rightRows << Shown(right[static_cast<size_t>(j)]);
      leftNumbers.push_back(i + 1);
      rightNumbers.push_back(++merged);
    }
  };
  for (size_t k = 0; k < m.Blocks().size(); ++k) {
    const TDiffBlock& d = m.Blocks()[k];
    same(d.OldStart);
    const bool taken = m.Taken(static_cast<int>(k));
    const int first = static_cast<int>(leftRows.size());
    blockRows_.push_back(first);
    // Taken, the right side holds the version's lines: both sides read the same.
    const std::vector<QString>& rightSource = taken ? left : right;
    const int rightStart = taken ? d.OldStart : d.NewStart;
    const int rightCount = taken ? d.OldCount : d.NewCount;
    const int rows = std::max(d.OldCount, rightCount);
    for (int r = 0; r < rows; ++r) {
      const int row = first + r;
      if (r < d.OldCount) {
        leftRows << Shown(left[static_cast<size_t>(d.OldStart + r)]);
        leftNumbers.push_back(d.OldStart + r + 1);
        marks.push_back({row, true, taken ? kTakenLine : kRemovedLine, {}});
      } else {
        leftRows << QString();
        leftNumbers.push_back(0);
        marks.push_back({row, true, kFiller, {}});
      }
      if (r < rightCount) {
        rightRows << Shown(rightSource[static_cast<size_t>(rightStart + r)]);
        rightNumbers.push_back(++merged);
        marks.push_back({row, false, taken ? kTakenLine : kAddedLine, {}});
      } else {
        rightRows << QString();
        rightNumbers.push_back(0);
        marks.push_back({row, false, kFiller, {}});
      }
      if (!taken && r < d.OldCount && r < d.NewCount) {
        // The pairs never change with taking and undoing: each is worked out once.
        std::vector<TLineChars>& pairs = chars_[k];
        if (pairs.empty()) {
          pairs.resize(static_cast<size_t>(std::min(d.OldCount, d.NewCount)));
          for (size_t p = 0; p < pairs.size(); ++p)
            DiffChars(left[static_cast<size_t>(d.OldStart) + p], right[static_cast<size_t>(d.NewStart) + p],
                      pairs[p].InOld, pairs[p].InNew);
        }
        for (const TCharRange& c : pairs[static_cast<size_t>(r)].InOld)
          marks.push_back({row, true, kRemovedChars, c});
        for (const TCharRange& c : pairs[static_cast<size_t>(r)].InNew)
          marks.push_back({row, false, kAddedChars, c});
      }
    }
    i = d.OldStart + d.OldCount;
    j = d.NewStart + d.NewCount;
  }
  same(static_cast<int>(left.size()));

  LeftPane->SetRows(leftRows, std::move(leftNumbers));
  RightPane->SetRows(rightRows, std::move(rightNumbers));
  // The marks are formats of the text itself, set in one edit: a mark per changed line kept beside
  // the text (a selection each) makes every later change of the text slow down with their number.
  for (TDiffPane* pane : {LeftPane, RightPane}) {
    const bool isLeft = pane == LeftPane;
    QTextCursor cursor(pane->document());
    cursor.beginEditBlock();
    // Lines first, characters over them.
    for (bool chars : {false, true}) {
      for (const TMark& mk : marks) {
        if (mk.left != isLeft || (mk.chars.Length > 0) != chars) continue;
        QTextBlock block = pane->document()->findBlockByNumber(mk.row);
        if (!chars) {
          cursor.setPosition(block.position());
          QTextBlockFormat f;
          f.setBackground(mk.color);
          cursor.mergeBlockFormat(f);
        } else {
          cursor.setPosition(block.position() + mk.chars.Start);
          cursor.setPosition(block.position() + mk.chars.Start + mk.chars.Length, QTextCursor::KeepAnchor);
          QTextCharFormat f;
          f.setBackground(mk.color);
          cursor.mergeCharFormat(f);
        }
      }
    }
    cursor.endEditBlock();
  }
  stack_->setCurrentIndex(0);

  ShowCurrent();
}

void TCompareWindow::ShowCurrent() {
  const TMergeModel& m = *result_->Merge;
  QString status;
  if (m.Blocks().empty())
    status = U(u8"内容相同");
  else
    status = U(u8"第 %1/%2 处不同").arg(current_ + 1).arg(m.Blocks().size());
  QString encodings = result_->LeftEncoding == result_->RightEncoding
                          ? EncodingName(result_->LeftEncoding)
                          : EncodingName(result_->LeftEncoding) + QStringLiteral(" / ") +
                                EncodingName(result_->RightEncoding);
  StatusLabel->setText(status + U(u8"　编码：") + encodings);
  if (current_ >= 0) {
    // The change in view, with the cursor on its first row on both sides.
    for (TDiffPane* pane : {LeftPane, RightPane}) {
      QTextCursor c(pane->document()->findBlockByNumber(blockRows_[static_cast<size_t>(current_)]));
      pane->setTextCursor(c);
      pane->centerCursor();
    }
  }
}

void TCompareWindow::ShowBinary() {
  const TCompareResult& r = *result_;
  auto side = [](const QString& title, const TFileSummary& s) {
    return QStringLiteral("<p><b>%1</b><br>").arg(title.toHtmlEscaped()) + U(u8"大小：%1 字节").arg(s.Size) +
           QStringLiteral("<br>SHA-256：") + QString::fromLatin1(s.Sha256.toHex()) + QStringLiteral("</p>");
  };
  QString html = U(u8"<p>二进制文件或超过 20 MB 的文件，不显示文本内容。</p>") + side(left_.Title, r.Left) +
                 side(right_.Title, r.Right);
  html += r.FirstDifference < 0 ? U(u8"<p>两个文件内容相同。</p>")
                                : U(u8"<p>第一处不同位于第 %1 字节（从 0 起）。</p>").arg(r.FirstDifference);
  BinaryInfo->setHtml(html);
  stack_->setCurrentIndex(1);
  StatusLabel->setText(r.FirstDifference < 0 ? U(u8"内容相同") : U(u8"内容不同"));
}

void TCompareWindow::UpdateButtons() {
  const bool text = result_ && result_->IsText;
  const int blocks = text ? static_cast<int>(result_->Merge->Blocks().size()) : 0;
  PrevButton->setEnabled(text && current_ > 0);
  NextButton->setEnabled(text && current_ + 1 < blocks);
  const bool onBlock = text && current_ >= 0;
  TakeButton->setEnabled(rightIsCurrent_ && onBlock && !result_->Merge->Taken(current_));
  UndoButton->setEnabled(rightIsCurrent_ && onBlock && result_->Merge->Taken(current_));
  SaveButton->setEnabled(rightIsCurrent_ && text && result_->Merge->Modified());
}

void TCompareWindow::NextChange() {
  if (!result_->IsText || current_ + 1 >= static_cast<int>(result_->Merge->Blocks().size())) return;
  ++current_;
  ShowCurrent();
  UpdateButtons();
}

void TCompareWindow::PreviousChange() {
  if (!result_->IsText || current_ <= 0) return;
  --current_;
  ShowCurrent();
  UpdateButtons();
}

void TCompareWindow::TakeBlock() {
  if (!rightIsCurrent_ || !result_->IsText || current_ < 0) return;
  result_->Merge->Take(current_);
  ShowRows();
  UpdateButtons();
}

void TCompareWindow::UndoBlock() {
  if (!rightIsCurrent_ || !result_->IsText || current_ < 0) return;
  result_->Merge->Undo(current_);
  ShowRows();
  UpdateButtons();
}

bool TCompareWindow::Save() {
  if (!rightIsCurrent_ || !result_->IsText || !result_->Merge->Modified()) return false;
  const QString shownPath = QString::fromStdString(AnsiToUtf8(right_.Path));
  // Another program (or the user's editor) wrote the file since it was read: saving now would throw
  // that work away.
  try {
    if (ReadFileBytes(right_.Path) != result_->RightBytes) {
      Message(U(u8"文件在比较后已被修改，请重新比较后再合并：") + shownPath);
      return false;
    }
  } catch (const std::exception& e) {
    Message(U(u8"无法读取文件：") + QString::fromStdString(AnsiToUtf8(e.what())));
    return false;
  }
  std::string bytes = MergedBytes(*result_);
  std::string reason;
  if (!WriteFileReplacing(right_.Path, bytes, &reason)) {
    Message(U(u8"保存失败，文件未改动：") + QString::fromStdString(AnsiToUtf8(reason)));
    return false;
  }
  Reload();
  emit saved();
  return true;
}

void TCompareWindow::closeEvent(QCloseEvent* event) {
  if (rightIsCurrent_ && result_ && result_->IsText && result_->Merge->Modified() &&
      !Ask(U(u8"合并的内容尚未保存，确定要关闭吗？"))) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace lanqi
