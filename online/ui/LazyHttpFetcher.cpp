#include "online/ui/LazyHttpFetcher.h"

#include <utility>

#include "platform/ProgramModule.h"

namespace nebrin {

namespace {

constexpr char kModuleName[] = "libnebrin-http.so";
constexpr char kEntryPoint[] = "nebrin_http_create_fetcher";
using CreateFn = nebrin::IHttpFetcher* (*)();

}  // namespace

LazyHttpFetcher::LazyHttpFetcher(std::string modulePath) : modulePath_(std::move(modulePath)) {}

LazyHttpFetcher::~LazyHttpFetcher() = default;

bool LazyHttpFetcher::Open() {
    if (attempted_) return fetcher_ != nullptr;
    attempted_ = true;
    void* module = modulePath_.empty() ? nebrin::OpenProgramModule(kModuleName, error_)
                                       : nebrin::OpenModuleFile(modulePath_, error_);
    if (!module) return false;
    auto create = reinterpret_cast<CreateFn>(nebrin::ModuleSymbol(module, kEntryPoint));
    if (!create) {
        error_ = std::string(kModuleName) + " lacks its entry point";
        return false;
    }
    fetcher_.reset(create());
    return fetcher_ != nullptr;
}

void LazyHttpFetcher::Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
                            Done done) {
    if (!Open()) {
        done(nebrin::FetchResult{false, "no HTTP client: " + error_});
        return;
    }
    fetcher_->Start(url, path, maxBytes, deadlineMs, std::move(done));
}

}  // namespace nebrin
