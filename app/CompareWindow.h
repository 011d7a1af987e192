// TCompareWindow: a version beside the current file (or beside another version), line by line with
// the changed lines and characters marked; blocks of the version can be taken into the current file
// and given back, and the result saved over the file, which the detection then records as a version.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/VersionDiff.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTextBrowser;

namespace lanqi {

// One side of the comparison: a text view whose margin shows each row's line number (none on the
// rows that only keep the two sides level).
class TDiffPane : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TDiffPane(QWidget* parent = nullptr);
  // rows: the lines shown; numbers: each row's 1-based line number, 0 for a filler row.
  void SetRows(const QStringList& rows, std::vector<int> numbers);
  const std::vector<int>& Numbers() const { return numbers_; }
  int NumberAreaWidth() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class TLineNumberArea;
  void PaintNumbers(QPaintEvent* event);
  QWidget* numberArea_;
  std::vector<int> numbers_;
};

struct TCompareSide {
  std::string Path;  // code-page path of the file shown
  QString Title;     // the caption above it
};

class TCompareWindow : public QWidget {
  Q_OBJECT
 public:
  // rightIsCurrent: the right side is the tracked file itself, so blocks can be taken into it and
  // saved; otherwise both sides are versions and nothing can be changed.
  TCompareWindow(TCompareSide left, TCompareSide right, bool rightIsCurrent, QWidget* parent = nullptr);
  ~TCompareWindow() override;

  // ---- controls (objectName = the name)
  QLabel* LeftTitle;
  QLabel* RightTitle;
  TDiffPane* LeftPane;
  TDiffPane* RightPane;
  QTextBrowser* BinaryInfo;  // shown instead of the panes for files that are not compared as text
  QLabel* StatusLabel;
  QPushButton* PrevButton;  // "上一处"
  QPushButton* NextButton;  // "下一处"
  QPushButton* TakeButton;  // "采用此块"
  QPushButton* UndoButton;  // "撤销此块"
  QPushButton* SaveButton;  // "保存"

  // A plain message box; tests put their own.
  std::function<void(const QString&)> ShowMessage;
  // A yes/no question (true: yes); tests put their own.
  std::function<bool(const QString&)> Confirm;

  // Reads both files again and shows them; the blocks taken so far are dropped.
  void Reload();
  void NextChange();
  void PreviousChange();
  void TakeBlock();
  void UndoBlock();
  // Writes the merged text over the current file; false when nothing was written.
  bool Save();

  const TCompareResult* Result() const { return result_.get(); }
  int CurrentBlock() const { return current_; }
  // The view row where each block starts.
  const std::vector<int>& BlockRows() const { return blockRows_; }

 signals:
  void saved();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowRows();
  // The status line and the view on the current block.
  void ShowCurrent();
  void ShowBinary();
  void UpdateButtons();
  void Message(const QString& text);
  bool Ask(const QString& text);

  TCompareSide left_, right_;
  bool rightIsCurrent_;
  std::unique_ptr<TCompareResult> result_;
  QStackedWidget* stack_;
  std::vector<int> blockRows_;
  int current_ = -1;
  // The changed characters of each block's line pairs, filled when the block is first shown.
  struct TLineChars {
    std::vector<TCharRange> InOld, InNew;
  };
  std::vector<std::vector<TLineChars>> chars_;
};

}  // namespace lanqi
