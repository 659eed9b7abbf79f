// Naming the version server's databases: the connection list and text, the
// text's form in messages, and opening the patch store and the general
// database, with the administrator check.

#ifndef OVIX_PACKAGE_SERVER_CONNECTION_H_
#define OVIX_PACKAGE_SERVER_CONNECTION_H_

#include <string>
#include <vector>

#include "package/database.h"

namespace ovix {

// The server's two databases of the suite.
inline constexpr char kPatchStoreName[] = "ovixinstallpatch";
inline constexpr char kGeneralDbName[] = "ovixgeneral";

// The environment variable whose value (up to kMaxDatabasePrefix letters,
// digits and underscores) goes before the names of the suite's fixed
// databases, so that one server can hold several independent sets of them
// (a trial set beside the production one, or one per test).
inline constexpr char kDatabasePrefixVariable[] = "OVIX_DATABASE_PREFIX";
inline constexpr size_t kMaxDatabasePrefix = 32;

// The server-side name of one of the suite's fixed databases: `name` after
// the prefix of kDatabasePrefixVariable, when that is set and valid.
std::string serverDatabaseName(const char* name);

// Appends address, port and database name (empty for null) to `list` and
// returns true; returns false and leaves `list` alone when the address or
// the port is null or empty.
bool makeServerParams(std::vector<std::string>& list, char const* address, char const* port,
                      char const* database);

// The connection text of a list: its fields as one CSV line.
std::string connectionText(const std::vector<std::string>& list);

// A connection text as messages show it: always three fields.
std::string connectionMessageForm(const std::string& text);

// Opens the patch store of the server in `list` (address, port, empty
// database), creating it when the server lacks it.  Null when the server
// cannot be reached, the store cannot be created (reported) or opened.
// Every failure leaves the reason the server or client gave as a note.
ZdDbDataBase* openOrCreatePatchStore(const std::vector<std::string>& list);

// Opens the existing patch store of `address`:`port`; null, with
// "版本补丁数据库不存在:%s" and the reason as a note, when it is missing or
// the server unreachable.
ZdDbDataBase* openPatchStore(char const* address, char const* port);

// Opens the database `database` of the server `address`:`port` with the
// project database type, flag 16 and `mode` (1 to write).  Null, without a
// message, when the address or port is empty, the server cannot be reached
// or it has no such database; *error (when given) then says why.
ZdDbDataBase* openServerDatabase(char const* address, char const* port,
                                 const std::string& database, int mode,
                                 std::string* error = nullptr);

// True only when the user table of the general database holds `password`
// (compared byte for byte) for `user`.  Shows the cannot-connect message,
// followed by the reason as a note, when the general database cannot be
// opened.
bool checkAdministrator(char const* address, char const* port, char const* user,
                        char const* password);

}  // namespace ovix

#endif  // OVIX_PACKAGE_SERVER_CONNECTION_H_
