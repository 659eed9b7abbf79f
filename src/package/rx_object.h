// Run-time classes of the object database: a registry of record classes by
// name, and the base classes of every stored object.

#ifndef OVIX_PACKAGE_RX_OBJECT_H_
#define OVIX_PACKAGE_RX_OBJECT_H_

#include <cstdint>
#include <string>

#include "package/db_connection.h"
#include "package/db_status.h"
#include "package/kv_data.h"

class ZdRxObject;
class ZdDbFilter;

// A registered class: its name, its parent and a function that makes a new
// default object of it.  Descriptors live until the program ends.
class ZdRxClass {
 public:
  using CreateFn = ZdRxObject* (*)();

  // Registers `name` below `parent` (null or "ZdRxObject" for a root).
  // `versionControl` says that stored objects carry a version counter.
  // Registering a name again replaces its create function and returns the
  // same descriptor.
  static ZdRxClass* regClass(char const* name, char const* parent, CreateFn create,
                             int versionControl, int reserved);
  // The descriptor registered under `name`, or null.
  static ZdRxClass* queryX(char const* name);

  char const* name() const { return name_.c_str(); }
  ZdRxClass* parent() const { return parent_; }
  // A new default object, owned by the caller; null when the class has no
  // create function.
  ZdRxObject* create() const;
  // The main key's field name and kind; every record class keys on "m_skey".
  bool getMainKey(std::string* keyName, zddb::FieldKind* kind) const;
  // True when objects are keyed by their id instead of a main-key field.
  bool isIdAsMainkey() const { return false; }
  bool isVersionControlled() const { return versionControl_; }
  bool isDerivedFrom(const ZdRxClass* other) const;

 private:
  ZdRxClass(std::string name, ZdRxClass* parent, CreateFn create, bool versionControl)
      : name_(std::move(name)), parent_(parent), create_(create), versionControl_(versionControl) {}

  std::string name_;
  ZdRxClass* parent_;
  CreateFn create_;
  bool versionControl_;
};

class ZdRxObject {
 public:
  virtual ZdRxClass* isA() const = 0;
  virtual ~ZdRxObject() = default;

  bool isKindOf(const ZdRxClass* cls) const;
};

// An object that the database stores as one row of its class's table.
class ZdDbObject : public ZdRxObject {
 public:
  ZdDbObject();

  // Moves every field from the filter's current row into the object.
  virtual ZdDb::ErrorStatus readFields(ZdDbFilter* filter) = 0;
  // Hands every field to the filter; called twice for one write (names,
  // then values), so both passes must make the same calls in the same order.
  virtual ZdDb::ErrorStatus writeFields(ZdDbFilter* filter) = 0;
  // Sets `value` to the main key's value as the database of `dbType` needs
  // it; 18 when the object has no main key.
  virtual ZdDb::ErrorStatus getMainKeyValue(int dbType, KVData& value);

  // Identity of the object in this process.
  int64_t objectId() const { return id_; }
  int64_t toIdWithoutVer() const { return id_; }

 private:
  int64_t id_;
};

// The table that stores a class: its name unchanged.
inline std::string getTableName(char const* className) {
  return className != nullptr ? className : "";
}

#endif  // OVIX_PACKAGE_RX_OBJECT_H_
