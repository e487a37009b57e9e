// SecurityObject: a secret (in practice a password) encrypted with the RSA
// public key of the asset that will use it, so that it can be stored and
// shipped unreadable; only the holder of the private key recovers it.
// Object id 99. Not thread-safe: one thread uses an object at a time.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "model/translatable.h"

class MessageBase;

struct EvpPkeyFree {
  void operator()(EVP_PKEY* key) const;
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

class SecurityObject : public Translatable {
 public:
  static constexpr int kObjectId = 99;
  enum : int { kPassword = 1 };
  // The directory error of a failed decryption ("Security Object Decrypt
  // Failure"); also returned when encryption fails.
  static constexpr int kCryptFailure = 74;

  SecurityObject() = default;
  // Clears (zeroes, then frees) both the plain and the cipher bytes.
  ~SecurityObject() override;
  SecurityObject(const SecurityObject&) = delete;
  SecurityObject& operator=(const SecurityObject&) = delete;

  // kind = 1; encrypts `text` with its terminating zero byte. 0 or 74.
  [[nodiscard]] int setPassword(EVP_PKEY* publicKey, const char* text);
  // cipher = the RSA (PKCS #1 v1.5) encryptions of consecutive pieces of at
  // most RSA size - 32 bytes. A piece that fails is logged and the whole
  // encryption fails (74, cipher empty): a secret with a piece left out
  // would decrypt to something else without anyone noticing.
  [[nodiscard]] int encrypt(EVP_PKEY* publicKey, const unsigned char* bytes, size_t length);
  // plain = the decryptions of consecutive RSA-size blocks of the cipher.
  // 0; 74 (logged) when a block fails or the cipher is not whole blocks. An
  // empty cipher gives an empty plain text.
  [[nodiscard]] int decrypt(EVP_PKEY* privateKey);
  // decrypt, then the plain bytes as a text (null on failure). The pointer
  // stays valid until the next decrypt or clear.
  [[nodiscard]] const char* getPassword(EVP_PKEY* privateKey);

  // Base64 (with the TLS library's line breaks) of kind and cipher length (4
  // bytes each, native order) and the cipher bytes. A new text (free).
  [[nodiscard]] char* getAsString() const;
  // A new object from the string form, or null when it does not decode or
  // its lengths do not agree.
  [[nodiscard]] static SecurityObject* fromString(const char* text);

  // The public key in a PEM text (an asset record carries one); null when
  // the text holds none.
  [[nodiscard]] static EvpPkeyPtr publicKeyFromPem(const char* pem);
  [[nodiscard]] static EvpPkeyPtr privateKeyFromPem(const char* pem);

  // Overwrites plain and cipher with zero bytes, then frees them.
  void clear();

  [[nodiscard]] int kind() const { return kind_; }
  void setKind(int kind) { kind_ = kind; }
  [[nodiscard]] const std::vector<unsigned char>& cipher() const { return cipher_; }
  void setCipher(const unsigned char* bytes, size_t n);
  [[nodiscard]] const std::vector<unsigned char>& plain() const { return plain_; }

  int getObjectID() const override { return kObjectId; }
  // "SecurityObject(kind)": never the secret.
  char* toString(Parser* parser) override;

 private:
  static void wipe(std::vector<unsigned char>* bytes);

  int kind_ = 0;
  std::vector<unsigned char> cipher_;
  std::vector<unsigned char> plain_;
};

// Object 99: field 1 int32 kind, field 2 bytes cipher.
int SecurityObjectXlator(MessageBase* m, Translatable** object, int direction);
