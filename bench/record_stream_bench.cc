// Writes one file into a package record and reads it back into a file,
// streaming in both directions, and reports time and peak memory.
//
//   ovix_bench_record write PACKAGE SOURCE
//   ovix_bench_record read  PACKAGE TARGET
//
// Prints "seconds=S peak_kib=K bytes=N".

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "package/package_file.h"

namespace {

long peakKib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class FileSink : public zddb::BlobSink {
 public:
  explicit FileSink(const char* path) : file_(std::fopen(path, "wb")) {}
  ~FileSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool write(const char* data, size_t n) override {
    bytes += n;
    return file_ != nullptr && std::fwrite(data, 1, n, file_) == n;
  }
  long long bytes = 0;

 private:
  FILE* file_;
};

int writePackage(const char* package, const char* source, long long* bytes) {
  std::remove(package);
  DatabaseHandle db(ovix::openPackageFile(package));
  if (!db) return 1;
  if (ovix::createClassTable(db->getFilter(0), "OVIXFileRecord", OVIXFileRecord::desc()) != 0)
    return 1;
  OVIXFileRecord record;
  record.setSkey("big.bin");
  if (!record.setStreamFile(*ovix::Env::Default(), source)) return 1;
  *bytes = record.streamSize();
  db->beginTransaction(0x2000);
  if (ovix::writeRecord(db.get(), "OVIXFileRecord", &record, 1) != 0) {
    std::fprintf(stderr, "write failed: %s\n", db->lastError().c_str());
    return 1;
  }
  return db->commitTransaction() == 0 ? 0 : 1;
}

int readPackage(const char* package, const char* target, long long* bytes) {
  DatabaseHandle db(ovix::openPackageFile(package));
  if (!db) return 1;
  FileSink sink(target);
  zddb::BlobLocation where{"OVIXFileRecord", "m_stream", "m_skey", "big.bin"};
  if (!db->connection()->readBlob(where, &sink)) return 1;
  *bytes = sink.bytes;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "read") != 0)) {
    std::fprintf(stderr, "usage: %s write|read PACKAGE FILE\n", argv[0]);
    return 2;
  }
  registerRecordClasses();
  auto start = std::chrono::steady_clock::now();
  long long bytes = 0;
  int rc = std::strcmp(argv[1], "write") == 0 ? writePackage(argv[2], argv[3], &bytes)
                                               : readPackage(argv[2], argv[3], &bytes);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds=%.2f peak_kib=%ld bytes=%lld\n", seconds, peakKib(), bytes);
  return rc;
}
