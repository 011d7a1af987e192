#include "engine/storage/Definitions.h"

#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

void TRadeCollectionItem::Assign(const TRadeCollectionItem& source) {
  throw EConvertError(Format("Cannot assign a %s to a %s", source.ClassName(), ClassName()));
}

int32_t TRadeCollectionItem::Index() const {
  if (!collection_) return -1;
  for (int32_t i = 0; i < collection_->Count(); ++i)
    if (collection_->ItemAt(i) == this) return i;
  return -1;
}

int32_t TRadeDefCollection::IndexOf(const std::string& name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (SameTextAnsi(ItemAt(i)->Name, name)) return i;
  return -1;
}

TRadeCollectionItem* TRadeDefCollection::AddItem(std::unique_ptr<TRadeCollectionItem> item) {
  item->collection_ = this;
  item->id_ = nextId_++;
  if (item->Name.empty()) item->Name = DefaultName(*item);
  items_.push_back(std::move(item));
  return items_.back().get();
}

std::string TRadeDefCollection::DefaultName(const TRadeCollectionItem& item) const {
  // Characters 2 to 6 of the class name ("RadeF", "RadeI") and the identifier + 1.
  std::string cls = item.ClassName();
  return cls.substr(1, 5) + std::to_string(item.ID() + 1);
}

namespace {
// Begin/end update of the owning collection around an assignment, also on failure.
class TUpdateBracket {
 public:
  explicit TUpdateBracket(TRadeDefCollection* c) : c_(c) {
    if (c_) c_->BeginUpdate();
  }
  ~TUpdateBracket() {
    if (c_) c_->EndUpdate();
  }

 private:
  TRadeDefCollection* c_;
};
}  // namespace

void TRadeFieldDef::Assign(const TRadeCollectionItem& source) {
  auto* s = dynamic_cast<const TRadeFieldDef*>(&source);
  if (!s) return TRadeCollectionItem::Assign(source);
  TUpdateBracket b(Collection());
  Name = s->Name;
  FieldType = s->FieldType;
  DataSize = s->DataSize;
  NoProcessing = s->NoProcessing;
}

void TRadeIndexDef::Assign(const TRadeCollectionItem& source) {
  auto* s = dynamic_cast<const TRadeIndexDef*>(&source);
  if (!s) return TRadeCollectionItem::Assign(source);
  TUpdateBracket b(Collection());
  Name = s->Name;
  Options = s->Options;
  FieldNumbers = s->FieldNumbers;
}

TRadeFieldDef* TRadeFieldDefs::Add(const std::string& name, uint8_t fieldType, int32_t dataSize,
                                   uint8_t noProcessing) {
  auto item = std::make_unique<TRadeFieldDef>();
  item->Name = name;
  item->FieldType = fieldType;
  item->DataSize = dataSize;
  item->NoProcessing = noProcessing;
  return static_cast<TRadeFieldDef*>(AddItem(std::move(item)));
}

void TRadeFieldDefs::Assign(const TRadeFieldDefs& source) {
  Clear();
  for (int32_t i = 0; i < source.Count(); ++i) Add()->Assign(*source.Items(i));
}

TRadeIndexDef* TRadeIndexDefs::Add(const std::string& name, const TIntegerAry& fieldNumbers,
                                   TRDIndexOptions options) {
  auto item = std::make_unique<TRadeIndexDef>();
  item->Name = name;
  item->FieldNumbers = fieldNumbers;
  item->Options = options;
  return static_cast<TRadeIndexDef*>(AddItem(std::move(item)));
}

void TRadeIndexDefs::Assign(const TRadeIndexDefs& source) {
  Clear();
  for (int32_t i = 0; i < source.Count(); ++i) Add()->Assign(*source.Items(i));
}

}  // namespace lanqi
