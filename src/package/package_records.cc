#include "package/package_records.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/command_log.h"
#include "platform/messages.h"

namespace {

ZdRxClass*& headerClass() {
  static ZdRxClass* cls = nullptr;
  return cls;
}

ZdRxClass*& fileRecordClass() {
  static ZdRxClass* cls = nullptr;
  return cls;
}

// Reads one text field into `text`, replacing what it held.
ZdDb::ErrorStatus readText(ZdDbFilter* filter, char const* name, HeapText& text) {
  char* value = nullptr;
  ZdDb::ErrorStatus status = filter->readString(name, value);
  text.adopt(value);
  return status;
}

ZdDb::ErrorStatus keyValue(const HeapText& key, int dbType, KVData& value) {
  if (key.empty()) return ZdDb::eNoMainKey;
  if (dbType == ZdDb::kServer) {
    value.setText(escapeKeyText(std::string(key.get())));
  } else {
    value.setText(key.get());
  }
  return ZdDb::eOk;
}

class FileBlobSource final : public zddb::BlobSource {
 public:
  FileBlobSource(ovix::Env& env, std::string path, int64_t size)
      : env_(env), path_(std::move(path)), size_(size) {}

  int64_t size() const override { return size_; }

  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    if (!file_ && !env_.newSequentialFile(path_, &file_)) return false;
    return file_->read(buf, n, got);
  }

 private:
  ovix::Env& env_;
  std::string path_;
  int64_t size_;
  std::unique_ptr<ovix::SequentialFile> file_;
};

void reportTooLarge(const std::string& path, uint64_t size) {
  zdcom::errorMsg("%s", fileTooLargeText(path, size, static_cast<uint64_t>(INT32_MAX)).c_str());
}

}  // namespace

std::string fileTooLargeText(const std::string& path, uint64_t size, uint64_t limit) {
  return zdcom::format(zedaGetText_callbk("文件(%s)太大（%llu字节），数据包中的文件不能超过%llu字节"),
                       path.c_str(), static_cast<unsigned long long>(size),
                       static_cast<unsigned long long>(limit));
}

char* escapeKeyText(char const* text) {
  if (text == nullptr) return nullptr;
  std::string escaped = escapeKeyText(std::string(text));
  char* copy = static_cast<char*>(std::malloc(escaped.size() + 1));
  std::memcpy(copy, escaped.c_str(), escaped.size() + 1);
  return copy;
}

std::string escapeKeyText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

std::shared_ptr<zddb::BlobSource> fileBlobSource(ovix::Env& env, const std::string& path,
                                                 int64_t size) {
  return std::make_shared<FileBlobSource>(env, path, size);
}

// ---- OVIXPackageInfo -----------------------------------------------------

ZdRxClass* OVIXPackageInfo::desc() {
  if (headerClass() == nullptr) headerClass() = ZdRxClass::queryX("OVIXPackageInfo");
  // Start-up registers the classes; a caller that runs without start-up (a
  // test, a tool) gets them registered here rather than a null descriptor.
  if (headerClass() == nullptr) registerRecordClasses();
  return headerClass();
}

OVIXPackageInfo* OVIXPackageInfo::cast(ZdRxObject* object) {
  return object != nullptr && object->isKindOf(desc()) ? static_cast<OVIXPackageInfo*>(object)
                                                       : nullptr;
}

void OVIXPackageInfo::clear() {
  for (HeapText* t : {&m_skey, &m_name, &m_ver, &m_type, &m_guid, &m_depend_guid, &m_ver_time,
                      &m_kernal_time, &m_pack_time, &m_ref_tblname, &m_proj_guid, &m_proj_id})
    t->clear();
  m_depend = false;
  m_force = false;
}

ZdDb::ErrorStatus OVIXPackageInfo::readFields(ZdDbFilter* filter) {
  clear();
  ZdDb::ErrorStatus status = ZdDb::eOk;
  status = readText(filter, "m_skey", m_skey);
  status = readText(filter, "m_name", m_name);
  status = readText(filter, "m_ver", m_ver);
  status = readText(filter, "m_type", m_type);
  status = readText(filter, "m_ver_time", m_ver_time);
  status = readText(filter, "m_kernal_time", m_kernal_time);
  status = readText(filter, "m_pack_time", m_pack_time);
  status = readText(filter, "m_ref_tblname", m_ref_tblname);
  status = filter->readBool("m_force", m_force);
  status = filter->readBool("m_depend", m_depend);
  status = readText(filter, "m_depend_guid", m_depend_guid);
  status = readText(filter, "m_guid", m_guid);
  status = readText(filter, "m_proj_id", m_proj_id);
  status = readText(filter, "m_proj_guid", m_proj_guid);
  return status;
}

ZdDb::ErrorStatus OVIXPackageInfo::writeFields(ZdDbFilter* filter) {
  ZdDb::ErrorStatus status = ZdDb::eOk;
  status = filter->writeString("m_skey", m_skey.get());
  status = filter->writeString("m_name", m_name.get());
  status = filter->writeString("m_ver", m_ver.get());
  status = filter->writeString("m_type", m_type.get());
  status = filter->writeString("m_ver_time", m_ver_time.get());
  status = filter->writeString("m_kernal_time", m_kernal_time.get());
  status = filter->writeString("m_pack_time", m_pack_time.get());
  status = filter->writeString("m_ref_tblname", m_ref_tblname.get());
  status = filter->writeBool("m_force", m_force);
  status = filter->writeBool("m_depend", m_depend);
  status = filter->writeString("m_depend_guid", m_depend_guid.get());
  status = filter->writeString("m_guid", m_guid.get());
  status = filter->writeString("m_proj_id", m_proj_id.get());
  status = filter->writeString("m_proj_guid", m_proj_guid.get());
  return status;
}

ZdDb::ErrorStatus OVIXPackageInfo::getMainKeyValue(int dbType, KVData& value) {
  return keyValue(m_skey, dbType, value);
}

bool OVIXPackageInfo::isSameProduct(char const* name, char const* version) const {
  if (m_name.get() == nullptr || m_ver.get() == nullptr || name == nullptr || version == nullptr)
    return false;
  return strcasecmp(m_name.get(), name) == 0 && strcasecmp(m_ver.get(), version) == 0;
}

// ---- OVIXFileRecord --------------------------------------------------------

OVIXFileRecord::~OVIXFileRecord() = default;

ZdRxClass* OVIXFileRecord::desc() {
  if (fileRecordClass() == nullptr) fileRecordClass() = ZdRxClass::queryX("OVIXFileRecord");
  if (fileRecordClass() == nullptr) registerRecordClasses();
  return fileRecordClass();
}

OVIXFileRecord* OVIXFileRecord::cast(ZdRxObject* object) {
  return object != nullptr && object->isKindOf(desc()) ? static_cast<OVIXFileRecord*>(object)
                                                       : nullptr;
}

ZdDb::ErrorStatus OVIXFileRecord::readFields(ZdDbFilter* filter) {
  ZdDb::ErrorStatus status = readText(filter, "m_skey", m_skey);
  readText(filter, "m_crc", m_crc);
  if (filter->dbType() == ZdDb::kSqliteFile) readText(filter, "m_dbkey", m_dbkey);
  readText(filter, "m_guid", m_guid);
  m_version = 0;
  filter->readInt("m_version", m_version);
  m_stream.clear();
  if (std::unique_ptr<zddb::BlobSource> large = filter->readBlobSource("m_stream")) {
    m_stream.stream(std::move(large));
    return status;
  }
  ZdDbBlock block;
  filter->readBlob("m_stream", block);
  m_stream.adopt(block, !filter->blobsAreViews());
  return status;
}

ZdDb::ErrorStatus OVIXFileRecord::writeFields(ZdDbFilter* filter) {
  filter->writeString("m_skey", m_skey.get());
  filter->writeString("m_crc", m_crc.get(), 32, kFieldCodeString);
  if (filter->dbType() == ZdDb::kSqliteFile) filter->writeString("m_dbkey", m_dbkey.get());
  if (m_writeGuid) filter->writeString("m_guid", m_guid.get(), 64, kFieldCodeString);
  filter->writeInt("m_version", m_version);
  if (m_stream.isStreamed())
    return filter->writeBlobSource("m_stream", m_stream.source(), kFieldCodeLongBlob);
  return filter->writeBlob("m_stream", m_stream.block(), kFieldCodeLongBlob);
}

ZdDb::ErrorStatus OVIXFileRecord::getMainKeyValue(int dbType, KVData& value) {
  return keyValue(m_skey, dbType, value);
}

bool OVIXFileRecord::loadStream(ovix::Env& env, const std::string& path) {
  clearStream();
  std::optional<uint64_t> size = env.fileSize(path);
  if (!size) return false;
  if (*size > static_cast<uint64_t>(INT32_MAX)) {
    reportTooLarge(path, *size);
    return false;
  }
  std::string bytes;
  if (!ovix::readFileToString(env, path, &bytes) || bytes.size() > static_cast<size_t>(INT32_MAX))
    return false;
  setStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  return true;
}

bool OVIXFileRecord::setStreamFile(ovix::Env& env, const std::string& path) {
  clearStream();
  std::optional<uint64_t> size = env.fileSize(path);
  if (!size) return false;
  if (*size > static_cast<uint64_t>(INT32_MAX)) return false;
  m_stream.stream(fileBlobSource(env, path, static_cast<int64_t>(*size)));
  return true;
}

bool OVIXFileRecord::saveStream(ovix::Env& env, char const* path) {
  char const* target = path != nullptr ? path : "";
  const ZdDbBlock& bytes = m_stream.block();
  if (bytes.size < 1 || bytes.data == nullptr) {
    zdcom::OVIXCommandLog::errorlog(
        zedaGetText_callbk("文件(%s)无法更新，服务器上下载的数据为空"), target);
    return true;
  }
  std::unique_ptr<ovix::WritableFile> file;
  bool ok = env.newWritableFile(target, ovix::WriteMode::kTruncate, &file) &&
            file->append(reinterpret_cast<const char*>(bytes.data), static_cast<size_t>(bytes.size));
  if (file) ok = file->close() && ok;
  if (!ok) {
    zdcom::OVIXCommandLog::errorlog(
        zedaGetText_callbk("文件(%s)无法更新，请检查是不是被占用或已经打开"), target);
  }
  return ok;
}

// ---- registration ----------------------------------------------------------

ZdRxClass* registerRecordClasses() {
  if (fileRecordClass() == nullptr || ZdRxClass::queryX("OVIXFileRecord") == nullptr)
    fileRecordClass() = ZdRxClass::regClass("OVIXFileRecord", "ZdDbObject",
                                            &OVIXFileRecord::createObject, 1, 0);
  if (headerClass() != nullptr && ZdRxClass::queryX("OVIXPackageInfo") != nullptr)
    return headerClass();
  headerClass() = ZdRxClass::regClass("OVIXPackageInfo", "ZdDbObject",
                                      &OVIXPackageInfo::createObject, 0, 0);
  return headerClass();
}
