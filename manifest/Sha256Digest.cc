#include "manifest/Sha256Digest.h"

#include "manifest/ManifestReading.h"

namespace vrexa {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

void AppendText(std::string& text, const Sha256Digest& digest) {
    for (std::uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
}

}  // namespace

std::string Sha256Text(const Sha256Digest& digest) {
    std::string text;
    text.reserve(kSha256TextLength);
    AppendText(text, digest);
    return text;
}

std::string Sha256ListText(const std::vector<Sha256Digest>& digests) {
    std::string text;
    text.reserve(digests.size() * kSha256TextLength);
    for (const auto& digest : digests)
        AppendText(text, digest);
    return text;
}

std::optional<Sha256Digest> ParseSha256Text(std::string_view text) {
    if (text.size() != kSha256TextLength) return std::nullopt;
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = reading::HexDigit(text[2 * i]);
        const int low = reading::HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>((high << 4) | low);
    }
    return digest;
}

}  // namespace vrexa
