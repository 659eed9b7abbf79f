// The reference for applying a patch from MariaDB: the least a reader can
// do.  It streams the rows of one file table from the server one at a time
// (mysql_use_result), and for each file copies the old file to a backup
// folder and writes the new bytes.  No staging, no CRC, no rename.
//
//   ovix_bench_reader HOST PORT DB TABLE INSTALL_DIR BACKUP_DIR
//
// Credentials come from the option file named by OVIX_MYSQL_CNF.

#include <mysql.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string nativeKey(std::string key) {
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  return key;
}

bool writeFile(const fs::path& path, const char* data, unsigned long size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s HOST PORT DB TABLE INSTALL_DIR BACKUP_DIR\n", argv[0]);
    return 2;
  }
  MYSQL* db = mysql_init(nullptr);
  if (const char* cnf = std::getenv("OVIX_MYSQL_CNF")) mysql_optionsv(db, MYSQL_READ_DEFAULT_FILE, cnf);
  mysql_optionsv(db, MYSQL_READ_DEFAULT_GROUP, "client");
  if (mysql_real_connect(db, argv[1], nullptr, nullptr, argv[3],
                         static_cast<unsigned>(std::atoi(argv[2])), nullptr, 0) == nullptr) {
    std::fprintf(stderr, "connect: %s\n", mysql_error(db));
    return 1;
  }
  std::string sql = std::string("SELECT m_skey, m_stream FROM `") + argv[4] + "`";
  if (mysql_real_query(db, sql.data(), sql.size()) != 0) {
    std::fprintf(stderr, "query: %s\n", mysql_error(db));
    return 1;
  }
  MYSQL_RES* rows = mysql_use_result(db);
  const fs::path install = argv[5];
  const fs::path backup = argv[6];
  long files = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows)) {
    unsigned long* lengths = mysql_fetch_lengths(rows);
    std::string key = nativeKey(std::string(row[0], lengths[0]));
    fs::path target = install / key;
    std::error_code error;
    if (fs::exists(target)) {
      fs::create_directories((backup / key).parent_path(), error);
      fs::copy_file(target, backup / key, fs::copy_options::overwrite_existing, error);
    } else {
      fs::create_directories(target.parent_path(), error);
    }
    if (!writeFile(target, row[1], lengths[1])) {
      std::fprintf(stderr, "cannot write %s\n", target.c_str());
      return 1;
    }
    ++files;
  }
  mysql_free_result(rows);
  mysql_close(db);
  std::printf("%ld files\n", files);
  return 0;
}
