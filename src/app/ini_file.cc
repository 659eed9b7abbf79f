#include "app/ini_file.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace ovix {

struct IniFile::Impl {
  // 8-bit texts (not UTF-8), no multiple keys, no multi-line values.
  CSimpleIniA ini{false, false, false};
  Impl() { ini.SetSpaces(false); }
};

IniFile::IniFile() : impl_(std::make_unique<Impl>()) {}
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

bool IniFile::load(Env& env, const std::string& path) {
  impl_->ini.Reset();
  std::string data;
  if (!readFileToString(env, path, &data)) return false;
  return loadData(data);
}

bool IniFile::loadData(const std::string& data) {
  impl_->ini.Reset();
  return impl_->ini.LoadData(data.data(), data.size()) >= 0;
}

char const* IniFile::getValue(char const* section, char const* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  return impl_->ini.GetValue(section, key, nullptr);
}

void IniFile::setValue(char const* section, char const* key, char const* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return;
  impl_->ini.SetValue(section, key, value);
}

std::string IniFile::text() const {
  std::string out;
  impl_->ini.Save(out, false);
  return out;
}

bool IniFile::save(Env& env, const std::string& path) const {
  return writeFileAtomically(env, path, text());
}

}  // namespace ovix
