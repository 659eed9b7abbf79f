// Connection texts ("address,port,database" as one CSV line) and the server
// an address names.

#ifndef OVIX_PACKAGE_SERVER_ADDRESS_H_
#define OVIX_PACKAGE_SERVER_ADDRESS_H_

#include <memory>
#include <string>

#include "package/db_connection.h"

namespace zddb {

struct ConnectionTarget {
  std::string address;
  std::string port;
  std::string database;  // empty: the server itself
};

// Splits a connection text; missing fields are empty.
ConnectionTarget splitConnectionText(char const* text);

// The server at `address`:`port`: the embedded store for "file:DIR", else a
// MariaDB/MySQL server.  Null with *error when it cannot be reached or the
// address or port is empty.
std::unique_ptr<Server> openServer(const std::string& address, const std::string& port,
                                   std::string* error);

}  // namespace zddb

#endif  // OVIX_PACKAGE_SERVER_ADDRESS_H_
