// The entry point of the HTTP module, looked up by online/ui/LazyHttpFetcher.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "online/UpdateSignature.h"
#include "online/ui/http/HttpFetcher.h"

extern "C" {

// A new fetcher, owned by the caller; made and used on the user-interface
// thread.
Q_DECL_EXPORT nebrin::IHttpFetcher* nebrin_http_create_fetcher() { return new nebrin::QtHttpFetcher(); }

// nebrin::VerifyUpdateSignature over plain pointers: `key` holds the key's
// bytes.
Q_DECL_EXPORT bool nebrin_http_verify_update_signature(const std::uint8_t* key, const std::uint8_t* data,
                                                       std::size_t size, const char* signature,
                                                       std::size_t signatureSize) {
    nebrin::UpdateKeyBytes k{};
    std::copy_n(key, k.size(), k.begin());
    return nebrin::VerifyUpdateSignature(k, std::span<const std::uint8_t>(data, size),
                                         std::string_view(signature, signatureSize));
}

}  // extern "C"
