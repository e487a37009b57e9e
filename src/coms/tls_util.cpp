#include "coms/tls_util.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "foundation/log.h"

namespace {

// The peer's certificate is never refused during the handshake: the
// directory checks it against the key on file afterwards, and a login
// request arrives with a throw-away certificate that nothing could verify.
int acceptEveryCertificate(int, X509_STORE_CTX*) { return 1; }

void applyCommonChoices(SSL_CTX* ctx) {
  // OpenSSL 3 speaks neither SSLv3 nor, at its default security level, TLS
  // 1.0 or 1.1: the floor stays at the library's TLS 1.2, the ceiling is the
  // highest version the peers of this protocol know.
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_clear_options(ctx, SSL_OP_NO_SSLv3);
  // A peer may not renegotiate (a way to make us spend CPU at will), and a
  // TCP end without close_notify reads as an ordinary end of stream.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_clear_mode(ctx, SSL_MODE_AUTO_RETRY);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, acceptEveryCertificate);
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

std::string nameText(X509_NAME* name) {
  if (name == nullptr) return "";
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return "";
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  std::string s = bioText(bio);
  BIO_free(bio);
  return s;
}

void infoCallback(const SSL* ssl, int where, int ret) {
  const char* name = static_cast<const char*>(SSL_get_app_data(ssl));
  if (name == nullptr) name = "?";
  if (where & SSL_CB_ALERT) {
    log(_debug_coms, LOG_INFO, 0, 0, "%s: SSL alert %s:%s:%s", name, (where & SSL_CB_READ) ? "read" : "write",
        SSL_alert_type_string_long(ret), SSL_alert_desc_string_long(ret));
    return;
  }
  if (_debug_coms > LOG_DEBUG) return;
  if (where & SSL_CB_HANDSHAKE_START) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: SSL handshake start", name);
  } else if (where & SSL_CB_HANDSHAKE_DONE) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: SSL handshake done: %s, %s", name, SSL_get_version(ssl),
        SSL_get_cipher_name(ssl));
  } else if (where & SSL_CB_LOOP) {
    log(_debug_coms, LOG_TRACE, 0, 0, "%s: SSL state %s", name, SSL_state_string_long(ssl));
  } else if (where & SSL_CB_EXIT) {
    if (ret == 0) log(_debug_coms, LOG_DEBUG, 0, 0, "%s: SSL failed in %s", name, SSL_state_string_long(ssl));
  }
}

void messageCallback(int writeP, int version, int contentType, const void*, size_t len, SSL* ssl, void*) {
  if (_debug_coms > LOG_TRACE) return;
  // Record headers (content type 256) say nothing the record itself does not.
  if (contentType == SSL3_RT_HEADER) return;
  const char* name = static_cast<const char*>(SSL_get_app_data(ssl));
  log(_debug_coms, LOG_TRACE, 0, 0, "%s: SSL %s version 0x%x, content type %d, %zu bytes", name ? name : "?",
      writeP ? "sent" : "received", version, contentType, len);
}

std::mutex anonymousMutex;
X509* anonymousCert = nullptr;  // guarded by anonymousMutex; kept for the process
EVP_PKEY* anonymousKey = nullptr;

}  // namespace

void comsLibraryInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The coms threads never stop: OpenSSL must not free its state at exit
    // under a thread that may still be using it.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
  });
}

SSL_CTX* comsClientContext() {
  comsLibraryInit();
  static SSL_CTX* shared = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx != nullptr) applyCommonChoices(ctx);
    return ctx;
  }();
  if (shared == nullptr) return nullptr;
  SSL_CTX_up_ref(shared);
  return shared;
}

void comsMakeBlocking(SSL_CTX* ctx) {
  SSL_CTX_clear_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE);
  SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
}

SSL_CTX* comsStreamClientContext() {
  comsLibraryInit();
  static SSL_CTX* shared = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx != nullptr) {
      applyCommonChoices(ctx);
      comsMakeBlocking(ctx);
    }
    return ctx;
  }();
  if (shared == nullptr) return nullptr;
  SSL_CTX_up_ref(shared);
  return shared;
}

SSL_CTX* comsServerContext(X509* certificate, EVP_PKEY* key, std::string* error) {
  comsLibraryInit();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    *error = "Cannot create a TLS context: " + comsSslErrors();
    return nullptr;
  }
  applyCommonChoices(ctx);
  if (certificate == nullptr || SSL_CTX_use_certificate(ctx, certificate) != 1) {
    *error = "Cannot use certificate: " + comsSslErrors();
  } else if (key == nullptr || SSL_CTX_use_PrivateKey(ctx, key) != 1) {
    *error = "Cannot use private key: " + comsSslErrors();
  } else if (SSL_CTX_check_private_key(ctx) != 1) {
    (void)comsSslErrors();
    *error = "Private key does not match the certificate public key";
  } else {
    return ctx;
  }
  SSL_CTX_free(ctx);
  return nullptr;
}

int comsMakeSelfSigned(const char* organisation, const char* commonName, int bits, long validSeconds,
                       X509** certificate, EVP_PKEY** key, std::string* error) {
  comsLibraryInit();
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(nullptr, EVP_PKEY_free);
  {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> kctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr),
                                                                     EVP_PKEY_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> e(BN_new(), BN_free);
    EVP_PKEY* made = nullptr;
    if (!kctx || !e || BN_set_word(e.get(), RSA_F4) != 1) {
      *error = "Unable to generate big number for keys";
      return -1;
    }
    if (EVP_PKEY_keygen_init(kctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_keygen_bits(kctx.get(), bits) <= 0 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(kctx.get(), e.get()) <= 0 || EVP_PKEY_keygen(kctx.get(), &made) <= 0) {
      *error = "Unable to generate big number for keys: " + comsSslErrors();
      return -2;
    }
    pkey.reset(made);
  }
  std::unique_ptr<X509, decltype(&X509_free)> x509(X509_new(), X509_free);
  if (!x509 || X509_set_version(x509.get(), 2) != 1 ||
      ASN1_INTEGER_set_int64(X509_get_serialNumber(x509.get()), static_cast<int64_t>(std::time(nullptr))) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(x509.get()), validSeconds) == nullptr ||
      X509_set_pubkey(x509.get(), pkey.get()) != 1) {
    *error = "Unable to generate certificate for anonymous connection: " + comsSslErrors();
    return -3;
  }
  X509_NAME* name = X509_get_subject_name(x509.get());
  if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(organisation), -1,
                                 -1, 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1,
                                 -1, 0) != 1 ||
      X509_set_issuer_name(x509.get(), name) != 1) {
    *error = "unable to assign a certificate name: " + comsSslErrors();
    return -4;
  }
  if (X509_sign(x509.get(), pkey.get(), EVP_sha256()) <= 0) {
    *error = "Unable to generate certificate for anonymous connection: " + comsSslErrors();
    return -5;
  }
  *certificate = x509.release();
  *key = pkey.release();
  return 0;
}

bool comsAnonymousPairReady() {
  std::lock_guard<std::mutex> guard(anonymousMutex);
  return anonymousCert != nullptr;
}

int comsAnonymousPair(X509** certificate, EVP_PKEY** key) {
  comsLibraryInit();
  std::lock_guard<std::mutex> guard(anonymousMutex);
  if (anonymousCert == nullptr) {
    // 2048 bits: OpenSSL 3 refuses shorter RSA keys at its default security
    // level. The peer accepts any certificate, so nothing it relies on
    // changes; the pair is made once because a 2048-bit key takes a while.
    std::string error;
    X509* cert = nullptr;
    EVP_PKEY* pkey = nullptr;
    int rc = comsMakeSelfSigned("VeskSoftware", "LoginRequest", 2048, 315360000L, &cert, &pkey, &error);
    if (rc != 0) {
      if (rc == -4) {
        log(_debug_coms, LOG_ERROR, 0, 0, "%s: LoginRequest was unable to assign a certificate name", "anonymous");
      } else {
        log(_debug_coms, LOG_ERROR, 0, 0, "%s", error.c_str());
      }
      return -6;
    }
    anonymousCert = cert;
    anonymousKey = pkey;
  }
  X509_up_ref(anonymousCert);
  EVP_PKEY_up_ref(anonymousKey);
  *certificate = anonymousCert;
  *key = anonymousKey;
  return 0;
}

X509* comsReadCertificate(const char* path, std::string* error) {
  comsLibraryInit();
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) {
    *error = std::string("cannot open ") + path;
    return nullptr;
  }
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (cert == nullptr) *error = std::string("no certificate in ") + path + ": " + comsSslErrors();
  return cert;
}

EVP_PKEY* comsReadPrivateKey(const char* path, std::string* error) {
  comsLibraryInit();
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) {
    *error = std::string("cannot open ") + path;
    return nullptr;
  }
  EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (key == nullptr) *error = std::string("no private key in ") + path + ": " + comsSslErrors();
  return key;
}

bool comsWritePem(const char* certPath, const char* keyPath, X509* certificate, EVP_PKEY* key, std::string* error) {
  std::FILE* f = std::fopen(certPath, "w");
  if (f == nullptr || PEM_write_X509(f, certificate) != 1) {
    if (f != nullptr) std::fclose(f);
    *error = std::string("cannot write ") + certPath;
    return false;
  }
  std::fclose(f);
  mode_t old = umask(077);
  f = std::fopen(keyPath, "w");
  umask(old);
  if (f == nullptr || PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    if (f != nullptr) std::fclose(f);
    *error = std::string("cannot write ") + keyPath;
    return false;
  }
  std::fclose(f);
  return true;
}

std::string comsSubject(X509* certificate) {
  return certificate != nullptr ? nameText(X509_get_subject_name(certificate)) : "";
}

std::string comsIssuer(X509* certificate) {
  return certificate != nullptr ? nameText(X509_get_issuer_name(certificate)) : "";
}

std::string comsCertificateText(X509* certificate) {
  if (certificate == nullptr) return "    <no cert>";
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return "";
  BIO_printf(bio, "    Subject: ");
  X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  BIO_printf(bio, "\n    Issuer: ");
  X509_NAME_print_ex(bio, X509_get_issuer_name(certificate), 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  BIO_printf(bio, "\n    Serial: ");
  i2a_ASN1_INTEGER(bio, X509_get0_serialNumber(certificate));
  BIO_printf(bio, "\n    Valid: ");
  ASN1_TIME_print(bio, X509_get0_notBefore(certificate));
  BIO_printf(bio, " to ");
  ASN1_TIME_print(bio, X509_get0_notAfter(certificate));
  std::string s = bioText(bio);
  BIO_free(bio);
  return s;
}

std::string comsSslErrors() {
  std::string out;
  unsigned long e;
  char buf[256];
  while ((e = ERR_get_error()) != 0) {
    ERR_error_string_n(e, buf, sizeof buf);
    if (!out.empty()) out += "; ";
    out += buf;
  }
  return out;
}

void comsInstallTlsLogging(SSL* ssl, const char* name) {
  SSL_set_app_data(ssl, const_cast<char*>(name));
  SSL_set_info_callback(ssl, infoCallback);
  if (_debug_coms <= LOG_TRACE) SSL_set_msg_callback(ssl, messageCallback);
}
