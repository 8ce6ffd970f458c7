// Writes the seed inputs of the fuzz harnesses: small valid inputs of every
// reader, the way the program meets them. Run it to remake fuzz/corpus:
//   nebrin_fuzz_make_corpus <source>/fuzz/corpus
// The output is the same on every run (sealing starts from fixed vectors).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/Base64.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"
#include "tests/app/theme_fixture.h"
#include "tests/stats/stats_fakes.h"

using namespace nebrin;
using nebrin::testing::PerfBuilder;

namespace {

std::filesystem::path gRoot;

void Write(const std::string& harness, const std::string& name, const Bytes& data) {
    const auto dir = gRoot / harness;
    std::filesystem::create_directories(dir);
    std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

void Write(const std::string& harness, const std::string& name, std::string_view text) {
    Write(harness, name, Bytes(text.begin(), text.end()));
}

// Seals under the current pass phrase from a fixed vector.
Bytes Seal(std::span<const std::uint8_t> plain, std::uint8_t seed) {
    StreamSealer sealer;
    Bytes out;
    AesBlock iv{};
    iv.fill(seed);
    sealer.Begin(out, iv);
    sealer.Update(plain, out);
    sealer.Finish(out);
    return out;
}

Bytes Seal(std::string_view plain, std::uint8_t seed) {
    return Seal(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()), seed);
}

Bytes Prefixed(std::uint8_t first, const Bytes& rest) {
    Bytes b{first};
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

void Packages() {
    SetPassPhrase(MemberPassPhrase(0));
    Write("tar", "sealed3.nbt",
          BuildPackage({Seal("[MainWindow]\r\nName=Abc\r\n", 1), Seal("", 2), Seal("0123456789abcdef", 3)}));
    Write("tar", "empty.nbt", BuildPackage({}));
    Write("tar", "plain2.nbt", BuildPackage({Bytes{'a'}, Bytes{}}));
}

void Sealed() {
    SetPassPhrase("q7c2m9x4ka");  // the harness's phrase
    Write("unseal", "empty.bin", Seal("", 4));
    Write("unseal", "short.bin", Seal("hello", 5));
    Write("unseal", "block.bin", Seal("0123456789abcdef", 6));
    Write("unseal", "longer.bin", Seal("[USER]\nname=jan.kowalski\npasswd=tajne\n", 7));
}

void Base64() {
    Write("base64", "empty.txt", "");
    Write("base64", "one.txt", "Zg==");
    Write("base64", "two.txt", "Zm8=");
    Write("base64", "three.txt", "Zm9vYmFy");
    SetPassPhrase(CredentialsPassPhrase());
    Write("base64", "credential.txt", Base64Encode(Seal("jan.kowalski@example", 8)));
}

void Settings() {
    Write("miven_ini", "theme.ini", testing::DefaultSettings());
    Write(
        "miven_ini", "rules.ini",
        "; comment\r\n[AutoUpdate]\r\nEnableAutoUpdate=TRUE\r\nUpdateURL=http://example.net/u\r\n"
        "[Colours]\r\nA=$FF00FF\r\nB=-2147483648\r\nC=+12\r\nD=12x\r\nd=dup\r\nD=first\r\n"
        "[\xA3\xF3\x64\xBC]\r\nKlucz=\xB9\xE6\xEA\r\n [Not a section]\r\nnoequals\r\n=empty key\r\n[a,b]\r\nk,1=v\r\n");
}

void Profiles() {
    // text, 0x01, section, key, value, probe section, probe key
    Write("profile_ini", "user.txt",
          std::string("[USER]\nname=abc==\npasswd=\"  quoted  \"\nserv=\n") +
              "\x01USER\x01passwd\x01new value\x01user\x01NAME");
    Write("profile_ini", "update.txt",
          std::string("\xEF\xBB\xBF; update\r\n[PROGRAM]\r\nversion=1.19\r\n\r\n[Other]\r\nk=v\r\n") +
              "\x01"
              "PROGRAM\x01"
              "file\x01 padded \x01Other\x01k");
    Write("profile_ini", "new.txt", std::string("no section=1\n") + "\x01 New \x01 key \x01'q'\x01\x01no section");
}

void Performance() {
    PerfBuilder ports;
    PerfBuilder::Object obj;
    obj.instances = true;
    obj.list = {{u"COM1", 1000, 2000}, {u"VPN2-0", 5, 6}};
    ports.objects = {obj};
    Write("perf_data", "ports.bin", ports.Build());

    PerfBuilder total;
    PerfBuilder::Object all;
    all.numCounters = 4;
    all.sent = 77;
    all.received = 88;
    total.objects = {all, obj};
    Write("perf_data", "total.bin", total.Build());
}

void Themes() {
    const std::vector<Bytes> plain = testing::PlainMembers();
    Write("theme_load", "plain.bin", Prefixed(1, BuildPackage(plain)));
    std::vector<Bytes> sealed;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        SetPassPhrase(MemberPassPhrase(static_cast<int>(i)));
        sealed.push_back(Seal(plain[i], static_cast<std::uint8_t>(i)));
    }
    Write("theme_load", "sealed.bin", Prefixed(0, BuildPackage(sealed)));
    // Settings that stop the load half-way (no speed meter keys).
    std::vector<Bytes> partial = plain;
    const std::string ini = testing::DefaultSettings();
    const std::string cut = ini.substr(0, ini.find("[DLULSppedMeter]"));
    partial[0] = Bytes(cut.begin(), cut.end());
    Write("theme_load", "partial.bin", Prefixed(1, BuildPackage(partial)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    gRoot = argv[1];
    Packages();
    Sealed();
    Base64();
    Settings();
    Profiles();
    Performance();
    Themes();
    return 0;
}
