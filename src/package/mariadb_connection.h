// The MariaDB/MySQL engine of the object database, over MariaDB Connector/C.
//
// Every value travels as a bound parameter of a server-side prepared
// statement (binary protocol); large blobs are streamed in both directions
// so that neither side of the client holds them whole:
//   - a BlobSource is sent with mysql_stmt_send_long_data in 1 MiB chunks;
//   - Connection::readBlob reads the stored value in 4 MiB slices.
//
// Result rows are fetched from the server one at a time (nothing is stored
// client-side) while a statement is the only user of its connection.  When
// anything else needs the connection before the rows are all read (another
// statement, a transaction command, a blob read), the remaining rows of the
// running statement are first read into memory, so interleaving works and
// costs memory only when it happens.
//
// Account, password and TLS settings are never passed from code: they come
// from MySQL option files, groups [client] and [ovixpatch], read from the
// file named by the environment variable OVIX_MYSQL_CNF when it is set and
// from the standard option files otherwise.
//
// The server certificate is always verified (CA from ssl-ca/ssl-capath of
// the option file, host name or IP address against the certificate).  With
// Connector/C 3.3 this also makes TLS mandatory: a server without TLS is
// refused unless the option file says ssl-verify-server-cert=0, which then
// allows an unencrypted, unverified connection.

#ifndef OVIX_PACKAGE_MARIADB_CONNECTION_H_
#define OVIX_PACKAGE_MARIADB_CONNECTION_H_

#include <memory>
#include <string>

#include "package/db_connection.h"

namespace zddb {

// A MariaDB/MySQL server at `host`:`port`.  `port` must be a decimal number
// from 1 to 65535.  Returns null and sets *error (never containing the
// password) when the port text is invalid, the option file named by
// OVIX_MYSQL_CNF cannot be read, the server cannot be reached or the login
// fails.
std::unique_ptr<Server> openMariaDbServer(const std::string& host, const std::string& port,
                                          std::string* error);

}  // namespace zddb

#endif  // OVIX_PACKAGE_MARIADB_CONNECTION_H_
