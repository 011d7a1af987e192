// TObject and TComponent: named components with an owner that destroys what it owns,
// removal notification to interested components, and a loading state.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lanqi {

class TObject {
 public:
  virtual ~TObject() = default;
};

// The shape of a plain event: the sender first.
using TNotifyEvent = std::function<void(TObject* Sender)>;
// Progress from 0 to 100.
using TOnProgressEvent = std::function<void(TObject* Sender, int Percent)>;

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int i) const { return components_[static_cast<size_t>(i)]; }

  // Makes owner the new owner of c (which must not be owned elsewhere) / gives c up again.
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);

  // Asks that `c` be told (Notification opRemove) when this component is destroyed.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

  // Loading state: while a stored description is applied, setters only store values.
  bool IsLoading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  // Ends the loading state and calls Loaded().
  void EndLoading();
  bool IsDestroying() const { return destroying_; }

  // Creates a component of type T owned by this one; the owner destroys it.
  template <class T, class... Args>
  T* Create(Args&&... args) {
    return new T(this, std::forward<Args>(args)...);  // the constructor registers with the owner
  }

 protected:
  virtual void Loaded() {}
  // Called on this component when `c` is inserted into or removed from its owner, or when a
  // component this one asked to be told about is destroyed.
  virtual void Notification(TComponent* c, TOperation operation);
  // Destroys the owned components, newest first; derived destructors may call it early.
  void DestroyComponents();

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace lanqi
