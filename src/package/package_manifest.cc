#include "package/package_manifest.h"

#include <algorithm>
#include <charconv>

namespace ovix {
namespace {

constexpr std::string_view kFirstLine = "ovix package manifest 1";

// The header's fields in the order the text lists them.
std::vector<std::pair<std::string, std::string>> headerFields(const OVIXPackageInfo& h) {
  auto text = [](char const* value) { return std::string(value != nullptr ? value : ""); };
  return {{"key", text(h.skey())},
          {"name", text(h.name())},
          {"version", text(h.ver())},
          {"type", text(h.type())},
          {"guid", text(h.guid())},
          {"depend-guid", text(h.dependGuid())},
          {"version-time", text(h.verTime())},
          {"kernel-time", text(h.kernalTime())},
          {"pack-time", text(h.packTime())},
          {"table", text(h.refTblname())},
          {"depend", h.depend() ? "1" : "0"},
          {"force", h.force() ? "1" : "0"},
          {"project-id", text(h.projId())},
          {"project-guid", text(h.projGuid())}};
}

// Backslash, line feed and carriage return are written as \\, \n and \r,
// so every value stays on its line.
std::string escape(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

bool unescape(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    if (text[i] == '\\') *out += '\\';
    else if (text[i] == 'n') *out += '\n';
    else if (text[i] == 'r') *out += '\r';
    else return false;
  }
  return true;
}

bool parseHash(std::string_view text, ContentHash* hash) {
  if (text.size() != hash->size() * 2) return false;
  for (size_t i = 0; i < hash->size(); ++i) {
    for (char c : text.substr(i * 2, 2)) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    std::from_chars(text.data() + i * 2, text.data() + i * 2 + 2, (*hash)[i], 16);
  }
  return true;
}

bool parseCount(std::string_view text, uint64_t* value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// Splits off the next line (without its '\n'); false at the end or when the
// last line has no line end.
bool nextLine(std::string_view* text, std::string_view* line) {
  size_t end = text->find('\n');
  if (end == std::string_view::npos) return false;
  *line = text->substr(0, end);
  text->remove_prefix(end + 1);
  return true;
}

bool fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

bool byKey(const ManifestEntry& a, const ManifestEntry& b) { return a.key < b.key; }

}  // namespace

std::string hashText(const ContentHash& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : hash) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

PackageManifest::PackageManifest(const OVIXPackageInfo& header, std::vector<ManifestEntry> files)
    : fields_(headerFields(header)), files_(std::move(files)) {
  std::sort(files_.begin(), files_.end(), byKey);
}

std::string PackageManifest::text() const {
  std::string out(kFirstLine);
  out += '\n';
  for (const auto& [name, value] : fields_) out += name + " " + escape(value) + "\n";
  out += "files " + std::to_string(files_.size()) + "\n";
  for (const ManifestEntry& file : files_)
    out += std::to_string(file.size) + " " + hashText(file.hash) + " " + escape(file.key) + "\n";
  return out;
}

bool PackageManifest::parse(std::string_view text, PackageManifest* manifest, std::string* error) {
  std::string_view line;
  if (!nextLine(&text, &line) || line != kFirstLine) return fail(error, "not a package manifest");
  PackageManifest parsed;
  parsed.fields_ = headerFields(OVIXPackageInfo());
  for (auto& [name, value] : parsed.fields_) {
    if (!nextLine(&text, &line) || line.substr(0, name.size() + 1) != name + " " ||
        !unescape(line.substr(name.size() + 1), &value))
      return fail(error, "the manifest's field " + name + " is missing or damaged");
  }
  uint64_t count = 0;
  if (!nextLine(&text, &line) || line.substr(0, 6) != "files " || !parseCount(line.substr(6), &count) ||
      count > text.size() / 68)  // a file line takes at least 68 bytes
    return fail(error, "the manifest's file count is missing or damaged");
  parsed.files_.resize(count);
  for (ManifestEntry& file : parsed.files_) {
    size_t sizeEnd = 0;
    if (!nextLine(&text, &line) || (sizeEnd = line.find(' ')) == std::string_view::npos ||
        !parseCount(line.substr(0, sizeEnd), &file.size) ||
        !parseHash(line.substr(sizeEnd + 1, 64), &file.hash) || line.size() < sizeEnd + 67 ||
        line[sizeEnd + 65] != ' ' || !unescape(line.substr(sizeEnd + 66), &file.key))
      return fail(error, "a file line of the manifest is damaged");
    if (&file != parsed.files_.data() && !byKey(*(&file - 1), file))
      return fail(error, "the manifest's files are not in key order, or one is listed twice");
  }
  if (!text.empty()) return fail(error, "the manifest has text after its last file");
  *manifest = std::move(parsed);
  return true;
}

std::string PackageManifest::field(std::string_view name) const {
  for (const auto& [fieldName, value] : fields_) {
    if (fieldName == name) return value;
  }
  return {};
}

const ManifestEntry* PackageManifest::find(std::string_view key) const {
  auto it = std::lower_bound(files_.begin(), files_.end(), key,
                             [](const ManifestEntry& e, std::string_view k) { return e.key < k; });
  return it != files_.end() && it->key == key ? &*it : nullptr;
}

bool PackageManifest::describes(const OVIXPackageInfo& header, std::string* field) const {
  for (const auto& [name, value] : headerFields(header)) {
    if (this->field(name) != value) {
      *field = name;
      return false;
    }
  }
  return true;
}

}  // namespace ovix
