#include "optimizer/ChunkUrl.h"

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "manifest/StandardNodeManifest.h"
#include "optimizer/OptimizedRequestParams.h"

namespace vrexa {
namespace {

struct UrlCase {
    const char* name;
    const char* host;
    const char* nodePath;
    const char* version;
    const char* filePath;
    const char* url;
};

// Ordinary names give the plain URL; everything a name could use to change
// the request's target is encoded into its own segment instead.
const UrlCase kUrls[] = {
    {"Plain", "H", "/files/", "v", "/maps/a.bin", "http://H/files/p/k/v/maps/a.bin"},
    {"NoLeadingSlash", "H", "/files/", "v", "maps/a.bin", "http://H/files/p/k/v/maps/a.bin"},
    {"ManyLeadingSlashes", "H", "/files/", "v", "///a.bin", "http://H/files/p/k/v/a.bin"},
    {"RootNodePath", "127.0.0.1:8080", "/", "v1", "a", "http://127.0.0.1:8080/p/k/v1/a"},
    {"DeepNodePath", "H", "/a/b/", "v", "x", "http://H/a/b/p/k/v/x"},
    {"Space", "H", "/f/", "v", "a b.dat", "http://H/f/p/k/v/a%20b.dat"},
    {"QueryAndFragment", "H", "/f/", "v", "a?b#c", "http://H/f/p/k/v/a%3Fb%23c"},
    {"PercentIsNotDecoded", "H", "/f/", "v", "%41.bin", "http://H/f/p/k/v/%2541.bin"},
    {"SchemeLikeFilePath", "H", "/f/", "v", "http:/x", "http://H/f/p/k/v/http:/x"},
    {"NonAscii", "H", "/f/", "v", "\xC3\xA5.txt", "http://H/f/p/k/v/%C3%A5.txt"},
    {"DotInsideName", "H", "/f/", "v", "a/.hidden/..x", "http://H/f/p/k/v/a/.hidden/..x"},
    {"SecureNode", "https://H:8443", "/files/", "v", "a.bin", "https://H:8443/files/p/k/v/a.bin"},
    {"ColonLaterInName", "H", "/f/", "v", "d/c:x.exe", "http://H/f/p/k/v/d/c:x.exe"},
    {"Backslash", "H", "/f/", "v", "a\\b", "http://H/f/p/k/v/a%5Cb"},
    {"VersionWithColon", "H", "/f/", "http:x", "a", "http://H/f/p/k/http:x/a"},
    {"SecureHost", "https://H:8443", "/f/", "v", "a", "https://H:8443/f/p/k/v/a"},
    {"Ipv6Host", "[::1]:8080", "/", "v", "a", "http://[::1]:8080/p/k/v/a"},
};

void PrintTo(const UrlCase& c, std::ostream* out) { *out << c.name; }

class ChunkUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(ChunkUrlTest, BuildsTheUrl) {
    const UrlCase& c = GetParam();
    EXPECT_EQ(BuildChunkUrl(c.host, c.nodePath, "p", "k", c.version, c.filePath), c.url);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkUrlTest, ::testing::ValuesIn(kUrls),
                         [](const ::testing::TestParamInfo<UrlCase>& info) { return info.param.name; });

struct RefusedCase {
    const char* name;
    const char* host;
    const char* nodePath;
    const char* partner;
    const char* version;
    const char* filePath;
};

const RefusedCase kRefused[] = {
    {"DotDotInFilePath", "H", "/f/", "p", "v", "a/../../x"},
    {"DotInFilePath", "H", "/f/", "p", "v", "./a"},
    {"EmptySegmentInFilePath", "H", "/f/", "p", "v", "a//b"},
    {"TrailingSlashInFilePath", "H", "/f/", "p", "v", "a/"},
    {"EmptyFilePath", "H", "/f/", "p", "v", "///"},
    {"FilePathWithAuthority", "H", "/f/", "p", "v", "http://x"},
    {"DotDotVersion", "H", "/f/", "p", "..", "a"},
    {"DotPartner", "H", "/f/", ".", "v", "a"},
    {"EmptyVersion", "H", "/f/", "p", "", "a"},
    {"DotDotNodePath", "H", "/f/../", "p", "v", "a"},
    {"EmptyHost", "", "/f/", "p", "v", "a"},
    {"HostWithPath", "evil.example/x", "/f/", "p", "v", "a"},
    {"HostWithUser", "user@evil.example", "/f/", "p", "v", "a"},
    {"HostWithSpace", "a b", "/f/", "p", "v", "a"},
    {"SecureSchemeOnly", "https://", "/f/", "p", "v", "a"},
    {"SecureHostWithPath", "https://evil.example/x", "/f/", "p", "v", "a"},
    {"OtherScheme", "ftp://evil.example", "/f/", "p", "v", "a"},
    {"HostWithQuery", "h?x", "/f/", "p", "v", "a"},
    {"HostWithFragment", "h#x", "/f/", "p", "v", "a"},
    {"HostWithBackslash", "h\\x", "/f/", "p", "v", "a"},
    {"HostWithBadPort", "h:99999", "/f/", "p", "v", "a"},
    {"PlainHttpScheme", "http://h", "/f/", "p", "v", "a"},
    {"DotNodePath", "H", "/f/./", "p", "v", "a"},
    {"DriveInFilePath", "H", "/f/", "p", "v", "c:/x.exe"},
    {"BackslashDotDot", "H", "/f/", "p", "v", "a\\..\\b"},
    {"DotSegmentAfterBackslash", "H", "/f/", "p", "v", "a\\.\\b"},
    {"VersionWithSlash", "H", "/f/", "p", "//evil.example", "a"},
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class ChunkUrlRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ChunkUrlRefusalTest, Throws) {
    const RefusedCase& c = GetParam();
    EXPECT_THROW(BuildChunkUrl(c.host, c.nodePath, c.partner, "k", c.version, c.filePath), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkUrlRefusalTest, ::testing::ValuesIn(kRefused),
                         [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

struct FileChunk : ChunkRange {
    std::string path;
    std::string GetFilePath() const override { return path; }
};

TEST(OptimizedRequestParamsUrlTest, UsesSelectedNodeAndTransferIds) {
    TransferParams transfer;
    transfer.partnerId = "p";
    transfer.packageId = "k";
    transfer.versionId = "v";
    auto chunk = std::make_shared<FileChunk>();
    chunk->path = "/maps/a.bin";
    OptimizedRequestParams params(nullptr, transfer, chunk);
    EXPECT_THROW(
        {
            try {
                params.ToUrl();
            } catch (const std::invalid_argument& error) {
                EXPECT_STREQ(error.what(),
                             "OptimizedRequestParams::ToUrl invoked with no SelectedNode or no ChunkData");
                throw;
            }
        },
        std::invalid_argument);
    params.SelectedNode = std::make_shared<StandardNodeManifest>("n1", "H", "/files/");
    EXPECT_EQ(params.ToUrl(), "http://H/files/p/k/v/maps/a.bin");
    params.ChunkData.reset();
    EXPECT_THROW(params.ToUrl(), std::invalid_argument);
}

}  // namespace
}  // namespace vrexa
