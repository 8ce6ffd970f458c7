// UpdateSignature: Ed25519 signatures of the update descriptor, through
// OpenSSL's libcrypto.
//
// The provider holds a private key; the theme carries its public key
// ("UpdateKey", Base64 of the 32 raw bytes). Next to every "update.ini" the
// server offers "update.ini.sig": Base64 of the 64-byte signature over the
// exact bytes of "update.ini", with blanks and line breaks allowed around it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "storage/ThemeSchema.h"

namespace nebrin {

inline constexpr std::size_t kUpdateSignatureBytes = 64;
inline constexpr std::string_view kSignatureSuffix = ".sig";

// Whether `signatureText` (the content of the signature file) is a valid
// signature of `data` under `key`. False for anything malformed.
[[nodiscard]] bool VerifyUpdateSignature(const UpdateKeyBytes& key, std::span<const std::uint8_t> data,
                                         std::string_view signatureText);

// ---- the provider's side (nebrin-theme) ------------------------------------------

// A new private key as PEM (PKCS #8); nullopt with *error on failure.
[[nodiscard]] std::optional<std::string> NewUpdateSigningKey(std::string* error);

// The public key of a PEM private key; nullopt with *error when the text is
// not an Ed25519 private key.
[[nodiscard]] std::optional<UpdateKeyBytes> UpdatePublicKey(std::string_view pem, std::string* error);

// The signature file's text for `data` (Base64 and a line break).
[[nodiscard]] std::optional<std::string> SignUpdateFile(std::string_view pem, std::span<const std::uint8_t> data,
                                                        std::string* error);

// Base64 of a public key, as the theme setting holds it.
std::string UpdateKeyText(const UpdateKeyBytes& key);

}  // namespace nebrin
