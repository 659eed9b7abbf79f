#include "platform/minisign.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace ovix::minisign {
namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
constexpr size_t kPublicKeyBytes = 2 + 8 + 32;
constexpr size_t kSignatureBytes = 2 + 8 + 64;
// Algorithm, KDF and checksum names, salt, two limits, then the encrypted
// key number, secret key and checksum.
constexpr size_t kSaltOffset = 6;
constexpr size_t kOpsOffset = kSaltOffset + 32;
constexpr size_t kMemOffset = kOpsOffset + 8;
constexpr size_t kKeynumOffset = kMemOffset + 8;
constexpr size_t kSecretPartBytes = 8 + 64 + 32;
constexpr size_t kSecretKeyBytes = kKeynumOffset + kSecretPartBytes;
// A key file asks for the cost of its key derivation; one asking for more
// than this is refused rather than allowed to exhaust the machine.
constexpr uint64_t kMaxKdfMemory = 1ull << 30;
constexpr uint64_t kMaxKdfOps = 1ull << 34;

bool ready() { return sodium_init() >= 0; }

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Decodes the base64 line `line` into exactly `size` bytes.
bool decode(std::string_view line, size_t size, std::vector<unsigned char>* out) {
  out->assign(size + 1, 0);  // one more shows a line that decodes longer
  size_t length = 0;
  if (sodium_base642bin(out->data(), out->size(), line.data(), line.size(), nullptr, &length,
                        nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != size)
    return false;
  out->resize(size);
  return true;
}

std::string encode(const unsigned char* bytes, size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(std::strlen(text.c_str()));
  return text;
}

uint64_t littleEndian64(const unsigned char* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The first line that is not a comment: the key or signature line.
std::string_view dataLine(std::string_view text) {
  for (std::string_view line : linesOf(text)) {
    if (!line.empty() && !startsWith(line, kUntrustedPrefix)) return line;
  }
  return {};
}

bool fail(std::string* error, const char* why) {
  if (error != nullptr) *error = why;
  return false;
}

}  // namespace

SecretKey::~SecretKey() { sodium_memzero(key.data(), key.size()); }

std::string keyIdText(const KeyId& id) {
  std::string text;
  char digits[3];
  for (size_t i = id.size(); i-- > 0;) {
    std::snprintf(digits, sizeof digits, "%02X", id[i]);
    text += digits;
  }
  return text;
}

PublicKey publicKeyOf(const SecretKey& key) {
  // An Ed25519 secret key is its seed followed by its public key.
  PublicKey pub;
  pub.id = key.id;
  std::memcpy(pub.key.data(), key.key.data() + 32, pub.key.size());
  return pub;
}

std::string publicKeyText(const PublicKey& key) {
  std::array<unsigned char, kPublicKeyBytes> bytes;
  std::memcpy(bytes.data(), "Ed", 2);
  std::memcpy(&bytes[2], key.id.data(), key.id.size());
  std::memcpy(&bytes[10], key.key.data(), key.key.size());
  return std::string(kUntrustedPrefix) + "minisign public key " + keyIdText(key.id) + "\n" +
         encode(bytes.data(), bytes.size()) + "\n";
}

bool parsePublicKey(std::string_view text, PublicKey* key, std::string* error) {
  std::vector<unsigned char> bytes;
  if (!ready()) return fail(error, "the crypto library cannot start");
  if (!decode(dataLine(text), kPublicKeyBytes, &bytes) || bytes[0] != 'E' || bytes[1] != 'd')
    return fail(error, "not a minisign Ed25519 public key");
  std::memcpy(key->id.data(), &bytes[2], key->id.size());
  std::memcpy(key->key.data(), &bytes[10], key->key.size());
  return true;
}

bool secretKeyIsEncrypted(std::string_view text) {
  std::vector<unsigned char> bytes;
  const bool encrypted = ready() && decode(dataLine(text), kSecretKeyBytes, &bytes) &&
                         std::memcmp(&bytes[2], "Sc", 2) == 0;
  sodium_memzero(bytes.data(), bytes.size());
  return encrypted;
}

bool parseSecretKey(std::string_view text, std::string_view password, SecretKey* key,
                    std::string* error) {
  std::vector<unsigned char> bytes;
  if (!ready()) return fail(error, "the crypto library cannot start");
  if (!decode(dataLine(text), kSecretKeyBytes, &bytes) || std::memcmp(bytes.data(), "Ed", 2) != 0 ||
      std::memcmp(&bytes[4], "B2", 2) != 0)
    return fail(error, "not a minisign Ed25519 secret key");
  unsigned char* part = &bytes[kKeynumOffset];
  const bool encrypted = std::memcmp(&bytes[2], "Sc", 2) == 0;
  if (encrypted) {
    const uint64_t ops = littleEndian64(&bytes[kOpsOffset]);
    const uint64_t mem = littleEndian64(&bytes[kMemOffset]);
    if (ops > kMaxKdfOps || mem > kMaxKdfMemory)
      return fail(error, "the secret key asks for an unreasonable key derivation");
    std::array<unsigned char, kSecretPartBytes> stream;
    if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(),
                                           password.size(), &bytes[kSaltOffset], ops,
                                           static_cast<size_t>(mem)) != 0)
      return fail(error, "the secret key's password cannot be applied (out of memory)");
    for (size_t i = 0; i < stream.size(); ++i) part[i] ^= stream[i];
    sodium_memzero(stream.data(), stream.size());
  } else if (bytes[2] != 0 || bytes[3] != 0) {
    return fail(error, "the secret key is protected in an unknown way");
  }
  // The checksum covers the algorithm, the key number and the key: a wrong
  // password gives other bytes and a mismatch.  A key written without a
  // password may carry no checksum; the key's second half, its public key,
  // must then still be the one its first half (the seed) gives.
  std::array<unsigned char, 32> sum;
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, sum.size());
  crypto_generichash_update(&state, bytes.data(), 2);
  crypto_generichash_update(&state, part, 8 + 64);
  crypto_generichash_final(&state, sum.data(), sum.size());
  const unsigned char* stored = part + 8 + 64;
  const bool noChecksum = !encrypted && sodium_is_zero(stored, sum.size());
  std::array<unsigned char, 32> derivedPublic;
  std::array<unsigned char, 64> derivedSecret;
  crypto_sign_seed_keypair(derivedPublic.data(), derivedSecret.data(), part + 8);
  sodium_memzero(derivedSecret.data(), derivedSecret.size());
  const bool matches = (noChecksum || sodium_memcmp(sum.data(), stored, sum.size()) == 0) &&
                       sodium_memcmp(derivedPublic.data(), part + 8 + 32, 32) == 0;
  if (matches) {
    std::memcpy(key->id.data(), part, key->id.size());
    std::memcpy(key->key.data(), part + 8, key->key.size());
  }
  sodium_memzero(bytes.data(), bytes.size());
  if (!matches) {
    sodium_memzero(key->key.data(), key->key.size());
    return fail(error, "wrong password for the secret key, or a damaged key file");
  }
  return true;
}

std::string sign(const SecretKey& key, std::string_view message, std::string_view trustedComment,
                 std::string_view untrustedComment) {
  if (!ready()) return {};
  std::array<unsigned char, crypto_generichash_BYTES_MAX> hash;
  crypto_generichash(hash.data(), hash.size(),
                     reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                     nullptr, 0);
  std::array<unsigned char, kSignatureBytes> signature;
  std::memcpy(signature.data(), "ED", 2);
  std::memcpy(&signature[2], key.id.data(), key.id.size());
  crypto_sign_detached(&signature[10], nullptr, hash.data(), hash.size(), key.key.data());
  // The global signature binds the trusted comment to the signature.
  std::string bound(reinterpret_cast<const char*>(&signature[10]), 64);
  bound += trustedComment;
  std::array<unsigned char, 64> global;
  crypto_sign_detached(global.data(), nullptr, reinterpret_cast<const unsigned char*>(bound.data()),
                       bound.size(), key.key.data());
  return std::string(kUntrustedPrefix) + std::string(untrustedComment) + "\n" +
         encode(signature.data(), signature.size()) + "\n" + kTrustedPrefix +
         std::string(trustedComment) + "\n" + encode(global.data(), global.size()) + "\n";
}

bool signatureKeyId(std::string_view signature, KeyId* id) {
  std::vector<std::string_view> lines = linesOf(signature);
  std::vector<unsigned char> bytes;
  if (lines.size() < 2 || !decode(lines[1], kSignatureBytes, &bytes)) return false;
  std::memcpy(id->data(), &bytes[2], id->size());
  return true;
}

bool verify(const PublicKey& key, std::string_view message, std::string_view signature,
            std::string* trustedComment, std::string* error) {
  if (!ready()) return fail(error, "the crypto library cannot start");
  std::vector<std::string_view> lines = linesOf(signature);
  std::vector<unsigned char> sig;
  std::vector<unsigned char> global;
  if (lines.size() < 4 || !startsWith(lines[0], "untrusted comment:") ||
      !decode(lines[1], kSignatureBytes, &sig) || !startsWith(lines[2], kTrustedPrefix) ||
      !decode(lines[3], 64, &global))
    return fail(error, "not a minisign signature");
  if (std::memcmp(&sig[2], key.id.data(), key.id.size()) != 0)
    return fail(error, "signed by another key");
  const bool prehashed = sig[0] == 'E' && sig[1] == 'D';
  if (!prehashed && !(sig[0] == 'E' && sig[1] == 'd'))
    return fail(error, "signed with an unknown algorithm");
  std::array<unsigned char, crypto_generichash_BYTES_MAX> hash;
  const unsigned char* signedBytes = reinterpret_cast<const unsigned char*>(message.data());
  size_t signedSize = message.size();
  if (prehashed) {
    crypto_generichash(hash.data(), hash.size(), signedBytes, signedSize, nullptr, 0);
    signedBytes = hash.data();
    signedSize = hash.size();
  }
  if (crypto_sign_verify_detached(&sig[10], signedBytes, signedSize, key.key.data()) != 0)
    return fail(error, "the signature does not match the signed text");
  const std::string_view trusted = lines[2].substr(std::strlen(kTrustedPrefix));
  std::string bound(reinterpret_cast<const char*>(&sig[10]), 64);
  bound += trusted;
  if (crypto_sign_verify_detached(global.data(), reinterpret_cast<const unsigned char*>(bound.data()),
                                  bound.size(), key.key.data()) != 0)
    return fail(error, "the trusted comment was changed after signing");
  if (trustedComment != nullptr) *trustedComment = std::string(trusted);
  return true;
}

}  // namespace ovix::minisign
