#include "crypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstring>
#include <mutex>

namespace wc {

void SecretBytes::assign(const void* p, size_t n)
{
    wipe();
    m_bytes.resize(n);
    if (n)
        std::memcpy(m_bytes.data(), p, n);
}

void SecretBytes::resize(size_t n)
{
    // Grow into a fresh buffer so no copy is left behind unwiped.
    std::vector<unsigned char> fresh(n);
    size_t keep = n < m_bytes.size() ? n : m_bytes.size();
    if (keep)
        std::memcpy(fresh.data(), m_bytes.data(), keep);
    wipe();
    m_bytes.swap(fresh);
}

void SecretBytes::wipe()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
}

void initOpenSsl()
{
    static std::once_flag once;
    std::call_once(once, [] { OPENSSL_init_ssl(0, nullptr); });
}

EphemeralKey::EphemeralKey()
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_X25519, nullptr);
    if (!ctx)
        return;
    if (EVP_PKEY_keygen_init(ctx) == 1)
        EVP_PKEY_keygen(ctx, &m_key);
    EVP_PKEY_CTX_free(ctx);
}

EphemeralKey::~EphemeralKey()
{
    EVP_PKEY_free(m_key);
}

bool EphemeralKey::publicKey(unsigned char out[32]) const
{
    size_t len = 32;
    return m_key && EVP_PKEY_get_raw_public_key(m_key, out, &len) == 1 && len == 32;
}

bool EphemeralKey::agree(const unsigned char peer[32], const unsigned char pcKey[32], const unsigned char hostKey[32],
                         SecretBytes& key) const
{
    if (!m_key)
        return false;
    EVP_PKEY* peerKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer, 32);
    if (!peerKey)
        return false;
    bool ok = false;
    SecretBytes shared;
    shared.resize(32);
    size_t sharedLen = 32;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(m_key, nullptr);
    // OpenSSL refuses an all-zero result (a small-order peer key).
    if (ctx && EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, peerKey) == 1 &&
        EVP_PKEY_derive(ctx, shared.data(), &sharedLen) == 1 && sharedLen == 32)
        ok = true;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(peerKey);
    if (!ok)
        return false;

    unsigned char salt[64];
    std::memcpy(salt, pcKey, 32);
    std::memcpy(salt + 32, hostKey, 32);
    static const char info[] = "wirecomm-2 password";
    key.resize(32);
    size_t keyLen = 32;
    ok = false;
    EVP_PKEY_CTX* kdf = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
    if (kdf && EVP_PKEY_derive_init(kdf) == 1 && EVP_PKEY_CTX_set_hkdf_md(kdf, EVP_sha256()) == 1 &&
        EVP_PKEY_CTX_set1_hkdf_salt(kdf, salt, sizeof salt) == 1 &&
        EVP_PKEY_CTX_set1_hkdf_key(kdf, shared.data(), static_cast<int>(shared.size())) == 1 &&
        EVP_PKEY_CTX_add1_hkdf_info(kdf, reinterpret_cast<const unsigned char*>(info), sizeof info - 1) == 1 &&
        EVP_PKEY_derive(kdf, key.data(), &keyLen) == 1 && keyLen == 32)
        ok = true;
    EVP_PKEY_CTX_free(kdf);
    if (!ok)
        key.wipe();
    return ok;
}

bool sealPassword(const SecretBytes& key, const std::string& aad, const SecretBytes& password,
                  std::vector<unsigned char>& out)
{
    if (key.size() != 32)
        return false;
    out.assign(12 + password.size() + 16, 0);
    if (RAND_bytes(out.data(), 12) != 1)
        return false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    bool ok = ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1 &&
              EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), out.data()) == 1 &&
              EVP_EncryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()),
                                static_cast<int>(aad.size())) == 1;
    if (ok && !password.empty())
        ok = EVP_EncryptUpdate(ctx, out.data() + 12, &len, password.data(), static_cast<int>(password.size())) == 1;
    ok = ok && EVP_EncryptFinal_ex(ctx, out.data() + 12 + password.size(), &len) == 1 &&
         EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, out.data() + 12 + password.size()) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        out.clear();
    return ok;
}

bool openPassword(const SecretBytes& key, const std::string& aad, const unsigned char* in, size_t n,
                  SecretBytes& password)
{
    if (key.size() != 32 || n < 12 + 16)
        return false;
    size_t ctLen = n - 12 - 16;
    password.resize(ctLen);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    unsigned char tag[16];
    std::memcpy(tag, in + 12 + ctLen, 16);
    bool ok = ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1 &&
              EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.data(), in) == 1 &&
              EVP_DecryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()),
                                static_cast<int>(aad.size())) == 1;
    if (ok && ctLen)
        ok = EVP_DecryptUpdate(ctx, password.data(), &len, in + 12, static_cast<int>(ctLen)) == 1;
    ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag) == 1;
    unsigned char final[16];
    ok = ok && EVP_DecryptFinal_ex(ctx, final, &len) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        password.wipe();
    return ok;
}

bool publicKeyFingerprint(X509* cert, unsigned char out[32])
{
    if (!cert)
        return false;
    unsigned char* der = nullptr;
    int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (len <= 0)
        return false;
    SHA256(der, static_cast<size_t>(len), out);
    OPENSSL_free(der);
    return true;
}

bool parseFingerprint(const char* text, std::array<unsigned char, 32>& out)
{
    size_t digits = 0;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == ':' || c == ' ' || c == '\t')
            continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return false;
        if (digits >= 64)
            return false;
        if (digits % 2 == 0)
            out[digits / 2] = static_cast<unsigned char>(v << 4);
        else
            out[digits / 2] = static_cast<unsigned char>(out[digits / 2] | v);
        ++digits;
    }
    return digits == 64;
}

std::string commonNameOf(X509* cert)
{
    if (!cert)
        return std::string();
    X509_NAME* subject = X509_get_subject_name(cert);
    int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0)
        return std::string();
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int len = ASN1_STRING_to_UTF8(&utf8, data);
    if (len < 0)
        return std::string();
    std::string name(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
    OPENSSL_free(utf8);
    // A name with an embedded NUL must not match a shorter expected name.
    if (name.find('\0') != std::string::npos)
        return std::string();
    return name;
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace wc
