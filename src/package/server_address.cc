#include "package/server_address.h"

#include <vector>

#include "package/embedded_store.h"
#include "package/mariadb_connection.h"
#include "platform/csv.h"

namespace zddb {

ConnectionTarget splitConnectionText(char const* text) {
  std::vector<std::string> fields;
  zdcom::readCsv(text, fields);
  fields.resize(3);
  return {fields[0], fields[1], fields[2]};
}

std::unique_ptr<Server> openServer(const std::string& address, const std::string& port,
                                   std::string* error) {
  if (address.empty() || port.empty()) {
    *error = "no server address or port given";
    return nullptr;
  }
  if (address.rfind(kEmbeddedStorePrefix, 0) == 0)
    return openEmbeddedStore(address.substr(sizeof kEmbeddedStorePrefix - 1), error);
  return openMariaDbServer(address, port, error);
}

}  // namespace zddb
