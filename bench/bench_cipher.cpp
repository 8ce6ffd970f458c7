// Sealed-stream throughput next to OpenSSL's AES-128-CBC on the same 1 MiB
// buffer, in the same run.
//
// The program runs twice: first as started (the processor's AES instructions
// where present), then it re-executes itself with NEBRIN_AES=portable and
// OPENSSL_ia32cap="~0x200000200000000" (AES-NI and PCLMULQDQ masked off for
// OpenSSL), so the portable path is compared with OpenSSL's own software
// AES. Each run ends with a summary line of the ratios (ours / OpenSSL
// throughput). --no-masked skips the second run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "storage/hbCrypt.h"

namespace {

using nebrin::Bytes;

constexpr std::size_t kSize = 1 << 20;

const Bytes& Key() {
    static const Bytes key =
        nebrin::PhraseDigest(std::vector<std::uint8_t>{'b', 'e', 'n', 'c', 'h', 'p', 'h', 'r', 'a', 's'}, 32);
    return key;
}

const Bytes& Plain() {
    static const Bytes plain = [] {
        Bytes p(kSize);
        std::uint32_t x = 12345;
        for (auto& b : p) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
        return p;
    }();
    return plain;
}

const Bytes& Sealed() {
    static const Bytes sealed = [] {
        Bytes s;
        nebrin::SealStream(Plain(), s, Key(), 16, true);
        return s;
    }();
    return sealed;
}

void BM_Unseal(benchmark::State& state) {
    const Bytes& sealed = Sealed();
    Bytes target;
    target.reserve(sealed.size());
    for (auto _ : state) {
        target.clear();
        nebrin::SealStream(sealed, target, Key(), 16, false);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    if (target != Plain()) state.SkipWithError("unseal gave wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kSize));
    state.SetLabel(nebrin::AesAccelerated() ? "AES instructions" : "portable");
}

void BM_Seal(benchmark::State& state) {
    const Bytes& plain = Plain();
    Bytes target;
    target.reserve(nebrin::SealedSize(plain.size()));
    for (auto _ : state) {
        target.clear();
        nebrin::SealStream(plain, target, Key(), 16, true);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kSize));
    state.SetLabel(nebrin::AesAccelerated() ? "AES instructions" : "portable");
}

// The CBC kernel alone into a ready buffer: the unseal cost without the
// stream handling and the target's growth.
void BM_DecryptCbcKernel(benchmark::State& state) {
    const Bytes& sealed = Sealed();
    const nebrin::AesCipher aes(std::span<const std::uint8_t>(Key().data(), 16), 16);
    Bytes out(kSize);
    for (auto _ : state) {
        nebrin::AesBlock chain;
        std::memcpy(chain.data(), sealed.data(), 16);
        aes.DecryptCbc(sealed.data() + 16, out.data(), kSize / 16, chain);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kSize));
}

// OpenSSL over the same bytes: the sealed stream's blocks after C0, with C0
// as the IV, no padding (the same work as unsealing, key setup included).
void OpenSslCbc(benchmark::State& state, bool encrypt) {
    const Bytes& sealed = Sealed();
    const std::uint8_t* iv = sealed.data();
    const std::uint8_t* in = encrypt ? Plain().data() : sealed.data() + 16;
    const int length = static_cast<int>(kSize);
    Bytes out(kSize + 32);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0, m = 0;
        if (EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, Key().data(), iv, encrypt ? 1 : 0) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx, 0) != 1 || EVP_CipherUpdate(ctx, out.data(), &n, in, length) != 1 ||
            EVP_CipherFinal_ex(ctx, out.data() + n, &m) != 1) {
            state.SkipWithError("OpenSSL failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    EVP_CIPHER_CTX_free(ctx);
    if (!encrypt && !std::equal(Plain().begin(), Plain().end(), out.begin())) {
        state.SkipWithError("OpenSSL disagrees with the sealed stream");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kSize));
}

void BM_OpenSSL_Decrypt(benchmark::State& state) { OpenSslCbc(state, false); }
void BM_OpenSSL_Encrypt(benchmark::State& state) { OpenSslCbc(state, true); }

BENCHMARK(BM_Unseal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSL_Decrypt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecryptCbcKernel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Seal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSL_Encrypt)->Unit(benchmark::kMicrosecond);

// Whether a run stopped with an error: Google Benchmark 1.7 says so in
// error_occurred, 1.8 in skipped (which also covers a plain skip).
template <class R>
bool RunFailed(const R& run) {
    if constexpr (requires { run.error_occurred; }) {
        return run.error_occurred;
    } else {
        return static_cast<unsigned>(run.skipped) != 0;
    }
}

// Console output plus a closing line with the throughput ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        // Per-operation time: the median when repetitions were asked for,
        // otherwise the single run.
        for (const auto& run : runs) {
            if (RunFailed(run) || run.iterations <= 0) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                seconds_[name] = run.GetAdjustedRealTime();
                fromMedian_[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !fromMedian_[name]) {
                seconds_[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const char* mode = nebrin::AesAccelerated() ? "AES instructions" : "portable, OpenSSL without AES-NI";
        std::printf(
            "summary (%s): unseal/OpenSSL decrypt = %s (target >= 0.70), seal/OpenSSL encrypt = %s (target >= 0.80)\n",
            mode, Ratio("BM_OpenSSL_Decrypt", "BM_Unseal").c_str(), Ratio("BM_OpenSSL_Encrypt", "BM_Seal").c_str());
        std::fflush(stdout);
    }

private:
    // Throughput ratio ours / theirs = their time / our time.
    std::string Ratio(const char* theirs, const char* ours) const {
        const auto t = seconds_.find(theirs), o = seconds_.find(ours);
        if (t == seconds_.end() || o == seconds_.end() || o->second <= 0) return "n/a";
        char text[32];
        std::snprintf(text, sizeof text, "%.2fx", t->second / o->second);
        return text;
    }

    std::map<std::string, double> seconds_;
    std::map<std::string, bool> fromMedian_;
};

}  // namespace

int main(int argc, char** argv) {
    bool masked = true;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-masked") == 0) {
            masked = false;
        } else {
            args.push_back(argv[i]);
        }
    }
    const bool child = std::getenv("NEBRIN_BENCH_MASKED_RUN") != nullptr;
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (child || !masked) return 0;
    std::printf("\n--- again with the portable path and OpenSSL's AES-NI masked off ---\n");
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("NEBRIN_BENCH_MASKED_RUN", "1", 1);
        setenv("NEBRIN_AES", "portable", 1);
        setenv("OPENSSL_ia32cap", "~0x200000200000000", 1);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
