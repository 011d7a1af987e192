// Profile (INI) files with the semantics of the Windows profile functions: every read opens the
// file, every write rewrites it; sections and keys are code-page bytes compared without regard to
// letter case; lines that are not touched are kept as they were.
#pragma once

#include <string>

namespace lanqi {

class TIniFile {
 public:
  // fileName: code-page bytes.
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  // The value with blanks around it removed and one pair of enclosing quotes stripped; def when
  // the file, the section or the key is missing.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // The value as a 32-bit integer (sign and decimal digits, or "0x"/"0X" and hexadecimal digits as
  // a 32-bit pattern); def when missing or not a number.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // ReadInteger(.., def ? 1 : 0) != 0.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Creates the file and the section when missing; replaces the key's value in place when present.
  // Raises Exception "Unable to write to %s" when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  std::string fileName_;
};

// The integer rule of ReadInteger; false when text is not a number.
bool ParseProfileInteger(const std::string& text, int& out);

}  // namespace lanqi
