#include "platform/csv.h"

#include <cstring>

namespace zdcom {
namespace {

bool needsQuotes(const std::string& field) {
  if (field.find_first_of(",\"\r\n") != std::string::npos) return true;
  return !field.empty() && (field.front() == ' ' || field.back() == ' ' ||
                            field.front() == '\t' || field.back() == '\t');
}

}  // namespace

char const* writeCsv(const std::vector<std::string>& fields) {
  thread_local std::string line;
  line.clear();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    const std::string& field = fields[i];
    if (!needsQuotes(field)) {
      line += field;
      continue;
    }
    line += '"';
    for (char c : field) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  return line.c_str();
}

void readCsv(char const* line, std::vector<std::string>& out) {
  out.clear();
  if (line == nullptr) return;
  const char* p = line;
  std::string field;
  for (;;) {
    field.clear();
    if (*p == '"') {
      ++p;
      while (*p != '\0') {
        if (*p == '"') {
          if (p[1] == '"') {
            field += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        field += *p++;
      }
      // Text between a closing quote and the next comma is kept as it is.
      while (*p != '\0' && *p != ',') field += *p++;
    } else {
      while (*p != '\0' && *p != ',') field += *p++;
    }
    out.push_back(field);
    if (*p != ',') break;
    ++p;
  }
}

}  // namespace zdcom
