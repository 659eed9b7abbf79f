// The manifest of a package: the text a supplier signs.  It names the
// header's fields and, per file in key order, the key, the size and the
// SHA-256 of the bytes, one line each, so the same package always gives
// the same text and any change of a field, a byte, a file's presence or
// place changes it.

#ifndef OVIX_PACKAGE_PACKAGE_MANIFEST_H_
#define OVIX_PACKAGE_PACKAGE_MANIFEST_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "package/package_records.h"

namespace ovix {

using ContentHash = std::array<unsigned char, 32>;

// SHA-256 of bytes fed in pieces, so a file is hashed while it streams.
// (SHA-256 because processors hash it in hardware: it costs a fraction of
// the reads and writes around it.)
class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(ContentHasher&&) noexcept;
  ContentHasher& operator=(ContentHasher&&) noexcept;

  void update(const void* data, size_t size);
  // The hash of everything fed; the hasher is used up.
  ContentHash finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

struct ManifestEntry {
  std::string key;
  uint64_t size = 0;
  ContentHash hash{};
};

class PackageManifest {
 public:
  PackageManifest() = default;
  // The manifest of `header` and `files` (in any order).
  PackageManifest(const OVIXPackageInfo& header, std::vector<ManifestEntry> files);

  // Reads a manifest's text.  False, with *error saying why, for any text
  // that text() would not have written.
  static bool parse(std::string_view text, PackageManifest* manifest, std::string* error);

  // The canonical text.
  std::string text() const;
  // The value of the header field `name` ("key", "pack-time", ...); "" when
  // the header left it unset.
  std::string field(std::string_view name) const;
  const std::vector<ManifestEntry>& files() const { return files_; }
  // The entry of `key`; null when the package has no such file.
  const ManifestEntry* find(std::string_view key) const;
  // True when every field of `header` is the manifest's; otherwise false
  // with *field naming the first that differs.
  bool describes(const OVIXPackageInfo& header, std::string* field) const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
  std::vector<ManifestEntry> files_;  // sorted by key
};

// The hash as 64 lower-case hex digits.
std::string hashText(const ContentHash& hash);

}  // namespace ovix

#endif  // OVIX_PACKAGE_PACKAGE_MANIFEST_H_
