// SHA-256 through the system's cryptography API (CNG), which uses the
// processor's SHA instructions where it has them.

#include <windows.h>
#include <bcrypt.h>

#include "package/package_manifest.h"

namespace ovix {
namespace {

// Opened once for the process: an open per file would cost more than
// hashing a small one.
BCRYPT_ALG_HANDLE sha256Provider() {
  static BCRYPT_ALG_HANDLE const provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
      handle = nullptr;
    return handle;
  }();
  return provider;
}

}  // namespace

struct ContentHasher::Context {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~Context() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
};

ContentHasher::ContentHasher() : context_(std::make_unique<Context>()) {
  if (BCRYPT_ALG_HANDLE provider = sha256Provider())
    BCryptCreateHash(provider, &context_->hash, nullptr, 0, nullptr, 0, 0);
}

ContentHasher::~ContentHasher() = default;
ContentHasher::ContentHasher(ContentHasher&&) noexcept = default;
ContentHasher& ContentHasher::operator=(ContentHasher&&) noexcept = default;

void ContentHasher::update(const void* data, size_t size) {
  // BCryptHashData takes at most 4 GiB - 1 per call.
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0 && context_->hash != nullptr) {
    ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    BCryptHashData(context_->hash, const_cast<PUCHAR>(bytes), piece, 0);
    bytes += piece;
    size -= piece;
  }
}

// A hasher whose provider could not be opened gives all zero bytes, which
// no signed manifest holds, so the check that uses it fails closed.
ContentHash ContentHasher::finish() {
  ContentHash hash{};
  if (context_->hash != nullptr)
    BCryptFinishHash(context_->hash, hash.data(), static_cast<ULONG>(hash.size()), 0);
  return hash;
}

}  // namespace ovix
