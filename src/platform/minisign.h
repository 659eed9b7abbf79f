// Ed25519 signatures in the file formats of the `minisign` tool, so that a
// signature made here verifies with `minisign -V` and one made by
// `minisign -S` verifies here.  Keys are made with `minisign -G`.

#ifndef OVIX_PLATFORM_MINISIGN_H_
#define OVIX_PLATFORM_MINISIGN_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ovix::minisign {

using KeyId = std::array<unsigned char, 8>;

struct PublicKey {
  KeyId id{};
  std::array<unsigned char, 32> key{};
};

struct SecretKey {
  KeyId id{};
  std::array<unsigned char, 64> key{};
  ~SecretKey();  // wipes the key
};

// The key id as minisign prints it: 16 upper-case hex digits.
std::string keyIdText(const KeyId& id);

// Reads a public key from the text of a `.pub` file (a comment line and
// the key line) or from the key line alone.  False, with *error saying why,
// when the text holds no Ed25519 public key.
bool parsePublicKey(std::string_view text, PublicKey* key, std::string* error);

// The public half of `key`.
PublicKey publicKeyOf(const SecretKey& key);

// The text of a `.pub` file for `key`, as minisign -G writes it.
std::string publicKeyText(const PublicKey& key);

// True when the key file text `text` (of minisign -G) is protected by a
// password; false for a key made with -W and for text that is no key.
bool secretKeyIsEncrypted(std::string_view text);

// Reads the secret key from the text of a key file that `minisign -G`
// wrote, decrypting it with `password` (ignored for a key made with -W).
// False, with *error saying why, for a wrong password or a damaged file;
// *key is then wiped.
bool parseSecretKey(std::string_view text, std::string_view password, SecretKey* key,
                    std::string* error);

// The text of a `.minisig` file for `message` (signed pre-hashed, as
// minisign does by default), carrying `trustedComment` (one line, signed
// too) and `untrustedComment` (one line, not signed).
std::string sign(const SecretKey& key, std::string_view message, std::string_view trustedComment,
                 std::string_view untrustedComment);

// True when `signature` (the text of a `.minisig` file) is a signature of
// `message` by `key`, including its trusted comment, which is then in
// *trustedComment.  False, with *error saying why, otherwise.
bool verify(const PublicKey& key, std::string_view message, std::string_view signature,
            std::string* trustedComment, std::string* error);

// The key id a signature names, without checking it; false when the text
// is not a signature.
bool signatureKeyId(std::string_view signature, KeyId* id);

}  // namespace ovix::minisign

#endif  // OVIX_PLATFORM_MINISIGN_H_
