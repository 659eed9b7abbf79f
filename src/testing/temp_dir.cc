#include "testing/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ovix::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "ovix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempDir::write(const std::string& relative, const std::string& contents) const {
  fs::path target = file(relative);
  fs::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << contents;
  return target.string();
}

std::string TempDir::read(const std::string& relative) const {
  std::ifstream in(file(relative), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string TempDir::mkdir(const std::string& relative) const {
  fs::create_directories(file(relative));
  return file(relative);
}

}  // namespace ovix::testing
