#include "station/checksum.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <openssl/evp.h>

namespace mz::station {

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string hex(const unsigned char* digest, unsigned length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 15];
    }
    return out;
}

}  // namespace

std::string sha256Hex(std::span<const uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return hex(digest, length);
}

std::optional<FileDigest> fileDigest(const std::filesystem::path& path) {
    // A device or pipe named as an input (/dev/zero) would never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return std::nullopt;
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::vector<uint8_t> buffer(1 << 20);
    FileDigest out;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        EVP_DigestUpdate(context.get(), buffer.data(), n);
        out.bytes += static_cast<int64_t>(n);
    }
    if (std::ferror(file.get())) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    out.sha256 = hex(digest, length);
    return out;
}

std::vector<std::optional<FileDigest>> fileDigests(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::optional<FileDigest>> out(paths.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < paths.size(); i = next++) out[i] = fileDigest(paths[i]);
    };
    const size_t helpers = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 4) - 1;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < helpers && t + 1 < paths.size(); ++t) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    return out;
}

}  // namespace mz::station
