#include "online/ui/LazyHttpFetcher.h"

#include <utility>

#include "platform/ProgramModule.h"

namespace nebrin {

namespace {

constexpr char kModuleName[] = "libnebrin-http.so";
constexpr char kEntryPoint[] = "nebrin_http_create_fetcher";
constexpr char kVerifyEntryPoint[] = "nebrin_http_verify_update_signature";
using CreateFn = nebrin::IHttpFetcher* (*)();
using VerifyFn = bool (*)(const std::uint8_t* key, const std::uint8_t* data, std::size_t size, const char* signature,
                          std::size_t signatureSize);

}  // namespace

LazyHttpFetcher::LazyHttpFetcher(std::string modulePath) : modulePath_(std::move(modulePath)) {}

LazyHttpFetcher::~LazyHttpFetcher() = default;

bool LazyHttpFetcher::Open() {
    if (attempted_) return fetcher_ != nullptr;
    attempted_ = true;
    void* module = modulePath_.empty() ? nebrin::OpenProgramModule(kModuleName, error_)
                                       : nebrin::OpenModuleFile(modulePath_, error_);
    if (!module) return false;
    module_ = module;
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

bool LazyHttpFetcher::VerifySignature(const nebrin::UpdateKeyBytes& key, std::span<const std::uint8_t> data,
                                      std::string_view signatureText) {
    if (!Open()) return false;
    auto verify = reinterpret_cast<VerifyFn>(nebrin::ModuleSymbol(module_, kVerifyEntryPoint));
    return verify && verify(key.data(), data.data(), data.size(), signatureText.data(), signatureText.size());
}

}  // namespace nebrin
