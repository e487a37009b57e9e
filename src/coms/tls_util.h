// The TLS side shared by the connections and stream connections: contexts
// with the system's protocol choices, the anonymous login certificate, self-
// signed pairs, PEM files, and the texts the logs print about certificates
// and OpenSSL errors.
//
// Thread-safe: contexts and the anonymous pair are made once and shared by
// reference count; the other functions keep no state.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>

// Once per process: OpenSSL's strings, and SIGPIPE ignored, so that a peer
// that goes away gives EPIPE on the socket instead of ending the process.
void comsLibraryInit();

// The process-wide client context (TLS 1.2 at most, the library's minimum,
// every peer certificate accepted, renegotiation refused), with one more
// reference for the caller (SSL_CTX_free it). Null when OpenSSL fails.
[[nodiscard]] SSL_CTX* comsClientContext();

// Once per process: OpenSSL's strings, and SIGPIPE ignored, so that a peer
// that goes away gives EPIPE on the socket instead of ending the process.
void comsLibraryInit();

// The process-wide client context of blocking streams: the same choices,
// with whole writes and automatic retries (one more reference for the
// caller). Null when OpenSSL fails.
[[nodiscard]] SSL_CTX* comsStreamClientContext();
// Switches a context to the blocking use of streams (whole writes,
// automatic retries).
void comsMakeBlocking(SSL_CTX* ctx);

// A new server context using `certificate` and `key` (the same choices as the
// client's, and a request for the peer's certificate, which is accepted
// whatever it is). Null with `*error` set to the reason when the pair cannot
// be used; the texts are those of the stream connector:
// "Cannot use certificate: %s", "Cannot use private key: %s",
// "Private key does not match the certificate public key".
[[nodiscard]] SSL_CTX* comsServerContext(X509* certificate, EVP_PKEY* key, std::string* error);

// The anonymous login pair "/O=VeskSoftware/CN=LoginRequest" (RSA 2048,
// exponent 65537, ten years, SHA-256), made once per process; both are
// returned with one more reference. 0, or -6 after logging the failure.
[[nodiscard]] int comsAnonymousPair(X509** certificate, EVP_PKEY** key);

// True once the anonymous pair exists (asking for it is then instant).
[[nodiscard]] bool comsAnonymousPairReady();

// A self-signed pair: an RSA key of `bits`, an X.509 v3 certificate whose
// subject and issuer are `organisation`/`commonName`, serial number the
// current time, valid from now for `validSeconds`, signed with SHA-256.
// 0, or a negative step number with *error set.
[[nodiscard]] int comsMakeSelfSigned(const char* organisation, const char* commonName, int bits,
                                     long validSeconds, X509** certificate, EVP_PKEY** key, std::string* error);

// PEM files. Null with *error set on failure.
[[nodiscard]] X509* comsReadCertificate(const char* path, std::string* error);
[[nodiscard]] EVP_PKEY* comsReadPrivateKey(const char* path, std::string* error);
// Writes PEM files (the key unencrypted, mode 0600). False with *error set.
[[nodiscard]] bool comsWritePem(const char* certPath, const char* keyPath, X509* certificate, EVP_PKEY* key,
                                std::string* error);

// The one-line subject, issuer, serial number and validity of a certificate,
// for the logs ("<no cert>" for null).
[[nodiscard]] std::string comsCertificateText(X509* certificate);
[[nodiscard]] std::string comsSubject(X509* certificate);
[[nodiscard]] std::string comsIssuer(X509* certificate);

// Every queued OpenSSL error as text ("; "-separated), clearing the queue;
// "" when there is none.
[[nodiscard]] std::string comsSslErrors();

// Installs the logging callbacks on a session: handshake states and
// protocol messages at debug level, alerts as "%s: SSL alert %s:%s:%s". The
// session's app data must be the owner's name (a NUL-terminated text that
// lives as long as the session).
void comsInstallTlsLogging(SSL* ssl, const char* name);
