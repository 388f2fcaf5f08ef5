#pragma once
// Cryptography of the protocol: the ephemeral X25519 key agreement and the
// AES-256-GCM envelope of the password in crypt mode 1, TLS context set-up
// and certificate checks of the TLS modes.

#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace wc {

// Bytes that are wiped when they go out of scope.
class SecretBytes {
public:
    SecretBytes() = default;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes() { wipe(); }
    void assign(const void* p, size_t n);
    void wipe();
    const unsigned char* data() const { return m_bytes.data(); }
    unsigned char* data() { return m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    void resize(size_t n);

private:
    std::vector<unsigned char> m_bytes;
};

// An ephemeral X25519 key pair.
class EphemeralKey {
public:
    EphemeralKey();
    ~EphemeralKey();
    EphemeralKey(const EphemeralKey&) = delete;
    EphemeralKey& operator=(const EphemeralKey&) = delete;
    bool ok() const { return m_key != nullptr; }
    // The 32-byte public key.
    bool publicKey(unsigned char out[32]) const;
    // The 32-byte envelope key agreed with the peer's public key:
    // HKDF-SHA256(X25519 shared secret, salt = PC key || host key,
    // info = "wirecomm-2 password").
    bool agree(const unsigned char peer[32], const unsigned char pcKey[32], const unsigned char hostKey[32],
               SecretBytes& key) const;

private:
    EVP_PKEY* m_key = nullptr;
};

// nonce(12) || AES-256-GCM(password) || tag(16), aad = the user id.
bool sealPassword(const SecretBytes& key, const std::string& aad, const SecretBytes& password,
                  std::vector<unsigned char>& out);
// The reverse; false when the envelope does not authenticate.
bool openPassword(const SecretBytes& key, const std::string& aad, const unsigned char* in, size_t n,
                  SecretBytes& password);

// SHA-256 over the DER SubjectPublicKeyInfo of a certificate.
bool publicKeyFingerprint(X509* cert, unsigned char out[32]);
// Parses 64 hex digits (':' and blanks ignored).
bool parseFingerprint(const char* text, std::array<unsigned char, 32>& out);
// The subject common name of a certificate, empty when it has none.
std::string commonNameOf(X509* cert);
// Case-insensitive ASCII comparison.
bool sameName(const std::string& a, const std::string& b);

// Ensures OpenSSL is initialised (once).
void initOpenSsl();

} // namespace wc
