// One line of comma-separated values, quoted as RFC 4180 does, so that every
// list of texts survives writeCsv followed by readCsv unchanged.

#ifndef OVIX_PLATFORM_CSV_H_
#define OVIX_PLATFORM_CSV_H_

#include <string>
#include <vector>

namespace zdcom {

// Joins `fields` into one line.  A field holding a comma, a double quote, a
// line break or leading/trailing blanks is quoted, inner quotes doubled.
// The result lives in a buffer of this thread until the next call.
char const* writeCsv(const std::vector<std::string>& fields);

// Splits one line into `out` (cleared first).  A null line gives no fields;
// an empty line gives one empty field.
void readCsv(char const* line, std::vector<std::string>& out);

}  // namespace zdcom

#endif  // OVIX_PLATFORM_CSV_H_
