// Fresh GUIDs from the operating system's generator.

#ifndef OVIX_PLATFORM_GUID_H_
#define OVIX_PLATFORM_GUID_H_

namespace ovix {

// Fills `out` with a new GUID, its 16 bytes in the order its text shows
// them ("{00112233-4455-...}" gives 0x00, 0x11, ...).
void newGuidBytes(unsigned char out[16]);

}  // namespace ovix

#endif  // OVIX_PLATFORM_GUID_H_
