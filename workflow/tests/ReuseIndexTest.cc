#include "workflow/ReuseIndex.h"

#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/ReadOnlyFile.h"
#include "manifest/FileManifest.h"
#include "tests/support/ForgedChunk.h"
#include "tests/support/TestFolder.h"
#include "workflow/tests/TestPackages.h"

namespace vrexa {
namespace {

constexpr std::uint32_t kChunk = 4096;

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

struct IndexCase {
    const char* name;
    std::string old;          // the old file's bytes, at "old.bin"
    std::string fresh;        // the new file's bytes, at "new.bin"
    bool sha256;              // the manifest carries SHA-256s
    std::size_t foundChunks;  // chunks of the new file the index finds
};

void PrintTo(const IndexCase& c, std::ostream* out) { *out << c.name; }

std::vector<IndexCase> IndexCases() {
    const std::string a = Bytes(8 * kChunk + 500, 1);
    const std::string x = Bytes(kChunk, 2);
    const std::string y = Bytes(kChunk, 3);
    const std::string inserted = a.substr(0, 100) + "!" + a.substr(100);
    const std::string deleted = a.substr(0, 5000) + a.substr(5100);
    const std::string moved = a.substr(3 * kChunk, 3 * kChunk) + a.substr(0, 3 * kChunk) + a.substr(6 * kChunk);
    // Chunk 1 of the new file lies in the old one, but between bytes that
    // are new: nothing beside it anchors it.
    const std::string isolated = x + a.substr(2 * kChunk, kChunk) + y;
    const std::string forged = testsupport::CrcForgedChunk(a.substr(0, kChunk)) + a.substr(kChunk);
    const std::string small = Bytes(300, 4);
    return {
        // 9 chunks; the first holds the new byte, the others moved by one.
        {"OneByteInsertedWithHashes", a, inserted, true, 8},
        {"OneByteInsertedChecksumsOnly", a, inserted, false, 8},
        {"HundredBytesDeleted", a, deleted, true, 8},
        {"ChunksMovedWithinTheFile", a, moved, true, 9},
        {"ChunksMovedWithinTheFileChecksumsOnly", a, moved, false, 9},
        {"AnIsolatedChunkWithItsHash", a, isolated, true, 1},
        // 32 bits alone would find chance matches among millions of offsets.
        {"AnIsolatedChunkWithOnlyItsChecksumIsNotTaken", a, isolated, false, 0},
        // Bytes with the chunk's CRC-32 but not its content.
        {"AForgedChunkIsNotTakenForTheRealOne", forged, a.substr(0, kChunk), true, 0},
        {"AnOldFileShorterThanAChunkMatchesALastChunk", small, small, true, 1},
        {"NothingInCommon", a, Bytes(3 * kChunk, 9), true, 0},
    };
}

class ReuseIndexTest : public ::testing::TestWithParam<IndexCase> {};

// What the index finds, and that every location it gives holds exactly the
// chunk's bytes.
TEST_P(ReuseIndexTest, FindsTheChunksThatAreThereAndNothingElse) {
    const IndexCase& c = GetParam();
    testsupport::TestFolder folder;
    folder.Put("old.bin", c.old);
    testing::TestPackageOptions options;
    options.chunkSize = kChunk;
    options.sha256 = c.sha256;
    const auto package = testing::MakePackage({{"new.bin", c.fresh}}, options);
    ReuseIndex index(*package);
    index.Scan({folder.Path(), "old.bin", ""});

    const FileManifest& manifest = *package->GetFiles().front();
    std::size_t found = 0;
    for (std::uint32_t chunk = 0; chunk < manifest.GetChunkCount(); ++chunk) {
        const std::uint64_t start = std::uint64_t{chunk} * kChunk;
        const std::string bytes = c.fresh.substr(start, kChunk);
        std::optional<Sha256Digest> sha;
        if (c.sha256) sha = manifest.GetSha256s()[chunk];
        const auto location = index.Find(bytes.size(), manifest.GetChecksums()[chunk], sha);
        if (!location) continue;
        ++found;
        const auto& source = index.GetSource(location->source);
        const auto old = file::ReadOnlyFile::OpenBeneath(source.folder, source.path);
        ASSERT_NE(old, nullptr);
        std::string there(bytes.size(), '\0');
        ASSERT_TRUE(old->ReadAt(there.data(), there.size(), location->offset));
        EXPECT_TRUE(there == bytes) << "chunk " << chunk << " at " << location->offset;
    }
    EXPECT_EQ(found, c.foundChunks);
    EXPECT_EQ(index.AllFound(), found == manifest.GetChunkCount());
}

INSTANTIATE_TEST_SUITE_P(Cases, ReuseIndexTest, ::testing::ValuesIn(IndexCases()),
                         [](const ::testing::TestParamInfo<IndexCase>& info) { return info.param.name; });

// An old file at the package's own path that already is the new version is
// left in place; one that differs anywhere is not.
TEST(ReuseIndexInPlaceTest, AnOldFileIsInPlaceOnlyWhenEveryChunkIsAtItsOwnOffset) {
    const std::string a = Bytes(5 * kChunk + 10, 5);
    std::string changed = a;
    changed[4 * kChunk + 3] ^= 1;
    testsupport::TestFolder folder;
    folder.Put("same.bin", a);
    folder.Put("changed.bin", changed);
    folder.Put("longer.bin", a + "z");
    testing::TestPackageOptions options;
    options.chunkSize = kChunk;
    options.sha256 = true;
    const auto package = testing::MakePackage({{"same.bin", a}, {"changed.bin", a}, {"longer.bin", a}}, options);
    ReuseIndex index(*package);
    EXPECT_TRUE(index.IsInPlace(index.Scan({folder.Path(), "same.bin", "same.bin"})));
    EXPECT_FALSE(index.IsInPlace(index.Scan({folder.Path(), "changed.bin", "changed.bin"})));
    EXPECT_FALSE(index.IsInPlace(index.Scan({folder.Path(), "longer.bin", "longer.bin"})));
    // Not the old version of its own path: nothing to be in place of.
    EXPECT_FALSE(index.IsInPlace(index.Scan({folder.Path(), "same.bin", ""})));
}

// Old content is read only from regular files reached without a link: a
// link to a file holding the chunks, or to a folder of them, gives nothing.
TEST(ReuseIndexLinkTest, ALinkAmongOldFilesIsNeitherListedNorRead) {
    const std::string a = Bytes(3 * kChunk, 6);
    testsupport::TestFolder outside;
    outside.Put("secret/a.bin", a);
    testsupport::TestFolder folder;
    folder.Put("plain.txt", "x");
    ASSERT_EQ(::symlink((outside / "secret/a.bin").c_str(), (folder / "link.bin").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "secret").c_str(), (folder / "dir").c_str()), 0);
    EXPECT_EQ(file::ListRegularFilesBeneath(folder.Path()), std::vector<std::string>{"plain.txt"});
    EXPECT_EQ(file::ReadOnlyFile::OpenBeneath(folder.Path(), "link.bin"), nullptr);
    EXPECT_EQ(file::ReadOnlyFile::OpenBeneath(folder.Path(), "dir/a.bin"), nullptr);

    testing::TestPackageOptions options;
    options.chunkSize = kChunk;
    options.sha256 = true;
    const auto package = testing::MakePackage({{"a.bin", a}}, options);
    ReuseIndex index(*package);
    index.Scan({folder.Path(), "link.bin", ""});
    index.Scan({folder.Path(), "dir/a.bin", ""});
    EXPECT_EQ(index.GetFigures().foundChunks, 0u);
}

}  // namespace
}  // namespace vrexa
