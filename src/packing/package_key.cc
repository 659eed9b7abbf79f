#include "packing/package_key.h"

#include "platform/time_string.h"

namespace ovix {

const std::map<std::string, char>& PackageKeyCodes::softwareNames() {
  static const std::map<std::string, char> table = {
      {"OVIX_TARNO", 'A'}, {"OVIX_QUARNEL", 'B'}, {"OVIX_VEL", 'C'}, {"OVIX_MORBIX", 'D'}};
  return table;
}

const std::map<std::string, char>& PackageKeyCodes::versions() {
  static const std::map<std::string, char> table = {{"V1", '1'}, {"V2", '2'}, {"V3", '3'},
                                                    {"V4", '4'}, {"V5", '5'}, {"V6", '6'}};
  return table;
}

const std::map<std::string, char>& PackageKeyCodes::kinds() {
  static const std::map<std::string, char> table = {{"DLL", 'A'}, {"CONFIG", 'B'}, {"INSTALL", 'C'}};
  return table;
}

std::string encodePackageKey(char const* name, char const* version, char const* packTime,
                             char const* kind) {
  if (name == nullptr || version == nullptr || packTime == nullptr || kind == nullptr) return {};
  std::string time = formatLocalTime(static_cast<std::time_t>(parseTimeString(packTime)),
                                     "%Y%m%d%H%M");
  auto n = PackageKeyCodes::softwareNames().find(name);
  auto v = PackageKeyCodes::versions().find(version);
  auto k = PackageKeyCodes::kinds().find(kind);
  if (n == PackageKeyCodes::softwareNames().end() || v == PackageKeyCodes::versions().end() ||
      k == PackageKeyCodes::kinds().end())
    return {};
  return std::string{n->second, v->second, k->second} + time;
}

}  // namespace ovix
