#include "testing/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/env.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/path_text.h"
#include "platform/utf16_windows.h"
#else
#include <unistd.h>
#endif

namespace ovix::testing {

namespace fs = std::filesystem;

#ifdef _WIN32

// No mkdtemp here: a random name is tried until one is new.  The path is
// kept with '/' separators, as the tests join names with '/'.
static std::string freshDirectory() {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "ovix-test-%08x", static_cast<unsigned>(random()));
    if (fs::create_directory(base / name)) return (base / name).generic_string();
  }
  throw std::runtime_error("no fresh temporary directory");
}

// std::filesystem here would walk into a junction or directory link and
// empty its target; the tree removes links as links.
TempDir::~TempDir() {
  if (!owned_) return;
  std::unique_ptr<DirectoryTree> parent;
  if (Env::Default()->openTree(parentPath(path_), &parent)) parent->removeTree(baseName(path_));
}

bool makeSymbolicLink(const std::string& target, const std::string& link) {
  std::wstring wideTarget = widen(target), wideLink = widen(link);
  std::replace(wideTarget.begin(), wideTarget.end(), L'/', L'\\');
  std::replace(wideLink.begin(), wideLink.end(), L'/', L'\\');
  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (fs::is_directory(fs::path(wideTarget))) flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
  if (!CreateSymbolicLinkW(wideLink.c_str(), wideTarget.c_str(), flags)) return false;
  // Some systems report success without making the link.
  DWORD attributes = GetFileAttributesW(wideLink.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

#else

static std::string freshDirectory() {
  std::string pattern = (fs::temp_directory_path() / "ovix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

TempDir::~TempDir() {
  if (!owned_) return;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

bool makeSymbolicLink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

#endif

TempDir::TempDir() : path_(sharedWithChildren(freshDirectory)), owned_(!isChildReplay()) {}

namespace {

// The values the current test shared: made here, or the parent's.
struct Shared {
  std::vector<std::string> values;
  size_t next = 0;  // in a child, the next of the parent's values to give
};

Shared& shared() {
  static Shared* instance = [] {
    auto* s = new Shared;
    if (const char* text = std::getenv("OVIX_TEST_SHARED"); text && isChildReplay()) {
      std::istringstream in(text);
      for (std::string value; std::getline(in, value, '|');) s->values.push_back(value);
    }
    return s;
  }();
  return *instance;
}

}  // namespace

bool isChildReplay() {
  static const bool child = std::getenv("OVIX_TEST_CHILD") != nullptr;
  return child;
}

std::string sharedWithChildren(const std::function<std::string()>& make) {
  Shared& s = shared();
  if (isChildReplay()) {
    // More than the parent made before its call: the child's own.
    return s.next < s.values.size() ? s.values[s.next++] : make();
  }
  s.values.push_back(make());
  return s.values.back();
}

std::string sharedValuesForChildren() {
  std::string text;
  for (const std::string& value : shared().values) text += (text.empty() ? "" : "|") + value;
  return text;
}

void startSharingForTest() {
  if (!isChildReplay()) shared().values.clear();
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<DirEntry> entries;
  Env::Default()->listDirectory(dir, &entries);
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> runLogLines(const TempDir& root) {
  std::vector<std::string> lines;
  std::istringstream in(root.read("temp/autoPatchLog.txt"));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(0, line.rfind("\t[")));
  return lines;
}

std::string TempDir::file(const std::string& relative) const { return path_ + "/" + relative; }

// Names are UTF-8; a std::string path would be read in the ANSI code page
// on Windows.
static fs::path pathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TempDir::write(const std::string& relative, const std::string& contents) const {
  fs::path target = pathOf(file(relative));
  fs::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << contents;
  return file(relative);
}

std::string TempDir::read(const std::string& relative) const {
  std::ifstream in(pathOf(file(relative)), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string TempDir::mkdir(const std::string& relative) const {
  fs::create_directories(pathOf(file(relative)));
  return file(relative);
}

}  // namespace ovix::testing
