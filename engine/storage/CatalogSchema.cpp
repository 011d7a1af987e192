#include "engine/storage/CatalogSchema.h"

#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/Definitions.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/CodePage.h"

namespace lanqi {

void CreateCatalogDatabase(const std::string& fileName) {
  CreateDatabaseFile(fileName, TDatabaseCreateOptions{}, [](TRadeZIFileIO& io) {
    // None of the indexes is primary: the catalog's tables show their rows in record-number order.
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"存储区序号"), ftAutoInc);
      f.Add(Ansi(u8"名称"), ftString, 255);
      f.Add(Ansi(u8"目录"), ftString, 1024);
      TRadeIndexDefs x;
      x.Add("AreaNo", {0}, {tiUnique});
      AddTable(io, Ansi(u8"数据存储区"), f, x);
    }
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"存储区序号"), ftInteger);
      f.Add(Ansi(u8"文件序号"), ftAutoInc);
      f.Add(Ansi(u8"源文件名称"), ftString, 1024);
      f.Add(Ansi(u8"备份文件目录"), ftString, 1024);
      f.Add(Ansi(u8"大小"), ftString, 32);
      TRadeIndexDefs x;
      x.Add("FileNo", {1}, {tiUnique});
      x.Add("FileArea", {0});
      AddTable(io, Ansi(u8"文件索引表"), f, x);
    }
    {
      TRadeFieldDefs f;
      f.Add(Ansi(u8"文件序号"), ftInteger);
      f.Add(Ansi(u8"说明"), ftString, 255);
      f.Add(Ansi(u8"版本"), ftString, 32);
      f.Add(Ansi(u8"大小"), ftString, 32);
      f.Add(Ansi(u8"文件扩展名"), ftString, 64);
      f.Add(Ansi(u8"文件名称"), ftString, 1024);
      TRadeIndexDefs x;
      x.Add("VerFile", {0});
      AddTable(io, Ansi(u8"文件版本表"), f, x);
    }
  });
}

}  // namespace lanqi
