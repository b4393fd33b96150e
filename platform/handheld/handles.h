// The machine's kernel-object handles: open files, open devices and directory listings. A
// handle is a small number, never null and never all-ones, drawn from one counter for the
// whole process, so a handle kept across a change of machine is simply unknown to the new one.
#pragma once
#include <cstdint>
#include <map>
#include <memory>

#include "platform/types.h"

namespace handheld {

// What a handle stands for. Each service derives its own kind of object.
struct HandleObject {
  virtual ~HandleObject() = default;
};

class HandleTable {
 public:
  ce::HANDLE add(std::unique_ptr<HandleObject> object);
  // The object behind `handle` when it is of kind T, otherwise null.
  template <class T>
  T* find(ce::HANDLE handle) const {
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == objects_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }
  // Takes the object out of the table; null when the handle is unknown.
  std::unique_ptr<HandleObject> remove(ce::HANDLE handle);
  std::size_t size() const { return objects_.size(); }
  template <class T, class F>
  void forEach(F&& f) const {
    for (auto& [value, object] : objects_) {
      if (auto* t = dynamic_cast<T*>(object.get())) f(*t);
    }
  }

 private:
  std::map<std::uintptr_t, std::unique_ptr<HandleObject>> objects_;
};

}  // namespace handheld
