#include "platform/guid.h"

#include <uuid/uuid.h>

namespace ovix {

// libuuid's bytes are already in text order.
void newGuidBytes(unsigned char out[16]) { uuid_generate(out); }

}  // namespace ovix
