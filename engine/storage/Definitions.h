// In-memory definitions of tables, fields and indexes. The table layer fills field and index
// definitions from a table header; the database fills table definitions when it connects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"

namespace lanqi {

using TIntegerAry = std::vector<int32_t>;
class TRadeDefCollection;

// A named item of an owned collection.
class TRadeCollectionItem {
 public:
  virtual ~TRadeCollectionItem() = default;
  virtual const char* ClassName() const = 0;
  // Copies a definition of the same class; any other source fails with "Cannot assign a %s to a %s".
  virtual void Assign(const TRadeCollectionItem& source);

  std::string Name;
  int32_t ID() const { return id_; }
  int32_t Index() const;
  TRadeDefCollection* Collection() const { return collection_; }

 private:
  friend class TRadeDefCollection;
  TRadeDefCollection* collection_ = nullptr;
  int32_t id_ = 0;
};

// Owns its items in insertion order; items get a running identifier from 0.
class TRadeDefCollection {
 public:
  virtual ~TRadeDefCollection() = default;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TRadeCollectionItem* ItemAt(int32_t i) const { return items_.at(static_cast<size_t>(i)).get(); }
  // Position of the first item whose name equals name without regard to case, -1 if none.
  int32_t IndexOf(const std::string& name) const;
  void Clear() { items_.clear(); }
  void Delete(int32_t i) { items_.erase(items_.begin() + i); }
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
  }

 protected:
  TRadeCollectionItem* AddItem(std::unique_ptr<TRadeCollectionItem> item);
  // The name an unnamed new item receives; empty keeps it unnamed.
  virtual std::string DefaultName(const TRadeCollectionItem& item) const;

 private:
  std::vector<std::unique_ptr<TRadeCollectionItem>> items_;
  int32_t nextId_ = 0;
  int32_t updateCount_ = 0;
};

class TRadeFieldDef : public TRadeCollectionItem {
 public:
  const char* ClassName() const override { return "TRadeFieldDef"; }
  void Assign(const TRadeCollectionItem& source) override;
  uint8_t FieldType = 0;
  int32_t DataSize = 0;
  uint8_t NoProcessing = 0;
};

class TRadeIndexDef : public TRadeCollectionItem {
 public:
  const char* ClassName() const override { return "TRadeIndexDef"; }
  void Assign(const TRadeCollectionItem& source) override;
  TRDIndexOptions Options;
  TIntegerAry FieldNumbers;
};

class TRadeTableDef : public TRadeCollectionItem {
 public:
  const char* ClassName() const override { return "TRadeTableDef"; }
  int32_t TableNumber = 0;
};

class TRadeFieldDefs : public TRadeDefCollection {
 public:
  TRadeFieldDef* Add() { return static_cast<TRadeFieldDef*>(AddItem(std::make_unique<TRadeFieldDef>())); }
  TRadeFieldDef* Add(const std::string& name, uint8_t fieldType, int32_t dataSize = 0,
                     uint8_t noProcessing = 0);
  TRadeFieldDef* Items(int32_t i) const { return static_cast<TRadeFieldDef*>(ItemAt(i)); }
  void Assign(const TRadeFieldDefs& source);
};

class TRadeIndexDefs : public TRadeDefCollection {
 public:
  TRadeIndexDef* Add() { return static_cast<TRadeIndexDef*>(AddItem(std::make_unique<TRadeIndexDef>())); }
  TRadeIndexDef* Add(const std::string& name, const TIntegerAry& fieldNumbers, TRDIndexOptions options = {});
  TRadeIndexDef* Items(int32_t i) const { return static_cast<TRadeIndexDef*>(ItemAt(i)); }
  void Assign(const TRadeIndexDefs& source);
};

class TRadeTableDefs : public TRadeDefCollection {
 public:
  TRadeTableDef* Add() { return static_cast<TRadeTableDef*>(AddItem(std::make_unique<TRadeTableDef>())); }
  TRadeTableDef* Items(int32_t i) const { return static_cast<TRadeTableDef*>(ItemAt(i)); }

 protected:
  std::string DefaultName(const TRadeCollectionItem&) const override { return {}; }
};

}  // namespace lanqi
