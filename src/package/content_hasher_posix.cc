// SHA-256 through OpenSSL, which uses the processor's SHA instructions.

#include <openssl/evp.h>

#include "package/package_manifest.h"

namespace ovix {

struct ContentHasher::Context {
  EVP_MD_CTX* digest = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(digest); }
};

ContentHasher::ContentHasher() : context_(std::make_unique<Context>()) {
  // Fetched once: a fetch per file would cost more than hashing a small one.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  EVP_DigestInit_ex(context_->digest, sha256, nullptr);
}

ContentHasher::~ContentHasher() = default;
ContentHasher::ContentHasher(ContentHasher&&) noexcept = default;
ContentHasher& ContentHasher::operator=(ContentHasher&&) noexcept = default;

void ContentHasher::update(const void* data, size_t size) {
  EVP_DigestUpdate(context_->digest, data, size);
}

ContentHash ContentHasher::finish() {
  ContentHash hash{};
  unsigned int size = 0;
  EVP_DigestFinal_ex(context_->digest, hash.data(), &size);
  return hash;
}

}  // namespace ovix
