#include "online/UpdateSignature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <vector>

#include "storage/Base64.h"

namespace nebrin {
namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

std::string_view TrimBlanks(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// The last libcrypto error as text (and the queue emptied).
std::string CryptoError(const char* what) {
    std::string text = what;
    if (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text += ": ";
        text += buf;
    }
    ERR_clear_error();
    return text;
}

Pkey ReadPrivateKey(std::string_view pem, std::string* error) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Pkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        ERR_clear_error();
        if (error) *error = "not an Ed25519 private key in PEM form";
        return nullptr;
    }
    return key;
}

}  // namespace

bool VerifyUpdateSignature(const UpdateKeyBytes& key, std::span<const std::uint8_t> data,
                           std::string_view signatureText) {
    std::vector<std::uint8_t> signature;
    try {
        signature = Base64Decode(TrimBlanks(signatureText));
    } catch (const EBase64Error&) {
        return false;
    }
    if (signature.size() != kUpdateSignatureBytes) return false;
    Pkey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    MdCtx ctx(EVP_MD_CTX_new());
    const bool ok = pkey && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
                    EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
    ERR_clear_error();
    return ok;
}

std::optional<std::string> NewUpdateSigningKey(std::string* error) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
        if (error) *error = CryptoError("cannot make a key");
        return std::nullopt;
    }
    Pkey key(raw);
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        if (error) *error = CryptoError("cannot write the key");
        return std::nullopt;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    std::string pem(data, static_cast<std::size_t>(size));
    OPENSSL_cleanse(data, static_cast<std::size_t>(size));
    return pem;
}

std::optional<UpdateKeyBytes> UpdatePublicKey(std::string_view pem, std::string* error) {
    const Pkey key = ReadPrivateKey(pem, error);
    if (!key) return std::nullopt;
    UpdateKeyBytes out{};
    std::size_t size = out.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), out.data(), &size) != 1 || size != out.size()) {
        if (error) *error = CryptoError("cannot read the public key");
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> SignUpdateFile(std::string_view pem, std::span<const std::uint8_t> data,
                                          std::string* error) {
    const Pkey key = ReadPrivateKey(pem, error);
    if (!key) return std::nullopt;
    MdCtx ctx(EVP_MD_CTX_new());
    std::uint8_t signature[kUpdateSignatureBytes];
    std::size_t size = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &size, data.data(), data.size()) != 1 || size != sizeof signature) {
        if (error) *error = CryptoError("cannot sign");
        return std::nullopt;
    }
    return Base64Encode(std::span<const std::uint8_t>(signature, size)) + "\n";
}

std::string UpdateKeyText(const UpdateKeyBytes& key) { return Base64Encode(key); }

}  // namespace nebrin
