// The embedded store: a directory that plays the version server, each of
// its databases a SQLite file DIR/NAME.sqlite.  A missing directory is an
// unreachable server.

#ifndef OVIX_PACKAGE_EMBEDDED_STORE_H_
#define OVIX_PACKAGE_EMBEDDED_STORE_H_

#include <memory>
#include <string>

#include "package/db_connection.h"

namespace zddb {

// Prefix of an address that names an embedded store.
inline constexpr char kEmbeddedStorePrefix[] = "file:";

// The store in `directory`; null with *error when it is not a directory.
std::unique_ptr<Server> openEmbeddedStore(const std::string& directory, std::string* error);

}  // namespace zddb

#endif  // OVIX_PACKAGE_EMBEDDED_STORE_H_
