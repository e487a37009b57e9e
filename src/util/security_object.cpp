#include "util/security_object.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>

#include "foundation/log.h"
#include "wire/message_base.h"

void EvpPkeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

namespace {

struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;
struct BioFree {
  void operator()(BIO* b) const { BIO_free_all(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::string lastSslError() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "unknown error";
  const char* reason = ERR_reason_error_string(e);
  return reason != nullptr ? reason : "unknown error";
}

}  // namespace

SecurityObject::~SecurityObject() { clear(); }

void SecurityObject::wipe(std::vector<unsigned char>* bytes) {
  if (!bytes->empty()) OPENSSL_cleanse(bytes->data(), bytes->size());
  bytes->clear();
  bytes->shrink_to_fit();
}

void SecurityObject::clear() {
  wipe(&plain_);
  wipe(&cipher_);
}

void SecurityObject::setCipher(const unsigned char* bytes, size_t n) {
  wipe(&cipher_);
  if (n > 0) cipher_.assign(bytes, bytes + n);
}

int SecurityObject::setPassword(EVP_PKEY* publicKey, const char* text) {
  kind_ = kPassword;
  if (text == nullptr) text = "";
  return encrypt(publicKey, reinterpret_cast<const unsigned char*>(text), strlen(text) + 1);
}

int SecurityObject::encrypt(EVP_PKEY* publicKey, const unsigned char* bytes, size_t length) {
  wipe(&cipher_);
  if (publicKey == nullptr) {
    log(0, "Warning: SecurityObject::crypt failed, result = %d, %s", -1, "no key");
    return kCryptFailure;
  }
  int size = EVP_PKEY_get_size(publicKey);
  CtxPtr ctx(EVP_PKEY_CTX_new(publicKey, nullptr));
  if (size <= 32 || !ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
    log(0, "Warning: SecurityObject::crypt failed, result = %d, %s", -1, lastSslError().c_str());
    return kCryptFailure;
  }
  size_t piece = static_cast<size_t>(size - 32);
  std::vector<unsigned char> out;
  out.reserve((length / piece + 1) * static_cast<size_t>(size));
  for (size_t at = 0; at < length; at += piece) {
    size_t n = std::min(piece, length - at);
    size_t outLen = static_cast<size_t>(size);
    out.resize(out.size() + outLen);
    unsigned char* dst = out.data() + out.size() - outLen;
    int rc = EVP_PKEY_encrypt(ctx.get(), dst, &outLen, bytes + at, n);
    if (rc <= 0 || outLen != static_cast<size_t>(size)) {
      log(0, "Warning: SecurityObject::crypt failed, result = %d, %s", rc, lastSslError().c_str());
      return kCryptFailure;
    }
  }
  cipher_ = std::move(out);
  return 0;
}

int SecurityObject::decrypt(EVP_PKEY* privateKey) {
  wipe(&plain_);
  if (cipher_.empty()) return 0;
  int size = privateKey != nullptr ? EVP_PKEY_get_size(privateKey) : 0;
  CtxPtr ctx(privateKey != nullptr ? EVP_PKEY_CTX_new(privateKey, nullptr) : nullptr);
  if (size <= 0 || !ctx || cipher_.size() % static_cast<size_t>(size) != 0 ||
      EVP_PKEY_decrypt_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
    ERR_clear_error();
    log(0, "Warning: SecurityObject::decrypt failed");
    return kCryptFailure;
  }
  std::vector<unsigned char> out;
  std::vector<unsigned char> block(static_cast<size_t>(size));
  for (size_t at = 0; at < cipher_.size(); at += static_cast<size_t>(size)) {
    size_t outLen = block.size();
    if (EVP_PKEY_decrypt(ctx.get(), block.data(), &outLen, cipher_.data() + at, static_cast<size_t>(size)) <= 0) {
      ERR_clear_error();
      OPENSSL_cleanse(block.data(), block.size());
      wipe(&out);
      log(0, "Warning: SecurityObject::decrypt failed");
      return kCryptFailure;
    }
    out.insert(out.end(), block.begin(), block.begin() + static_cast<long>(outLen));
  }
  OPENSSL_cleanse(block.data(), block.size());
  plain_ = std::move(out);
  return 0;
}

const char* SecurityObject::getPassword(EVP_PKEY* privateKey) {
  if (decrypt(privateKey) != 0) return nullptr;
  // The text was encrypted with its zero byte; make sure one is there.
  if (plain_.empty() || plain_.back() != 0) plain_.push_back(0);
  return reinterpret_cast<const char*>(plain_.data());
}

char* SecurityObject::getAsString() const {
  std::vector<unsigned char> raw(8 + cipher_.size());
  int32_t kind = kind_;
  int32_t len = static_cast<int32_t>(cipher_.size());
  memcpy(raw.data(), &kind, 4);
  memcpy(raw.data() + 4, &len, 4);
  if (!cipher_.empty()) memcpy(raw.data() + 8, cipher_.data(), cipher_.size());
  BioPtr b64(BIO_new(BIO_f_base64()));
  BIO* mem = BIO_new(BIO_s_mem());
  if (!b64 || mem == nullptr) {
    BIO_free(mem);
    return nullptr;
  }
  BIO_push(b64.get(), mem);
  if (BIO_write(b64.get(), raw.data(), static_cast<int>(raw.size())) != static_cast<int>(raw.size()) ||
      BIO_flush(b64.get()) != 1) {
    return nullptr;
  }
  BUF_MEM* buf = nullptr;
  BIO_get_mem_ptr(mem, &buf);
  char* text = static_cast<char*>(malloc(buf->length + 1));
  if (text == nullptr) return nullptr;
  memcpy(text, buf->data, buf->length);
  text[buf->length] = 0;
  return text;
}

SecurityObject* SecurityObject::fromString(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = strlen(text);
  BioPtr b64(BIO_new(BIO_f_base64()));
  BIO* mem = BIO_new_mem_buf(text, static_cast<int>(n));
  if (!b64 || mem == nullptr) {
    BIO_free(mem);
    return nullptr;
  }
  BIO_push(b64.get(), mem);
  std::vector<unsigned char> raw(n);  // base64 decodes to fewer bytes
  int got = 0;
  for (;;) {
    int r = BIO_read(b64.get(), raw.data() + got, static_cast<int>(raw.size()) - got);
    if (r <= 0) break;
    got += r;
  }
  if (got < 8) return nullptr;
  int32_t kind, len;
  memcpy(&kind, raw.data(), 4);
  memcpy(&len, raw.data() + 4, 4);
  if (len < 0 || static_cast<size_t>(len) != static_cast<size_t>(got) - 8) return nullptr;
  auto* obj = new SecurityObject();
  obj->kind_ = kind;
  obj->setCipher(raw.data() + 8, static_cast<size_t>(len));
  OPENSSL_cleanse(raw.data(), raw.size());
  return obj;
}

EvpPkeyPtr SecurityObject::publicKeyFromPem(const char* pem) {
  if (pem == nullptr) return nullptr;
  BioPtr bio(BIO_new_mem_buf(pem, -1));
  if (!bio) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
  if (key == nullptr) {
    // A certificate carries the key too.
    BioPtr again(BIO_new_mem_buf(pem, -1));
    X509* cert = again ? PEM_read_bio_X509(again.get(), nullptr, nullptr, nullptr) : nullptr;
    if (cert != nullptr) {
      key = X509_get_pubkey(cert);
      X509_free(cert);
    }
  }
  ERR_clear_error();
  return EvpPkeyPtr(key);
}

EvpPkeyPtr SecurityObject::privateKeyFromPem(const char* pem) {
  if (pem == nullptr) return nullptr;
  BioPtr bio(BIO_new_mem_buf(pem, -1));
  if (!bio) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
  ERR_clear_error();
  return EvpPkeyPtr(key);
}

char* SecurityObject::toString(Parser*) {
  char buf[48];
  snprintf(buf, sizeof buf, "SecurityObject(%d)", kind_);
  return strdup(buf);
}

int SecurityObjectXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* so = static_cast<const SecurityObject*>(*object);
    m->writeInt32Field(1, so->kind());
    m->writeBytesField(2, so->cipher().size(), reinterpret_cast<const char*>(so->cipher().data()));
    return m->getError() == 0 ? 0 : -1;
  }
  int kind;
  size_t n = 0;
  char* bytes = nullptr;
  if (m->readInt32Field(1, kind) != 0 || m->readBytesField(2, n, bytes) != 0) return -1;
  auto* so = new SecurityObject();
  so->setKind(kind);
  so->setCipher(reinterpret_cast<const unsigned char*>(bytes), n);
  if (bytes != nullptr) OPENSSL_cleanse(bytes, n);
  MessageBase::freeBytes(bytes);
  *object = so;
  return 0;
}
