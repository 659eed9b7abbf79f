// The two record classes of a package: the header OVIXPackageInfo and one
// OVIXFileRecord per packed file.

#ifndef OVIX_PACKAGE_PACKAGE_RECORDS_H_
#define OVIX_PACKAGE_PACKAGE_RECORDS_H_

#include <memory>
#include <string>

#include "package/db_filter.h"
#include "package/heap_text.h"
#include "package/record_bytes.h"
#include "package/rx_object.h"
#include "platform/env.h"

class OVIXPackageInfo : public ZdDbObject {
 public:
  OVIXPackageInfo() = default;
  ~OVIXPackageInfo() override = default;

  static ZdRxClass* desc();
  ZdRxClass* isA() const override { return desc(); }
  // `object` when it is a header, else null.
  static OVIXPackageInfo* cast(ZdRxObject* object);
  static ZdRxObject* createObject() { return new OVIXPackageInfo; }

  ZdDb::ErrorStatus readFields(ZdDbFilter* filter) override;
  ZdDb::ErrorStatus writeFields(ZdDbFilter* filter) override;
  // m_skey as a text value, its backslashes doubled for a server database;
  // 18 (value untouched) when m_skey is null or empty.
  ZdDb::ErrorStatus getMainKeyValue(int dbType, KVData& value) override;

  // Frees every text and clears both flags.
  void clear();
  // True when name and version are all present and equal, ignoring case.
  bool isSameProduct(char const* name, char const* version) const;

  char const* skey() const { return m_skey.get(); }
  char const* name() const { return m_name.get(); }
  char const* ver() const { return m_ver.get(); }
  char const* type() const { return m_type.get(); }
  char const* guid() const { return m_guid.get(); }
  char const* dependGuid() const { return m_depend_guid.get(); }
  char const* verTime() const { return m_ver_time.get(); }
  char const* kernalTime() const { return m_kernal_time.get(); }
  char const* packTime() const { return m_pack_time.get(); }
  char const* refTblname() const { return m_ref_tblname.get(); }
  char const* projGuid() const { return m_proj_guid.get(); }
  char const* projId() const { return m_proj_id.get(); }
  bool depend() const { return m_depend; }
  bool force() const { return m_force; }

  void setSkey(char const* v) { m_skey.set(v); }
  void setName(char const* v) { m_name.set(v); }
  void setVer(char const* v) { m_ver.set(v); }
  void setType(char const* v) { m_type.set(v); }
  void setGuid(char const* v) { m_guid.set(v); }
  void setDependGuid(char const* v) { m_depend_guid.set(v); }
  void setVerTime(char const* v) { m_ver_time.set(v); }
  void setKernalTime(char const* v) { m_kernal_time.set(v); }
  void setPackTime(char const* v) { m_pack_time.set(v); }
  void setRefTblname(char const* v) { m_ref_tblname.set(v); }
  void setProjGuid(char const* v) { m_proj_guid.set(v); }
  void setProjId(char const* v) { m_proj_id.set(v); }
  void setDepend(int v) { m_depend = v != 0; }
  void setForce(int v) { m_force = v != 0; }

 private:
  HeapText m_skey, m_name, m_ver, m_type, m_guid, m_depend_guid, m_ver_time, m_kernal_time,
      m_pack_time, m_ref_tblname, m_proj_guid, m_proj_id;
  bool m_depend = false;
  bool m_force = false;
};

class OVIXFileRecord : public ZdDbObject {
 public:
  OVIXFileRecord() = default;
  ~OVIXFileRecord() override;
  OVIXFileRecord(const OVIXFileRecord&) = delete;
  OVIXFileRecord& operator=(const OVIXFileRecord&) = delete;

  static ZdRxClass* desc();
  ZdRxClass* isA() const override { return desc(); }
  static OVIXFileRecord* cast(ZdRxObject* object);
  static ZdRxObject* createObject() { return new OVIXFileRecord; }

  ZdDb::ErrorStatus readFields(ZdDbFilter* filter) override;
  ZdDb::ErrorStatus writeFields(ZdDbFilter* filter) override;
  ZdDb::ErrorStatus getMainKeyValue(int dbType, KVData& value) override;

  // Reads the whole file into the byte block (empty when it cannot be
  // read).  False when the file cannot be read or is too large for the
  // block's 32-bit size.
  bool loadStream(ovix::Env& env, const std::string& path);
  // Writes the byte block to `path`; an empty block logs that the server's
  // data is empty and leaves the file alone (true).  False, logged, when the
  // file cannot be written.
  bool saveStream(ovix::Env& env, char const* path);

  // The bytes will come from `path` in chunks when the record is written,
  // instead of from the byte block.  False when the file cannot be measured
  // or is larger than the block's 32-bit size allows (the caller reports).
  bool setStreamFile(ovix::Env& env, const std::string& path);
  // The bytes to write come from `source` (which the record shares).
  void setStreamSource(std::shared_ptr<zddb::BlobSource> source) { m_stream.stream(std::move(source)); }
  bool hasStreamSource() const { return m_stream.isStreamed(); }
  // Size of the bytes the record carries, in memory or streamed.
  int64_t streamSize() const { return m_stream.size(); }

  char const* skey() const { return m_skey.get(); }
  char const* crc() const { return m_crc.get(); }
  char const* guid() const { return m_guid.get(); }
  char const* dbkey() const { return m_dbkey.get(); }
  // The bytes when in memory (an empty block when streamed).
  const ZdDbBlock& stream() const { return m_stream.block(); }
  // The bytes whatever their kind; read streamed or borrowed bytes of a
  // row read by ZdDbDataBase::selectEach during the visit of that row.
  const RecordBytes& bytes() const { return m_stream; }
  int version() const { return m_version; }
  bool writeGuid() const { return m_writeGuid; }

  void setSkey(char const* v) { m_skey.set(v); }
  void setCrc(char const* v) { m_crc.set(v); }
  void setGuid(char const* v) { m_guid.set(v); }
  void setDbkey(char const* v) { m_dbkey.set(v); }
  void setVersion(int v) { m_version = v; }
  void incrementVersion() { ++m_version; }
  void setWriteGuid(int v) { m_writeGuid = v != 0; }
  // Replaces the bytes with a copy of `data`.
  void setStream(const void* data, int32_t size) { m_stream.copyFrom(data, size); }
  // Makes the bytes refer to `data` without owning it: the caller keeps
  // the bytes alive and unchanged while the record is used.
  void setStreamView(const void* data, int32_t size) { m_stream.borrow(data, size); }
  void clearStream() { m_stream.clear(); }

 private:
  HeapText m_skey, m_crc, m_guid;
  RecordBytes m_stream;
  bool m_writeGuid = true;
  HeapText m_dbkey;
  int m_version = 0;
};

// `text` with every backslash doubled; null gives null.  The result is a
// heap text owned by the caller (free).
char* escapeKeyText(char const* text);
std::string escapeKeyText(const std::string& text);

// The user's message that the file `path` of `size` bytes is larger than a
// package can hold (`limit` bytes).
std::string fileTooLargeText(const std::string& path, uint64_t size, uint64_t limit);

// Registers both record classes; returns the header's descriptor.
ZdRxClass* registerRecordClasses();

// A BlobSource over a file, read front to back through an Env.
std::shared_ptr<zddb::BlobSource> fileBlobSource(ovix::Env& env, const std::string& path,
                                                 int64_t size);

#endif  // OVIX_PACKAGE_PACKAGE_RECORDS_H_
