#include "packing/file_selection.h"

#include <strings.h>

#include <algorithm>
#include <compare>

#include "app/text_lines.h"
#include "package/file_key.h"
#include "platform/csv.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/text_case.h"

namespace ovix {

const char* const kProjectDatabaseNames[26] = {
    "projectAttr.zeda",
    "projectcom.zeda",
    "projectDigitalHot.zeda",
    "projectGlib.zeda",
    "projectPattern.zeda",
    "projectSpec.zeda",
    "projectStanpart.zeda",
    "projectSupport.zeda",
    "projectTemplate_pid.ovix",
    "sysCommon.zeda",
    "sysNaming.zeda",
    "PID\\projectPIDAttr.zeda",
    "PID\\ProjectPIDGlib.zeda",
    "PID\\projectPIDSpec.zeda",
    "PID\\sysCommonPID.zeda",
    "hvac\\hvacSysCommon.zeda",
    "hvac\\projectHvacAttr.zeda",
    "hvac\\projectHvacGlib.zeda",
    "hvac\\projectHvacSpec.zeda",
    "hvac\\projectHvacSupport.zeda",
    "cable\\cableSysCommon.zeda",
    "cable\\projectCableAttr.zeda",
    "cable\\projectCableGlib.zeda",
    "cable\\projectCableSpec.zeda",
    "cable\\projectCableSupport.zeda",
    "digital_data.zeda",
};

namespace {

// Decodes one UTF-8 sequence at text[i]; returns its length, 0 when the
// bytes are not valid UTF-8 (they are then kept as they are).
size_t decodeUtf8(const std::string& text, size_t i, char32_t* cp) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  char32_t value = n == 1 ? c : (c & (0x7F >> n));
  for (size_t k = 1; k < n; ++k) {
    unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc >> 6) != 2) return 0;
    value = (value << 6) | (cc & 0x3F);
  }
  *cp = value;
  return n;
}

void appendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool endsWithExtension(const std::string& name, const std::string& extension) {
  if (name.size() < extension.size() + 1) return false;
  size_t dot = name.size() - extension.size() - 1;
  return name[dot] == '.' && strcasecmp(name.c_str() + dot + 1, extension.c_str()) == 0;
}

std::string joinKey(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : directory + "\\" + name;
}

// The folder that holds a user's list files.
std::string userFolder(const std::string& user) {
  return user.empty() ? programDirectory : programDirectory + "/" + user;
}

bool isRegularFile(Env& env, const std::string& path) {
  return env.fileExists(path) && !env.isDirectory(path);
}

}  // namespace

std::string toUpperKey(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t n = decodeUtf8(text, i, &cp);
    if (n == 0) {
      out += text[i++];
      continue;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp >= 'a' && cp <= 'z' ? cp - 32 : cp);
    } else {
      appendUtf8(upperCaseOf(cp), &out);
    }
    i += n;
  }
  return out;
}

bool readListFile(Env& env, const std::string& path, std::vector<std::string>& entries) {
  std::vector<std::string> pieces;
  if (!readLinePieces(env, path, &pieces)) return false;
  for (const std::string& piece : pieces) entries.push_back(withoutLineEnd(piece));
  return !pieces.empty();
}

std::string listFileNameOutsideUserFolder(Env& env, const std::string& user,
                                          const std::string& subdirText,
                                          const std::string& typeText) {
  if (!typeText.empty() && !isSingleFileName(typeText)) return typeText;
  if (!subdirText.empty() && !isSingleFileName(subdirText) &&
      isRegularFile(env, joinPath(userFolder(user), keyToNativePath(subdirText))))
    return subdirText;
  return {};
}

void PackFileFilter::loadKeys(Env& env, const std::string& path, std::set<std::string>* keys) {
  std::vector<std::string> entries;
  if (!readListFile(env, path, entries)) return;
  for (size_t i = 1; i < entries.size(); ++i) {  // the first line is a header
    // An entry written with '/' names the same path as with '\'.
    const std::string entry = nativePathToKey(entries[i]);
    keys->insert(toUpperKey(!entry.empty() && entry[0] == '\\' ? entry.substr(1) : entry));
  }
}

PackFileFilter::PackFileFilter(Env& env, const std::string& user, const std::string& subdirText,
                               const std::string& typeText, bool projectMode)
    : projectMode_(projectMode) {
  if (projectMode) {
    for (const char* name : kProjectDatabaseNames) projectDatabases_.insert(toUpperKey(name));
  }
  const std::string folder = userFolder(user);
  if (!typeText.empty()) {
    std::string listPath = joinPath(folder, keyToNativePath(typeText));
    if (isSingleFileName(typeText) && isRegularFile(env, listPath))
      loadKeys(env, listPath, &fileList_);
    if (fileList_.empty()) {
      std::vector<std::string> items;
      zdcom::readCsv(typeText.c_str(), items);
      for (const std::string& item : items) {
        std::string extension = trimText(item, " \t");
        if (!extension.empty()) extensions_.push_back(extension);
      }
    }
  }
  if (!subdirText.empty()) {
    std::string listPath = joinPath(folder, keyToNativePath(subdirText));
    if (isSingleFileName(subdirText) && isRegularFile(env, listPath))
      loadKeys(env, listPath, &excludedDirectories_);
    exclusionList_ = !excludedDirectories_.empty();
  }
  loadKeys(env, programDirectory + "/" + (projectMode ? kForbiddenListProject : kForbiddenListSoftware),
           &forbidden_);
}

bool PackFileFilter::acceptDirectory(const std::string& relativeDirectory) const {
  if (excludedDirectories_.empty() || relativeDirectory.empty()) return true;
  return excludedDirectories_.count(toUpperKey(relativeDirectory)) == 0;
}

bool PackFileFilter::acceptFile(const std::string& relativeDirectory, const std::string& name) const {
  const std::string key = toUpperKey(joinKey(relativeDirectory, name));
  if (!fileList_.empty()) return fileList_.count(key) > 0;
  if (forbidden_.count(key) > 0) return false;
  if (extensions_.empty()) return true;
  return std::any_of(extensions_.begin(), extensions_.end(),
                     [&name](const std::string& e) { return endsWithExtension(name, e); });
}

bool PackFileFilter::isProjectDatabase(const std::string& relativePath) const {
  return projectDatabases_.count(toUpperKey(relativePath)) > 0;
}

namespace {

// Name order as a directory listing on the suite's home platform gives it:
// letters compared without regard to case, ties broken byte by byte.
// Bytes count as unsigned, which not every C library's strcasecmp does.
bool listingOrder(const DirEntry& a, const DirEntry& b) {
  const auto folded = [](char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : int{byte};
  };
  const std::strong_ordering order = std::lexicographical_compare_three_way(
      a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
      [&](char x, char y) { return folded(x) <=> folded(y); });
  return order != 0 ? order < 0 : a.name < b.name;
}

// The tree walk of collectFiles.  Links are taken only when they lead to a
// file inside the tree; every other link is left out and noted.
class TreeWalk {
 public:
  TreeWalk(Env& env, const std::string& root, const PackFileFilter* filter,
           std::vector<std::string>& result, std::vector<std::string>* skipped)
      : env_(env), root_(root), filter_(filter), result_(result), skipped_(skipped) {
    if (!env_.realPath(root_, &realRoot_)) realRoot_.clear();
  }

  void walk(const std::string& relative);

 private:
  // True when the link `path` (full path) leads to a file inside the tree.
  bool leadsInside(const std::string& path) {
    std::string target;
    if (realRoot_.empty() || !env_.realPath(path, &target)) return false;
    const std::string inside = realRoot_.back() == '/' ? realRoot_ : realRoot_ + "/";
    return target.size() > inside.size() && target.compare(0, inside.size(), inside) == 0;
  }
  void skip(const std::string& key) {
    if (skipped_ != nullptr) skipped_->push_back(key);
  }

  Env& env_;
  const std::string& root_;
  const PackFileFilter* filter_;
  std::vector<std::string>& result_;
  std::vector<std::string>* skipped_;
  std::string realRoot_;
};

void TreeWalk::walk(const std::string& relative) {
  std::string directory = relative.empty() ? root_ : joinPath(root_, keyToNativePath(relative));
  std::vector<DirEntry> entries;
  if (!env_.listDirectory(directory, &entries)) return;
  std::sort(entries.begin(), entries.end(), listingOrder);
  for (const DirEntry& entry : entries) {
    const std::string key = joinKey(relative, entry.name);
    if (entry.isFile) {
      if (filter_ != nullptr && !filter_->acceptFile(relative, entry.name)) continue;
      if (entry.isLink && !leadsInside(joinPath(directory, entry.name))) {
        skip(key);
        continue;
      }
      result_.push_back(key);
    } else if (entry.isDirectory) {
      if (filter_ == nullptr || filter_->acceptDirectory(key)) walk(key);
    } else if (entry.isLink) {
      skip(key);  // a link to a directory, or one that leads nowhere
    }
  }
}

}  // namespace

std::string normalStartDirectory(const std::string& startDirectory) {
  // A start directory typed with '/' or surrounding separators names the
  // same directory; relative paths always use single backslashes.
  std::string start = nativePathToKey(startDirectory);
  size_t begin = start.find_first_not_of('\\');
  size_t end = start.find_last_not_of('\\');
  return begin == std::string::npos ? std::string() : start.substr(begin, end - begin + 1);
}

void collectFiles(Env& env, const std::string& root, const std::string& startDirectory,
                  const PackFileFilter* filter, std::vector<std::string>& result,
                  std::vector<std::string>* skippedLinks) {
  if (root.empty()) return;
  const std::string start = normalStartDirectory(startDirectory);
  // A start directory that climbs out of the tree is not walked.
  if (!start.empty() && checkFileKey(start) == KeyFault::kOutside) return;
  TreeWalk(env, root, filter, result, skippedLinks).walk(start);
}

}  // namespace ovix
