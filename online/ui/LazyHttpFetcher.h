// LazyHttpFetcher: the program's downloads, through the HTTP module
// (libnebrin-http.so, see online/ui/http), opened at the first download.
// Without the module every download fails with the reason it could not be
// opened; the rest of the program runs on.
#pragma once

#include <memory>
#include <string>

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

private:
    bool Open();

    std::string modulePath_;
    bool attempted_ = false;
    std::string error_;
    std::unique_ptr<nebrin::IHttpFetcher> fetcher_;
};

}  // namespace nebrin
