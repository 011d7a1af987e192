#include "app/Uversm.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "app/VersionDiff.h"
#include "app/uver.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Timer.h"

namespace lanqi {

namespace {

QFont SongTi13() {
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(13);
  return f;
}

// How many UTF-16 units of text make the longest head whose code-page form takes at most room
// bytes; *bytes receives that form's length. A character without a code-page form counts two
// bytes (storing the note reports it).
int HeadThatFits(QStringView text, int room, int* bytes = nullptr) {
  int used = 0, i = 0;
  while (i < text.size()) {
    int units = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
    int size = 1;
    if (text[i].unicode() >= 0x80) {
      try {
        size = static_cast<int>(
            Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16() + i),
                                            static_cast<size_t>(units)))
                .size());
      } catch (const std::exception&) {
        size = 2;
      }
    }
    if (used + size > room) break;
    used += size;
    i += units;
  }
  if (bytes) *bytes = used;
  return i;
}

}  // namespace

TFormVerSm::TFormVerSm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormVerSm"));
  setWindowTitle(QStringLiteral("版本说明"));
  // No close, minimise or system menu in the caption; above every other window.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  // Tall enough for the file's name, folder and change above the note.
  resize(383, 288);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect desk = screen->geometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }

  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(SongTi13());
  Label1->setGeometry(24, 16, 335, 20);

  LabelFolder = new QLabel(this);
  LabelFolder->setObjectName(QStringLiteral("LabelFolder"));
  LabelFolder->setGeometry(24, 40, 335, 20);

  LabelChange = new QLabel(this);
  LabelChange->setObjectName(QStringLiteral("LabelChange"));
  LabelChange->setGeometry(24, 64, 335, 20);

  Label2 = new QLabel(QStringLiteral("版本说明："), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(24, 96, 72, 20);

  Edit1 = new QPlainTextEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setFont(SongTi13());
  Edit1->setGeometry(100, 96, 257, 73);

  Button1 = new QPushButton(QStringLiteral("提交"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(100, 204, 75, 25);

  Button2 = new QPushButton(QStringLiteral("放弃"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(240, 204, 75, 25);

  tmr1 = components_.Create<TTimer>();
  tmr1->SetName("tmr1");
  tmr1->SetInterval(10000);
  tmr1->OnTimer = [this](TObject*) { tmr1Timer(); };

  connect(Edit1->document(), &QTextDocument::contentsChange, this, [this](int at, int, int added) {
    changedAt_ = at;
    changeAdded_ = added;
  });
  connect(Edit1, &QPlainTextEdit::textChanged, this, &TFormVerSm::Edit1Change);
  connect(Button1, &QPushButton::clicked, this, &TFormVerSm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFormVerSm::Button2Click);
  FormCreate();
}

TFormVerSm::~TFormVerSm() = default;

void TFormVerSm::FormCreate() {
  ResultCode = 1;
}

TFileChange DescribeChange(const std::string& path, const std::string& newestCopy) {
  TFileChange change;
  change.Path = path;
  change.HasVersion = !newestCopy.empty();
  auto sizeOf = [](const std::string& p) -> std::optional<int64_t> {
    try {
      if (!p.empty() && FileExists(p)) return FileSizeOf(p);
    } catch (const std::exception&) {
    }
    return std::nullopt;
  };
  change.SizeAfter = sizeOf(path);
  change.SizeBefore = sizeOf(newestCopy);
  if (!change.SizeBefore || !change.SizeAfter) return change;
  // Line counts exist only for text within the compare limit; reading larger files would only
  // keep the prompt (and the window) waiting.
  if (*change.SizeBefore > kTextCompareLimit || *change.SizeAfter > kTextCompareLimit) return change;
  try {
    TCompareResult compared = CompareFiles(newestCopy, path);
    if (compared.IsText && compared.Merge) {
      change.IsText = true;
      for (const TDiffBlock& b : compared.Merge->Blocks()) {
        change.Added += b.NewCount;
        change.Removed += b.OldCount;
      }
    }
  } catch (const std::exception&) {
    // A side that cannot be read shows its size alone; the prompt still comes.
  }
  return change;
}

QString ChangeText(const TFileChange& change) {
  auto size = [](const std::optional<int64_t>& bytes) {
    return bytes ? QString::fromStdString(ByteSizeText(*bytes)) : QStringLiteral("无法读取");
  };
  QString text = change.HasVersion ? size(change.SizeBefore) + QStringLiteral(" → ") + size(change.SizeAfter)
                                   : size(change.SizeAfter) + QStringLiteral("（首个版本）");
  if (change.IsText) {
    if (change.Added == 0 && change.Removed == 0)
      text += QStringLiteral("，内容未变");
    else
      text += QStringLiteral("，增加 %1 行，删除 %2 行").arg(change.Added).arg(change.Removed);
  }
  return text;
}

void TFormVerSm::ShowFile(const TFileChange& change) {
  const QString name = ScreenText(ExtractFileName(change.Path));
  const QString folder = ScreenText(ExcludeTrailingPathDelimiter(ExtractFilePath(change.Path)));
  // A long folder keeps its start and its end; the whole path is in the tip.
  auto fit = [](QLabel* label, const QString& text) {
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
    label->setToolTip(text);
  };
  fit(Label1, QStringLiteral("文件：") + name);
  fit(LabelFolder, QStringLiteral("目录：") + folder);
  fit(LabelChange, QStringLiteral("变化：") + ChangeText(change));
}

// Once the user types, the dialog waits for a button however long it takes.
void TFormVerSm::Edit1Change() {
  tmr1->SetEnabled(false);
  KeepWithinLimit();
}

void TFormVerSm::KeepWithinLimit() {
  if (NoteLimit <= 0 || limiting_) return;
  QString text = Edit1->toPlainText();
  if (HeadThatFits(text, NoteLimit) == text.size()) return;
  limiting_ = true;
  // Of what was just typed or pasted, the head that fits beside the text already there stays.
  int at = std::clamp(changedAt_, 0, static_cast<int>(text.size()));
  int added = std::clamp(changeAdded_, 0, static_cast<int>(text.size()) - at);
  int before = 0;
  HeadThatFits(QString(text.left(at) + text.mid(at + added)), NoteLimit, &before);
  int keep = HeadThatFits(QStringView(text).mid(at, added), NoteLimit - before);
  QTextCursor cut(Edit1->document());
  cut.setPosition(at + keep);
  cut.setPosition(at + added, QTextCursor::KeepAnchor);
  cut.removeSelectedText();
  // Anything still over the limit goes from the end.
  text = Edit1->toPlainText();
  int fits = HeadThatFits(text, NoteLimit);
  if (fits < text.size()) {
    cut.setPosition(fits);
    cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
  }
  limiting_ = false;
}

void TFormVerSm::tmr1Timer() {
  tmr1->SetEnabled(false);
  ResultCode = 2;
  close();
}

void TFormVerSm::Button1Click() {
  ResultCode = 1;
  close();
}

void TFormVerSm::Button2Click() {
  ResultCode = 2;
  close();
}

}  // namespace lanqi
