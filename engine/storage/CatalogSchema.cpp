#include "engine/storage/CatalogSchema.h"

#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/Definitions.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/CodePage.h"

namespace lanqi {

// Slot widths. Every version row stores its fields' whole slots, so they decide the catalog's size:
// 1024-byte paths made 100 000 versions take 147 MB. Paths on a desktop are far shorter (half of
// them under 100 bytes, nearly all under 200); a copy's path is the area folder, the file's name
// twice and 26 bytes of stamp and decoration, so 255 bytes hold a 100-byte name under a 40-byte area
// folder. What does not fit is refused when the file is added, never cut. A version row now takes
// 448 bytes, a third of the 1416 it took. Catalogs made with other widths keep theirs: every check
// reads the width from the table.
constexpr int kAreaNameRoom = 255;
constexpr int kAreaFolderRoom = 200;
constexpr int kSourceRoom = 512;  // a tracked file's path: few rows, deep folders welcome
constexpr int kBackupRoom = 255;
constexpr int kNoteRoom = 128;
constexpr int kStampRoom = 20;  // "yyyy-mm-dd-hh-mm-ss"
constexpr int kSizeRoom = 20;   // a byte count's decimal digits
constexpr int kExtensionRoom = 16;
constexpr int kCopyRoom = 255;

void CreateCatalogDatabase(const std::string& fileName) {
  CreateDatabaseFile(fileName, TDatabaseCreateOptions{}, [](TRadeZIFileIO& io) {
    // None of the indexes is primary: the catalog's tables show their rows in record-number order.
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"存储区序号"), ftAutoInc);
      f.Add(Ansi(u8"名称"), ftString, kAreaNameRoom);
      f.Add(Ansi(u8"目录"), ftString, kAreaFolderRoom);
      TRadeIndexDefs x;
      x.Add("AreaNo", {0}, {tiUnique});
      AddTable(io, Ansi(u8"数据存储区"), f, x);
    }
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"存储区序号"), ftInteger);
      f.Add(Ansi(u8"文件序号"), ftAutoInc);
      f.Add(Ansi(u8"源文件名称"), ftString, kSourceRoom);
      f.Add(Ansi(u8"备份文件目录"), ftString, kBackupRoom);
      f.Add(Ansi(u8"大小"), ftString, 32);  // the stamp at the last capture
      TRadeIndexDefs x;
      x.Add("FileNo", {1}, {tiUnique});
      x.Add("FileArea", {0});
      AddTable(io, Ansi(u8"文件索引表"), f, x);
    }
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"文件序号"), ftInteger);
      f.Add(Ansi(u8"说明"), ftString, kNoteRoom);
      f.Add(Ansi(u8"版本"), ftString, kStampRoom);
      f.Add(Ansi(u8"大小"), ftString, kSizeRoom);
      f.Add(Ansi(u8"文件扩展名"), ftString, kExtensionRoom);
      f.Add(Ansi(u8"文件名称"), ftString, kCopyRoom);
      TRadeIndexDefs x;
      x.Add("VerFile", {0});
      AddTable(io, Ansi(u8"文件版本表"), f, x);
    }
  });
}

}  // namespace lanqi
