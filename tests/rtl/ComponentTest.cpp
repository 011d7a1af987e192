#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"

namespace lanqi {
namespace {

using Log = std::vector<std::string>;

// A component that writes what happens to it into a shared log.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, const std::string& name, Log* log) : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override { log_->push_back("~" + Name()); }

  // The component this one refers to; cleared when that one goes away.
  TComponent* ref = nullptr;
  void Refer(TComponent* c) {
    ref = c;
    c->FreeNotification(this);
  }
  using TComponent::DestroyComponents;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    // During a destructor only the base part of c is left: compare pointers, use Name().
    log_->push_back(Name() + (op == TOperation::opInsert ? ":insert:" : ":remove:") + c->Name());
    if (op == TOperation::opRemove && c == ref) ref = nullptr;
  }
  void Loaded() override { log_->push_back(Name() + ":loaded"); }

 private:
  Log* log_;
};

TEST(Component, OwnedComponentsAreDestroyedWithTheOwnerNewestFirst) {
  Log log;
  auto* owner = new Probe(nullptr, "owner", &log);
  auto* a = owner->Create<Probe>("a", &log);
  owner->Create<Probe>("b", &log);
  auto* c = owner->Create<Probe>("c", &log);
  a->Create<Probe>("a1", &log);  // owned by an owned component
  EXPECT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(0), a);
  EXPECT_EQ(owner->Components(2), c);
  EXPECT_EQ(c->Owner(), owner);
  log.clear();
  delete owner;
  EXPECT_EQ(log, (Log{"~owner", "~c", "~b", "~a", "~a1"}));
}

TEST(Component, TheOwnerIsToldOfInsertsAndRemovals) {
  Log log;
  Probe owner(nullptr, "owner", &log);
  auto* a = new Probe(&owner, "a", &log);
  // The insert is told while a is being constructed, before it has its name.
  EXPECT_EQ(log, (Log{"owner:insert:"}));
  log.clear();
  delete a;  // a component destroyed on its own leaves its owner's list
  EXPECT_EQ(log, (Log{"~a", "owner:remove:a"}));
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, AComponentRemovedFromItsOwnerOutlivesIt) {
  Log log;
  std::unique_ptr<Probe> kept;
  {
    auto owner = std::make_unique<Probe>(nullptr, "owner", &log);
    kept.reset(owner->Create<Probe>("kept", &log));
    owner->Create<Probe>("other", &log);
    log.clear();
    owner->RemoveComponent(kept.get());
    EXPECT_EQ(log, (Log{"owner:remove:kept"}));
    EXPECT_EQ(kept->Owner(), nullptr);
    EXPECT_EQ(owner->ComponentCount(), 1);
    log.clear();
  }
  EXPECT_EQ(log, (Log{"~owner", "~other"}));
  // Moving between owners: the old owner hears of the removal, the new one of the insert.
  Probe first(nullptr, "first", &log), second(nullptr, "second", &log);
  first.InsertComponent(kept.get());
  log.clear();
  second.InsertComponent(kept.get());
  EXPECT_EQ(log, (Log{"first:remove:kept", "second:insert:kept"}));
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(kept->Owner(), &second);
  second.RemoveComponent(kept.get());
}

TEST(Component, InterestedComponentsHearOfADestruction) {
  Log log;
  auto watcher = std::make_unique<Probe>(nullptr, "watcher", &log);
  auto* target = new Probe(nullptr, "target", &log);
  watcher->Refer(target);
  delete target;
  EXPECT_EQ(log, (Log{"~target", "watcher:remove:target"}));
  EXPECT_EQ(watcher->ref, nullptr);

  // The interest goes both ways: the target hears of the watcher's end too.
  log.clear();
  auto* target2 = new Probe(nullptr, "target2", &log);
  watcher->Refer(target2);
  watcher.reset();
  EXPECT_EQ(log, (Log{"~watcher", "target2:remove:watcher"}));
  log.clear();
  delete target2;  // nothing is told to the watcher that is gone
  EXPECT_EQ(log, (Log{"~target2"}));

  // After RemoveFreeNotification nobody is told.
  Probe w(nullptr, "w", &log);
  auto* t = new Probe(nullptr, "t", &log);
  t->FreeNotification(&w);
  t->RemoveFreeNotification(&w);
  log.clear();
  delete t;
  EXPECT_EQ(log, (Log{"~t"}));
}

TEST(Component, SiblingsReferringToEachOtherDieCleanly) {
  Log log;
  auto* owner = new Probe(nullptr, "owner", &log);
  auto* older = owner->Create<Probe>("older", &log);
  auto* newer = owner->Create<Probe>("newer", &log);
  older->Refer(newer);  // newer goes first and tells older
  newer->Refer(older);  // older then goes, and newer is no longer there to hear it
  log.clear();
  delete owner;
  EXPECT_EQ(log, (Log{"~owner", "~newer", "older:remove:newer", "~older"}));
}

TEST(Component, DestroyComponentsEarly) {
  Log log;
  Probe owner(nullptr, "owner", &log);
  owner.Create<Probe>("a", &log);
  owner.Create<Probe>("b", &log);
  log.clear();
  owner.DestroyComponents();
  EXPECT_EQ(log, (Log{"~b", "~a"}));
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, LoadingStateEndsWithLoaded) {
  Log log;
  Probe p(nullptr, "p", &log);
  EXPECT_FALSE(p.IsLoading());
  p.BeginLoading();
  EXPECT_TRUE(p.IsLoading());
  EXPECT_TRUE(log.empty());
  p.EndLoading();
  EXPECT_FALSE(p.IsLoading());
  EXPECT_EQ(log, (Log{"p:loaded"}));
  EXPECT_FALSE(p.IsDestroying());
}

}  // namespace
}  // namespace lanqi
