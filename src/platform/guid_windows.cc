#include "platform/guid.h"

#include <objbase.h>

#include <cstdlib>

namespace ovix {

// A GUID's text shows Data1, Data2 and Data3 as numbers, most significant
// byte first, whatever the byte order they have in memory; Data4 as bytes.
void newGuidBytes(unsigned char out[16]) {
  GUID guid;
  // CoCreateGuid only fails when the system has no random source left;
  // a made-up GUID could collide with a real one, so stop instead.
  if (FAILED(CoCreateGuid(&guid))) std::abort();
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(guid.Data1 >> (24 - 8 * i));
  out[4] = static_cast<unsigned char>(guid.Data2 >> 8);
  out[5] = static_cast<unsigned char>(guid.Data2);
  out[6] = static_cast<unsigned char>(guid.Data3 >> 8);
  out[7] = static_cast<unsigned char>(guid.Data3);
  for (int i = 0; i < 8; ++i) out[8 + i] = guid.Data4[i];
}

}  // namespace ovix
