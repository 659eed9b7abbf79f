// The package key: three code characters (software name, version, kind)
// followed by the pack time as "%Y%m%d%H%M".

#ifndef OVIX_PACKING_PACKAGE_KEY_H_
#define OVIX_PACKING_PACKAGE_KEY_H_

#include <map>
#include <string>

namespace ovix {

// The three code tables; lookups are exact and case-sensitive.
struct PackageKeyCodes {
  static const std::map<std::string, char>& softwareNames();
  static const std::map<std::string, char>& versions();
  static const std::map<std::string, char>& kinds();
};

// The key for a package of software `name`, `version` and `kind` packed at
// `packTime` (any text parseTimeString reads); "" when an argument is null
// or has no code.
std::string encodePackageKey(char const* name, char const* version, char const* packTime,
                             char const* kind);

}  // namespace ovix

#endif  // OVIX_PACKING_PACKAGE_KEY_H_
