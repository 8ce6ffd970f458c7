// LazyHttpFetcher: the program's downloads, through the HTTP module
// (libnebrin-http.so, see online/ui/http), opened at the first download.
// Without the module every download fails with the reason it could not be
// opened; the rest of the program runs on.
//
// The module also checks the signatures of update descriptors: libcrypto
// comes with it (as it does for HTTPS) instead of with the program's start.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "online/Update.h"

namespace nebrin {

class LazyHttpFetcher final : public nebrin::IHttpFetcher {
public:
    // The module is looked for next to the program, then in the installed
    // library folder; `modulePath`, when given, is the only place tried.
    explicit LazyHttpFetcher(std::string modulePath = {});
    ~LazyHttpFetcher() override;

    // As IHttpFetcher::Start; user-interface thread.
    void Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
               Done done) override;

    // As nebrin::VerifyUpdateSignature; false when the module cannot be
    // opened.
    bool VerifySignature(const nebrin::UpdateKeyBytes& key, std::span<const std::uint8_t> data,
                         std::string_view signatureText);

private:
    bool Open();

    std::string modulePath_;
    bool attempted_ = false;
    std::string error_;
    void* module_ = nullptr;
    std::unique_ptr<nebrin::IHttpFetcher> fetcher_;
};

}  // namespace nebrin
