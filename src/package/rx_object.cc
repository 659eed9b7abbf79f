#include "package/rx_object.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<ZdRxClass>> classes;
};

Registry& registry() {
  static Registry* r = new Registry;  // descriptors outlive every object
  return *r;
}

std::atomic<int64_t> nextObjectId{1};

}  // namespace

ZdRxClass* ZdRxClass::regClass(char const* name, char const* parent, CreateFn create,
                               int versionControl, int /*reserved*/) {
  if (name == nullptr || *name == '\0') return nullptr;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ZdRxClass* parentClass = nullptr;
  if (parent != nullptr) {
    auto p = r.classes.find(parent);
    if (p == r.classes.end()) {
      // Base classes of the library are known by name without registration.
      p = r.classes.emplace(parent, std::unique_ptr<ZdRxClass>(
                                        new ZdRxClass(parent, nullptr, nullptr, false)))
              .first;
    }
    parentClass = p->second.get();
  }
  auto it = r.classes.find(name);
  if (it != r.classes.end()) {
    it->second->create_ = create;
    it->second->parent_ = parentClass;
    it->second->versionControl_ = versionControl != 0;
    return it->second.get();
  }
  auto* cls = new ZdRxClass(name, parentClass, create, versionControl != 0);
  r.classes.emplace(name, std::unique_ptr<ZdRxClass>(cls));
  return cls;
}

ZdRxClass* ZdRxClass::queryX(char const* name) {
  if (name == nullptr) return nullptr;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.classes.find(name);
  return it == r.classes.end() ? nullptr : it->second.get();
}

ZdRxObject* ZdRxClass::create() const { return create_ != nullptr ? create_() : nullptr; }

bool ZdRxClass::getMainKey(std::string* keyName, zddb::FieldKind* kind) const {
  *keyName = "m_skey";
  *kind = zddb::FieldKind::kText;
  return true;
}

bool ZdRxClass::isDerivedFrom(const ZdRxClass* other) const {
  for (const ZdRxClass* c = this; c != nullptr; c = c->parent_) {
    if (c == other) return true;
  }
  return false;
}

bool ZdRxObject::isKindOf(const ZdRxClass* cls) const {
  const ZdRxClass* mine = isA();
  return mine != nullptr && cls != nullptr && mine->isDerivedFrom(cls);
}

ZdDbObject::ZdDbObject() : id_(nextObjectId++) {}

ZdDb::ErrorStatus ZdDbObject::getMainKeyValue(int, KVData&) { return ZdDb::eNoMainKey; }
