// The desktop services the main window asks for: open a file with its default application, and
// show a file selected in the file manager. Paths are code-page text; an empty path does nothing.
#pragma once

#include <string>
#include <vector>

namespace lanqi {

class TShell {
 public:
  virtual ~TShell() = default;
  virtual void OpenDocument(const std::string& path) = 0;
  virtual void ShowInFileManager(const std::string& path) = 0;
};

// The desktop: the default application by the file's URL, and the file manager over D-Bus
// (org.freedesktop.FileManager1.ShowItems); when no file manager answers, the containing folder
// is opened instead.
class TDesktopShell : public TShell {
 public:
  void OpenDocument(const std::string& path) override;
  void ShowInFileManager(const std::string& path) override;
};

// For tests: records every call in order.
class TRecordingShell : public TShell {
 public:
  enum class TCall { Open, Show };
  void OpenDocument(const std::string& path) override { calls.emplace_back(TCall::Open, path); }
  void ShowInFileManager(const std::string& path) override { calls.emplace_back(TCall::Show, path); }
  std::vector<std::pair<TCall, std::string>> calls;
};

}  // namespace lanqi
