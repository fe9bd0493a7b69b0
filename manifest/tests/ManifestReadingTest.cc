#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manifest/DocumentLimits.h"
#include "manifest/ManifestException.h"
#include "manifest/NodeStatistics.h"
#include "manifest/StandardFileManifest.h"
#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardNodeManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/XmlDocument.h"
#include "manifest/tests/TreeDocuments.h"

namespace vrexa {
namespace {

using testing::FileXml;
using testing::JsonTree;
using testing::PackageXml;
using testing::XmlTree;

enum class Kind { Package, NodeList, Geolocation };

struct ReadingCase {
    const char* name;
    Kind kind;
    std::string document;
    bool valid;
};

void ReadDocument(Kind kind, const std::string& document) {
    switch (kind) {
        case Kind::Package:
            StandardPackageManifest().Read(XmlTree(document));
            return;
        case Kind::NodeList:
            StandardNodeListManifest().Read(XmlTree(document));
            return;
        case Kind::Geolocation:
            StandardGeolocationManifest().Read(JsonTree(document));
            return;
    }
}

// The SHA-256 of "abc", of nothing, and one with upper-case digits.
const std::string kAbcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kUpperSha = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

// A file entry of size 10 in chunks of 4 (three chunks) with these strong hashes.
std::string TenBytesWithSha(const std::string& sha256) {
    return "<file><path>a</path><chunksize>4</chunksize><size>10</size><checksums>000000010000000200000003"
           "</checksums><sha256>" +
           sha256 + "</sha256></file>";
}

// A file of size 10 in chunks of 4: three chunks, 24 checksum characters.
const std::string kChecksums24 = "00000001aBcDeF0100000003";
const std::string kTenBytes = FileXml("data/a.bin", "4", "10", kChecksums24);
const std::string kRunFile = FileXml("setup/start.exe", "4", "4", "cbf43926");

// A package with the given ids and no files.
std::string IdsXml(const std::string& id, const std::string& partner, const std::string& version) {
    return "<package><id>" + id + "</id><name>D</name><partnerId>" + partner + "</partnerId><versionId>" + version +
           "</versionId><files/></package>";
}

std::string Version(const std::string& inner) { return "<version>" + inner + "</version>"; }
std::string Codes(const std::string& inner) { return "<countryCodes>" + inner + "</countryCodes>"; }
std::string Node(const std::string& inner) { return "<NodeInfo>" + inner + "</NodeInfo>"; }
std::string NodeList(const std::string& inner) { return "<ArrayOfNodeInfo>" + inner + "</ArrayOfNodeInfo>"; }

const ReadingCase kCases[] = {
    // Package header.
    {"EmptyFileListIsAllowed", Kind::Package, PackageXml(""), true},
    {"PackageElementMissing", Kind::Package, "<pkg><id>P1</id></pkg>", false},
    {"FilesElementMissing", Kind::Package,
     "<package><id>P1</id><name>D</name><partnerId>N</partnerId><versionId>1</versionId></package>", false},
    {"IdMissing", Kind::Package,
     "<package><name>D</name><partnerId>N</partnerId><versionId>1</versionId><files/></package>", false},
    {"NameEmpty", Kind::Package,
     "<package><id>P1</id><name></name><partnerId>N</partnerId><versionId>1</versionId><files/>"
     "</package>",
     false},
    {"PartnerIdEmpty", Kind::Package,
     "<package><id>P1</id><name>D</name><partnerId/><versionId>1</versionId><files/></package>", false},
    {"PackageVersionIdEmpty", Kind::Package,
     "<package><id>P1</id><name>D</name><partnerId>N</partnerId><versionId/><files/></package>", false},
    {"HeaderFieldsAsAttributes", Kind::Package,
     R"(<package id="P1" name="D" partnerId="N" versionId="1"><files/></package>)", true},
    {"FilesWithForeignChild", Kind::Package, PackageXml(kTenBytes + "<folder/>"), false},
    {"FilesWithComment", Kind::Package, PackageXml("<!-- none -->" + kTenBytes), false},
    {"FilesWithAttribute", Kind::Package,
     "<package><id>P1</id><name>D</name><partnerId>N</partnerId><versionId>42</versionId>"
     "<files count=\"1\">" +
         kTenBytes + "</files></package>",
     false},

    {"PrettyPrintedWithComments", Kind::Package,
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<!-- published -->\n"
     "<package>\n  <id>P1</id>\n  <name>Demo</name>\n  <partnerId>N7</partnerId>\n"
     "  <versionId>42</versionId>\n  <run>setup/start.exe</run>\n"
     "  <version>\n    <id>42</id>\n    <run>setup/start.exe</run>\n"
     "    <policy>Whitelist</policy>\n"
     "    <countryCodes>\n      <countryCode>SE</countryCode>\n    </countryCodes>\n"
     "  </version>\n"
     "  <files>\n"
     "    <file>\n      <!-- the installer -->\n      <path>setup/start.exe</path>\n"
     "      <chunksize>4</chunksize>\n      <size>4</size>\n      <checksums>cbf43926</checksums>\n"
     "    </file>\n"
     "  </files>\n"
     "</package>\n",
     true},

    // The run file.
    {"RunMatchesAFile", Kind::Package, PackageXml(kTenBytes + kRunFile, "<run>setup/start.exe</run>"), true},
    {"RunDiffersInCase", Kind::Package, PackageXml(kRunFile, "<run>Setup/Start.exe</run>"), false},
    {"RunDiffersInSeparator", Kind::Package, PackageXml(kRunFile, "<run>setup\\start.exe</run>"), false},
    {"RunNamesNoFile", Kind::Package, PackageXml(kTenBytes, "<run>setup/start.exe</run>"), false},

    // The version block.
    {"VersionMatchingIdAndRun", Kind::Package,
     PackageXml(kRunFile, "<run>setup/start.exe</run>" + Version("<id>42</id><run>setup/start.exe</run>")), true},
    {"VersionIdDiffers", Kind::Package, PackageXml("", Version("<id>41</id>")), false},
    {"VersionIdMissing", Kind::Package, PackageXml("", Version("<policy>None</policy>")), false},
    {"VersionIdEmpty", Kind::Package, PackageXml("", Version("<id/>")), false},
    {"VersionRunDiffers", Kind::Package, PackageXml(kRunFile, "<run>setup/start.exe</run>" + Version("<id>42</id>")),
     false},
    {"VersionRunWithoutPackageRun", Kind::Package,
     PackageXml(kRunFile, Version("<id>42</id><run>setup/start.exe</run>")), false},
    {"VersionCodesWithoutPolicy", Kind::Package,
     PackageXml("", Version("<id>42</id>" + Codes("<countryCode>SE</countryCode>"))), false},
    {"VersionCodesWithEmptyPolicy", Kind::Package,
     PackageXml("", Version("<id>42</id><policy/>" + Codes("<countryCode>SE</countryCode>"))), false},
    {"VersionPolicyNoneWithCodes", Kind::Package,
     PackageXml("", Version("<id>42</id><policy>None</policy>" + Codes("<countryCode>SE</countryCode>"))), true},
    {"VersionUnknownPolicy", Kind::Package, PackageXml("", Version("<id>42</id><policy>whitelist</policy>")), false},
    {"VersionCodeOfThreeLetters", Kind::Package,
     PackageXml("", Version("<id>42</id><policy>Whitelist</policy>" + Codes("<countryCode>SWE</countryCode>"))), false},
    {"VersionCodeListWithForeignChild", Kind::Package,
     PackageXml(
         "", Version("<id>42</id><policy>Whitelist</policy>" + Codes("<countryCode>SE</countryCode><code>NO</code>"))),
     false},

    // File entries.
    {"ChecksumsOf24Characters", Kind::Package, PackageXml(kTenBytes), true},
    {"ChecksumsOf23Characters", Kind::Package, PackageXml(FileXml("a", "4", "10", kChecksums24.substr(1))), false},
    {"ChecksumsOf25Characters", Kind::Package, PackageXml(FileXml("a", "4", "10", kChecksums24 + "0")), false},
    {"EmptyFileWithEmptyChecksums", Kind::Package, PackageXml(FileXml("a", "4", "0", "")), true},
    {"EmptyFileWithAChecksum", Kind::Package, PackageXml(FileXml("a", "4", "0", "00000000")), false},
    {"ChecksumsMissing", Kind::Package, PackageXml("<file><path>a</path><chunksize>4</chunksize><size>0</size></file>"),
     false},
    {"ChecksumGroupWithoutDigits", Kind::Package, PackageXml(FileXml("a", "4", "4", "zzzzzzzz")), false},
    {"FileFieldsAsAttributes", Kind::Package,
     PackageXml(R"(<file path="a" chunksize="4" size="4" checksums="0000000a"/>)"), true},
    {"PathEmpty", Kind::Package, PackageXml(FileXml("", "4", "4", "00000000")), false},
    {"PathMissing", Kind::Package, PackageXml("<file><chunksize>4</chunksize><size>0</size><checksums/></file>"),
     false},
    {"ChunkSizeZero", Kind::Package, PackageXml(FileXml("a", "0", "0", "")), false},
    {"ChunkSizeNotANumber", Kind::Package, PackageXml(FileXml("a", "four", "0", "")), false},
    {"ChunkSizeNegative", Kind::Package, PackageXml(FileXml("a", "-1", "0", "")), false},
    {"ChunkSizeBeyond32Bits", Kind::Package, PackageXml(FileXml("a", "4294967296", "0", "")), false},
    {"ChunkSizeLargest32Bits", Kind::Package, PackageXml(FileXml("a", "4294967295", "0", "")), true},
    {"SizeMissing", Kind::Package, PackageXml("<file><path>a</path><chunksize>4</chunksize><checksums/></file>"),
     false},
    {"SizeBeyond64Bits", Kind::Package, PackageXml(FileXml("a", "4", "18446744073709551616", "")), false},
    {"ChunkCountBeyondLimit", Kind::Package, PackageXml(FileXml("a", "1", "536870912", "")), false},
    {"ChunkCountRoundingOverflows", Kind::Package, PackageXml(FileXml("a", "2", "18446744073709551615", "")), false},

    // Strong hashes: optional, but when present exactly 64 hexadecimal digits
    // per chunk, of either case.
    {"Sha256ForEveryChunk", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + kEmptySha + kAbcSha)), true},
    {"Sha256InUpperCase", Kind::Package, PackageXml(TenBytesWithSha(kUpperSha + kEmptySha + kUpperSha)), true},
    {"Sha256AsAttribute", Kind::Package,
     PackageXml(R"(<file path="a" chunksize="4" size="3" checksums="352441c2" sha256=")" + kAbcSha + R"("/>)"), true},
    {"Sha256EmptyForEmptyFile", Kind::Package,
     PackageXml("<file><path>a</path><chunksize>4</chunksize><size>0</size><checksums/><sha256/></file>"), true},
    {"Sha256EmptyForNonEmptyFile", Kind::Package, PackageXml(TenBytesWithSha("")), false},
    {"Sha256ForEmptyFile", Kind::Package,
     PackageXml("<file><path>a</path><chunksize>4</chunksize><size>0</size><checksums/><sha256>" + kEmptySha +
                "</sha256></file>"),
     false},
    {"Sha256OneChunkMissing", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + kEmptySha)), false},
    {"Sha256OneChunkTooMany", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + kEmptySha + kAbcSha + kAbcSha)),
     false},
    {"Sha256OneDigitShort", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + kEmptySha + kAbcSha.substr(1))), false},
    {"Sha256OneDigitLong", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + kEmptySha + kAbcSha + "0")), false},
    {"Sha256NonHexDigit", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + "g" + kEmptySha.substr(1) + kAbcSha)),
     false},
    {"Sha256WithSpaces", Kind::Package, PackageXml(TenBytesWithSha(kAbcSha + " " + kEmptySha.substr(1) + kAbcSha)),
     false},
    {"Sha256WithSurroundingWhitespace", Kind::Package,
     PackageXml(TenBytesWithSha("\n" + kAbcSha + kEmptySha + kAbcSha.substr(1))), false},

    // Paths must stay inside the destination folder.
    {"PathWithLeadingSlash", Kind::Package, PackageXml(FileXml("/bin/a.exe", "4", "0", "")), true},
    {"PathClimbingOut", Kind::Package, PackageXml(FileXml("../a.exe", "4", "0", "")), false},
    {"PathClimbingOutWithBackslashes", Kind::Package, PackageXml(FileXml("bin\\..\\..\\a.exe", "4", "0", "")), false},
    {"PathWithDrive", Kind::Package, PackageXml(FileXml("C:\\a.exe", "4", "0", "")), false},
    {"PathWithRootName", Kind::Package, PackageXml(FileXml("/\\\\server\\share\\a.exe", "4", "0", "")), false},

    // A path names each folder by name only: the chunk URL and the place on
    // disk are then the same for every spelling the reader accepts.
    {"PathWithDotSegment", Kind::Package, PackageXml(FileXml("a/./b", "4", "0", "")), false},
    {"PathWithEmptySegment", Kind::Package, PackageXml(FileXml("a//b", "4", "0", "")), false},
    {"PathEndingInSlash", Kind::Package, PackageXml(FileXml("a/b/", "4", "0", "")), false},
    {"PathOfSlashesOnly", Kind::Package, PackageXml(FileXml("///", "4", "0", "")), false},
    {"PathWithDotSegmentAfterBackslash", Kind::Package, PackageXml(FileXml("a\\.\\b", "4", "0", "")), false},
    {"PathWithLeadingDot", Kind::Package, PackageXml(FileXml("./a", "4", "0", "")), false},
    {"PathWithDotsInNames", Kind::Package, PackageXml(FileXml("a/.b/c..d/...", "4", "0", "")), true},
    {"PathWithColonAfterFirstLetter", Kind::Package, PackageXml(FileXml("x:y.bin", "4", "0", "")), false},

    // Chunks below the minimum size only in files smaller than it.
    {"ChunkSizeBelowMinimumInLargeFile", Kind::Package, PackageXml(FileXml("a", "4095", "4096", std::string(16, '0'))),
     false},
    {"OneByteChunksInLargeFile", Kind::Package, PackageXml(FileXml("a", "1", "4096", std::string(8 * 4096, '0'))),
     false},
    {"ChunkSizeAtMinimum", Kind::Package, PackageXml(FileXml("a", "4096", "8193", std::string(24, '0'))), true},
    {"SmallChunksInSmallFile", Kind::Package, PackageXml(FileXml("a", "1", "4095", std::string(8 * 4095, '0'))), true},
    {"ChunkSizeZeroInEmptyFile", Kind::Package, PackageXml(FileXml("a", "0", "0", "")), false},

    // Ids are one URL segment each.
    {"IdDotDot", Kind::Package, IdsXml("..", "N7", "42"), false},
    {"IdDot", Kind::Package, IdsXml(".", "N7", "42"), false},
    {"IdWithSlash", Kind::Package, IdsXml("P/1", "N7", "42"), false},
    {"PartnerIdDotDot", Kind::Package, IdsXml("P1", "..", "42"), false},
    {"PartnerIdWithSlash", Kind::Package, IdsXml("P1", "../../x", "42"), false},
    {"VersionIdDot", Kind::Package, IdsXml("P1", "N7", "."), false},
    {"VersionIdWithSlash", Kind::Package, IdsXml("P1", "N7", "4/2"), false},
    {"IdsNeedingEncoding", Kind::Package, IdsXml("P 1?", "N#7", "4%2"), true},

    // Node lists.
    {"NodeListOfTwo", Kind::NodeList,
     NodeList(Node("<NodeId>1</NodeId><Host>a.test</Host>") + Node("<NodeId>2</NodeId><Host>b.test</Host>")), true},
    {"NodeListWithNamespaceAttributes", Kind::NodeList,
     R"(<ArrayOfNodeInfo xmlns:i="http://www.w3.org/2001/XMLSchema-instance" xmlns="urn:n">)" +
         Node("<NodeId>1</NodeId><Host>a.test</Host>") + "</ArrayOfNodeInfo>",
     true},
    {"NodeListPrettyPrinted", Kind::NodeList,
     "<?xml version=\"1.0\"?>\n<ArrayOfNodeInfo>\n  <NodeInfo>\n    <NodeId>1</NodeId>\n"
     "    <Host>a.test</Host>\n    <Weight>3</Weight>\n  </NodeInfo>\n</ArrayOfNodeInfo>\n",
     true},
    {"NodeListWithoutNodes", Kind::NodeList, NodeList("<Other/>"), false},
    {"NodeListElementMissing", Kind::NodeList, "<Nodes>" + Node("<NodeId>1</NodeId><Host>a.test</Host>") + "</Nodes>",
     false},
    {"NodeIdMissing", Kind::NodeList, NodeList(Node("<Host>a.test</Host>")), false},
    {"NodeIdEmpty", Kind::NodeList, NodeList(Node("<NodeId/><Host>a.test</Host>")), false},
    {"NodeHostEmpty", Kind::NodeList, NodeList(Node("<NodeId>1</NodeId><Host/>")), false},
    {"NodeHostMissing", Kind::NodeList, NodeList(Node("<NodeId>1</NodeId>")), false},

    // Geolocation answers.
    {"GeolocationComplete", Kind::Geolocation,
     R"({"ip":"192.0.2.1","country_code":"SE","country_name":"Sweden","country_code3":"SWE",)"
     R"("continent_code":"EU","isp":"Example"})",
     true},
    {"GeolocationWithoutOptionalKeys", Kind::Geolocation, R"({"ip":"192.0.2.1","country_code":"SE"})", true},
    {"GeolocationCountryCodeEmpty", Kind::Geolocation, R"({"ip":"192.0.2.1","country_code":""})", false},
    {"GeolocationIpMissing", Kind::Geolocation, R"({"country_code":"SE"})", false},
    {"GeolocationIpEmpty", Kind::Geolocation, R"({"ip":"","country_code":"SE"})", false},
};

void PrintTo(const ReadingCase& c, std::ostream* out) { *out << c.name; }

class ManifestReadingCase : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ManifestReadingCase, AcceptsValidDocumentsAndRejectsInvalidOnesWithParseException) {
    const ReadingCase& c = GetParam();
    if (c.valid) {
        EXPECT_NO_THROW(ReadDocument(c.kind, c.document)) << c.document;
    } else {
        EXPECT_THROW(ReadDocument(c.kind, c.document), ManifestParseException) << c.document;
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, ManifestReadingCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Sources read a package's file entries one at a time while the document is
// parsed: every document reads exactly as from the whole tree.
TEST(PackageManifestReading, EntriesReadWhileParsingGiveTheSameResultAsTheWholeTree) {
    std::vector<ReadingCase> packages;
    for (const ReadingCase& c : kCases)
        if (c.kind == Kind::Package) packages.push_back(c);
    packages.push_back({"TwoFileLists", Kind::Package, PackageXml(kTenBytes) + "", true});
    packages.back().document.insert(packages.back().document.rfind("</package>"), "<files>" + kRunFile + "</files>");
    packages.push_back({"FilesWithText", Kind::Package, PackageXml("listed" + kTenBytes), true});
    for (const ReadingCase& c : packages) {
        SCOPED_TRACE(c.name);
        const auto read = [&](bool streaming) {
            StandardPackageManifest package;
            std::istringstream stream(c.document);
            boost::property_tree::ptree tree;
            ReadXmlDocument(stream, tree, kPackageManifestLimits, streaming ? package.GetStreamedEntries() : nullptr);
            package.Read(tree);
            std::vector<std::string> files;
            for (const auto& file : package.GetFiles()) {
                std::string line = file->GetPath() + "|" + std::to_string(file->GetChunkSize()) + "|" +
                                   std::to_string(file->GetSize());
                for (std::uint32_t checksum : file->GetChecksums())
                    line += "|" + std::to_string(checksum);
                files.push_back(line);
            }
            files.push_back("run: " + (package.GetRunFile() ? package.GetRunFile()->GetPath() : "-"));
            return files;
        };
        if (!c.valid) {
            EXPECT_THROW(read(true), ManifestParseException);
            continue;
        }
        const std::vector<std::string> whole = read(false);
        EXPECT_EQ(read(true), whole);
        EXPECT_GT(whole.size(), 0u);
    }
}

// What the accepted documents read as.

StandardPackageManifest ReadPackage(const std::string& document) {
    StandardPackageManifest package;
    package.Read(XmlTree(document));
    return package;
}

TEST(PackageManifestReading, ReadsHeaderFieldsAndDefaults) {
    const auto package = ReadPackage(PackageXml(kTenBytes));
    EXPECT_EQ(package.GetId(), "P1");
    EXPECT_EQ(package.GetName(), "Demo");
    EXPECT_EQ(package.GetPartnerId(), "N7");
    EXPECT_EQ(package.GetVersionId(), "42");
    EXPECT_EQ(package.GetRun(), "");
    EXPECT_TRUE(package.IsActive());
    EXPECT_EQ(package.GetRunFile(), nullptr);
    EXPECT_TRUE(package.GetRunFiles().empty());
    EXPECT_EQ(package.GetOtherFiles().size(), 1u);
    EXPECT_EQ(package.GetVersion(), nullptr);
    EXPECT_TRUE(package.IsCountryAllowed("SE"));
}

TEST(PackageManifestReading, TakesValuesVerbatim) {
    const auto package = ReadPackage(
        "<package><id> P1 </id><name>Demo</name><partnerId>N7</partnerId>"
        "<versionId>42</versionId><files/></package>");
    EXPECT_EQ(package.GetId(), " P1 ");
}

TEST(PackageManifestReading, ReadsIsActiveFlag) {
    const struct {
        const char* text;
        bool active;
    } cases[] = {{"true", true}, {"false", false}, {"1", true},     {"0", false},
                 {"yes", true},  {"", true},       {"False", true}, {"2", true}};
    for (const auto& c : cases) {
        const auto package = ReadPackage(PackageXml("", std::string("<isActive>") + c.text + "</isActive>"));
        EXPECT_EQ(package.IsActive(), c.active) << '"' << c.text << '"';
    }
}

TEST(PackageManifestReading, SplitsRunFileFromOtherFilesInDocumentOrder) {
    const auto package = ReadPackage(PackageXml(
        FileXml("b.dat", "4", "0", "") + kRunFile + FileXml("a.dat", "4", "0", ""), "<run>setup/start.exe</run>"));
    ASSERT_EQ(package.GetFiles().size(), 3u);
    ASSERT_NE(package.GetRunFile(), nullptr);
    EXPECT_EQ(package.GetRunFile(), package.GetFiles()[1]);
    ASSERT_EQ(package.GetRunFiles().size(), 1u);
    EXPECT_EQ(package.GetRunFiles()[0], package.GetFiles()[1]);
    ASSERT_EQ(package.GetOtherFiles().size(), 2u);
    EXPECT_EQ(package.GetOtherFiles()[0]->GetPath(), "b.dat");
    EXPECT_EQ(package.GetOtherFiles()[1]->GetPath(), "a.dat");
    EXPECT_EQ(package.GetTotalSize(), 4u);
}

TEST(PackageManifestReading, LaterRunFileReplacesEarlierOne) {
    const auto package = ReadPackage(
        PackageXml(kRunFile + FileXml("setup/start.exe", "8", "8", "00000000"), "<run>setup/start.exe</run>"));
    EXPECT_EQ(package.GetRunFiles().size(), 2u);
    EXPECT_TRUE(package.GetOtherFiles().empty());
    EXPECT_EQ(package.GetRunFile(), package.GetFiles()[1]);
}

TEST(PackageManifestReading, ReadsFileEntry) {
    const auto package = ReadPackage(PackageXml(kTenBytes));
    const FileManifest& file = *package.GetFiles().at(0);
    EXPECT_EQ(file.GetPath(), "data/a.bin");
    EXPECT_EQ(file.GetChunkSize(), 4u);
    EXPECT_EQ(file.GetSize(), 10u);
    EXPECT_EQ(file.GetChunkCount(), 3u);
    EXPECT_EQ(file.GetChecksums(), (std::vector<std::uint32_t>{0x1, 0xABCDEF01, 0x3}));
    EXPECT_EQ(package.GetTotalSize(), 10u);
}

TEST(PackageManifestReading, ReadsStrongHashesInChunkOrderAndNoneWhenAbsent) {
    const Sha256Digest abc = *ParseSha256Text(kAbcSha);
    const Sha256Digest empty = *ParseSha256Text(kEmptySha);
    const auto xml = ReadPackage(PackageXml(TenBytesWithSha(kAbcSha + kUpperSha + kEmptySha) + kTenBytes));
    EXPECT_EQ(xml.GetFiles().at(0)->GetSha256s(), (std::vector<Sha256Digest>{abc, abc, empty}));
    EXPECT_TRUE(xml.GetFiles().at(1)->GetSha256s().empty());

    // The JSON form carries the same text under the same key.
    StandardPackageManifest json;
    json.Read(JsonTree(R"({"package":{"id":"P1","name":"Demo","partnerId":"N7","versionId":"42","files":)"
                       R"({"file":{"path":"a","chunksize":"4","size":"3","checksums":"352441c2","sha256":")" +
                       kAbcSha + R"("}}}})"));
    EXPECT_EQ(json.GetFiles().at(0)->GetSha256s(), std::vector<Sha256Digest>{abc});
}

TEST(PackageManifestReading, SumsSizesOfAllFilesWithoutWrapping) {
    const auto package = ReadPackage(PackageXml(FileXml("a", "4294967295", "4294967295", "00000000") +
                                                FileXml("b", "4294967295", "4294967295", "00000000")));
    EXPECT_EQ(package.GetTotalSize(), 2ull * 4294967295ull);
}

TEST(PackageManifestReading, ReadsChecksumGroupsAsHexadecimalStreamWould) {
    const struct {
        const char* group;
        std::uint32_t value;
    } cases[] = {
        {"DEADBEEF", 0xDEADBEEF}, {"deadbeef", 0xDEADBEEF}, {"  1a2b3c", 0x1A2B3C}, {"1a2b3c  ", 0x1A2B3C},
        {"0x1a2b3c", 0x1A2B3C},   {"0000000g", 0},          {"12g45678", 0x12},
    };
    for (const auto& c : cases) {
        const auto package = ReadPackage(PackageXml(FileXml("a", "4", "4", c.group)));
        EXPECT_EQ(package.GetFiles()[0]->GetChecksums(), std::vector<std::uint32_t>{c.value}) << c.group;
    }
}

TEST(PackageManifestReading, RejectsChecksumGroupsWithoutAnyDigit) {
    for (const char* group : {"        ", "-1234567", "g0000000", "+       "}) {
        EXPECT_THROW(ReadPackage(PackageXml(FileXml("a", "4", "4", group))), ManifestParseException) << group;
    }
}

TEST(PackageManifestReading, AppliesCountryPolicy) {
    const auto withPolicy = [](const std::string& policy) {
        return ReadPackage(
            PackageXml("", Version("<id>42</id><policy>" + policy + "</policy>" +
                                   Codes("<countryCode>SE</countryCode><countryCode>NO</countryCode>"))));
    };
    const auto whitelist = withPolicy("Whitelist");
    ASSERT_NE(whitelist.GetVersion(), nullptr);
    EXPECT_EQ(whitelist.GetVersion()->GetPolicy(), PackageVersionManifest::Policy::Whitelist);
    EXPECT_EQ(whitelist.GetVersion()->GetCountryCodes(), (std::vector<std::string>{"SE", "NO"}));
    EXPECT_TRUE(whitelist.IsCountryAllowed("SE"));
    EXPECT_TRUE(whitelist.IsCountryAllowed("NO"));
    EXPECT_FALSE(whitelist.IsCountryAllowed("se"));
    EXPECT_FALSE(whitelist.IsCountryAllowed("DK"));

    const auto blacklist = withPolicy("Blacklist");
    EXPECT_FALSE(blacklist.IsCountryAllowed("SE"));
    EXPECT_TRUE(blacklist.IsCountryAllowed("DK"));
    EXPECT_TRUE(blacklist.IsCountryAllowed("se"));

    const auto none = withPolicy("None");
    EXPECT_EQ(none.GetVersion()->GetPolicy(), PackageVersionManifest::Policy::None);
    EXPECT_TRUE(none.IsCountryAllowed("SE"));
    EXPECT_TRUE(none.IsCountryAllowed("DK"));
}

TEST(PackageManifestReading, VersionWithoutPolicyOrCodesAllowsEveryCountry) {
    const auto package = ReadPackage(PackageXml("", Version("<id>42</id>")));
    ASSERT_NE(package.GetVersion(), nullptr);
    EXPECT_EQ(package.GetVersion()->GetPolicy(), PackageVersionManifest::Policy::None);
    EXPECT_TRUE(package.IsCountryAllowed("DK"));
}

TEST(FileManifestChunkCount, CountsChunksAndRefusesCountsBeyondLimit) {
    constexpr std::uint64_t kMax64 = 0xFFFFFFFFFFFFFFFFull;
    const struct {
        std::uint64_t size;
        std::uint32_t chunkSize;
        std::int64_t count;  // -1: overflow
    } cases[] = {
        {10, 4, 3},
        {12, 4, 3},
        {0, 4, 0},
        {1, 4, 1},
        {5, 0, 0},
        {0x1FFFFFFF, 1, 0x1FFFFFFF},
        {0x20000000, 1, -1},
        {kMax64, 2, -1},
        {kMax64, 0xFFFFFFFF, -1},
        {0x1FFFFFFFull * 0xFFFFFFFFull, 0xFFFFFFFF, 0x1FFFFFFF},
        {0x1FFFFFFFull * 0xFFFFFFFFull + 1, 0xFFFFFFFF, -1},
    };
    for (const auto& c : cases) {
        const StandardFileManifest file("a", c.chunkSize, c.size, {});
        if (c.count < 0) {
            EXPECT_THROW(file.GetChunkCount(), ManifestOverflowException) << c.size << '/' << c.chunkSize;
        } else {
            EXPECT_EQ(file.GetChunkCount(), static_cast<std::uint32_t>(c.count)) << c.size << '/' << c.chunkSize;
        }
    }
}

// Node lists.

StandardNodeListManifest ReadNodeList(const std::string& document) {
    StandardNodeListManifest list;
    list.Read(XmlTree(document));
    return list;
}

std::string WeightedNode(const std::string& id, const std::string& weight) {
    return Node("<NodeId>" + id + "</NodeId><Host>" + id + ".test</Host><Weight>" + weight + "</Weight>");
}

TEST(NodeListManifestReading, NormalizesWeights) {
    const struct {
        const char* name;
        std::vector<std::string> weights;
        std::vector<std::string> keptIds;
        std::vector<std::uint32_t> keptWeights;
    } cases[] = {
        {"AllZeroBecomeOne", {"0", "0"}, {"n0", "n1"}, {1, 1}},
        {"ZeroDroppedBesideWeighted", {"0", "5"}, {"n1"}, {5}},
        {"OrderKept", {"3", "0", "2"}, {"n0", "n2"}, {3, 2}},
        {"UnreadableCountsAsOne", {"abc", "-3", ""}, {"n0", "n1", "n2"}, {1, 1, 1}},
        {"LargestWeight", {"4294967295", "0"}, {"n0"}, {4294967295u}},
        {"WeightBeyond32BitsCountsAsOne", {"4294967296"}, {"n0"}, {1}},
        // These sum to 2^32: with a 32-bit sum they would look weightless and the
        // disabled node would be put back in rotation.
        {"LargeWeightsAddingToWrap", {"2147483648", "2147483648", "0"}, {"n0", "n1"}, {2147483648u, 2147483648u}},
    };
    for (const auto& c : cases) {
        std::string nodes;
        for (std::size_t i = 0; i < c.weights.size(); ++i) {
            nodes += WeightedNode("n" + std::to_string(i), c.weights[i]);
        }
        const auto list = ReadNodeList(NodeList(nodes));
        std::vector<std::string> ids;
        std::vector<std::uint32_t> weights;
        for (const auto& node : list.GetNodes()) {
            ids.push_back(node->GetNodeId());
            weights.push_back(node->GetWeight());
        }
        EXPECT_EQ(ids, c.keptIds) << c.name;
        EXPECT_EQ(weights, c.keptWeights) << c.name;
    }
}

TEST(NodeListManifestReading, ReadsNodeFieldsAndNormalizesPath) {
    const struct {
        const char* pathElement;
        const char* path;
    } cases[] = {
        {"", "/packages/"},
        {"<Path>cdn</Path>", "/cdn/"},
        {"<Path/>", "/"},
        {"<Path>/a/b</Path>", "/a/b/"},
        {"<Path>a/b/</Path>", "/a/b/"},
        {"<Path>/</Path>", "/"},
    };
    for (const auto& c : cases) {
        const auto list = ReadNodeList(
            NodeList("<Other/>" + Node(std::string("<NodeId>7</NodeId><Host>h.test:81</Host>") + c.pathElement)));
        ASSERT_EQ(list.GetNodes().size(), 1u);
        const NodeManifest& node = *list.GetNodes()[0];
        EXPECT_EQ(node.GetNodeId(), "7");
        EXPECT_EQ(node.GetHost(), "h.test:81");
        EXPECT_EQ(node.GetPath(), c.path) << c.pathElement;
        EXPECT_EQ(node.GetWeight(), 1u);
        ASSERT_NE(node.GetStatistics(), nullptr);
        EXPECT_EQ(node.GetStatistics()->GetSuccesses() + node.GetStatistics()->GetErrors(), 0u);
    }
}

// Every node no chunk URL can be built for: the host must be HOST[:PORT] or
// https://HOST[:PORT], the path must not climb.
const struct {
    const char* name;
    const char* elements;
} kHostileNodes[] = {
    {"UserInHost", "<Host>user@h.test</Host>"},
    {"SlashInHost", "<Host>h.test/x</Host>"},
    {"QueryInHost", "<Host>h.test?x</Host>"},
    {"FragmentInHost", "<Host>h.test#x</Host>"},
    {"BackslashInHost", "<Host>h.test\\x</Host>"},
    {"SpaceInHost", "<Host>h test</Host>"},
    {"PortNotANumber", "<Host>h.test:http</Host>"},
    {"PortBeyondRange", "<Host>h.test:65536</Host>"},
    {"PortZero", "<Host>h.test:0</Host>"},
    {"EmptyPort", "<Host>h.test:</Host>"},
    {"PlainHttpScheme", "<Host>http://h.test</Host>"},
    {"SecureSchemeWithPath", "<Host>https://h.test/x</Host>"},
    {"SecureSchemeWithoutHost", "<Host>https://</Host>"},
    {"UnclosedIpv6", "<Host>[::1</Host>"},
    {"DotDotInPath", "<Host>h.test</Host><Path>/a/../b/</Path>"},
    {"DotDotPath", "<Host>h.test</Host><Path>..</Path>"},
    {"DotInPath", "<Host>h.test</Host><Path>/a/./</Path>"},
};

TEST(NodeListManifestReading, DropsNodesNoUrlCanBeBuiltForAndKeepsTheOthers) {
    const std::string healthy = Node("<NodeId>ok</NodeId><Host>ok.test:8080</Host><Path>/files/</Path>");
    for (const auto& c : kHostileNodes) {
        const std::string bad = Node(std::string("<NodeId>bad</NodeId>") + c.elements);
        for (const std::string& document : {NodeList(bad + healthy), NodeList(healthy + bad)}) {
            const auto list = ReadNodeList(document);
            ASSERT_EQ(list.GetNodes().size(), 1u) << c.name;
            EXPECT_EQ(list.GetNodes()[0]->GetNodeId(), "ok") << c.name;
        }
        EXPECT_THROW(StandardNodeListManifest().Read(XmlTree(NodeList(bad + bad))), ManifestParseException) << c.name;
    }
}

TEST(NodeListManifestReading, AcceptsEveryHostFormAChunkUrlCanUse) {
    for (const char* host : {"h.test", "h.test:1", "h.test:65535", "127.0.0.1:8080", "[::1]", "[::1]:8443",
                             "https://h.test", "https://h.test:8443", "under_score-and~tilde"}) {
        const auto list = ReadNodeList(NodeList(Node(std::string("<NodeId>1</NodeId><Host>") + host + "</Host>")));
        ASSERT_EQ(list.GetNodes().size(), 1u) << host;
        EXPECT_EQ(list.GetNodes()[0]->GetHost(), host);
    }
}

TEST(NodeListManifestReading, WeightsAreNormalisedAfterDroppingBadNodes) {
    // The only weighted node is unusable: the rest share equally rather than
    // being dropped for their weight of 0.
    const auto list = ReadNodeList(NodeList(Node("<NodeId>a</NodeId><Host>a.test</Host><Weight>0</Weight>") +
                                            Node("<NodeId>b</NodeId><Host>b@test</Host><Weight>5</Weight>")));
    ASSERT_EQ(list.GetNodes().size(), 1u);
    EXPECT_EQ(list.GetNodes()[0]->GetNodeId(), "a");
    EXPECT_EQ(list.GetNodes()[0]->GetWeight(), 1u);
}

TEST(NodeListManifestReading, GivesEachNodeItsOwnStatistics) {
    const auto list = ReadNodeList(NodeList(WeightedNode("a", "1") + WeightedNode("b", "1")));
    ASSERT_EQ(list.GetNodes().size(), 2u);
    EXPECT_NE(list.GetNodes()[0]->GetStatistics(), list.GetNodes()[1]->GetStatistics());
}

TEST(NodeManifest, ResetWeightSetsOne) {
    StandardNodeManifest node("1", "h.test", "p", 9);
    node.ResetWeight();
    EXPECT_EQ(node.GetWeight(), 1u);
}

TEST(NodeManifest, CloneKeepsIdentityAndTakesGivenStatistics) {
    const auto node = std::make_shared<StandardNodeManifest>("1", "h.test", "p", 9);
    const auto statistics = std::make_shared<NodeStatistics>();
    const auto clone = node->CloneWithStatistics(statistics);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, node);
    EXPECT_EQ(clone->GetNodeId(), "1");
    EXPECT_EQ(clone->GetHost(), "h.test");
    EXPECT_EQ(clone->GetPath(), "/p/");
    EXPECT_EQ(clone->GetWeight(), 9u);
    EXPECT_EQ(clone->GetStatistics(), statistics);
    EXPECT_NE(node->GetStatistics(), statistics);
    EXPECT_EQ(clone->shared_from_this(), clone);
}

TEST(NodeManifest, WritesHostPathWeightAndStatistics) {
    StandardNodeManifest node("1", "h.test", "/cdn/", 4000000000u);
    http::RequestStatus status;
    status.state = http::State::Succeeded;
    status.bytes = 3000;
    status.totalTimeMs = 1500;
    node.GetStatistics()->AddSample(status);
    boost::property_tree::ptree tree;
    node.Write(tree);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Node", "h.test"}, {"Path", "/cdn/"}, {"Weight", "4000000000"},          {"Requests", "1"},
        {"Errors", "0"},    {"Bytes", "3000"}, {"Average Request Speed", "2000"},
    };
    std::vector<std::pair<std::string, std::string>> written;
    for (const auto& [key, child] : tree)
        written.emplace_back(key, child.data());
    EXPECT_EQ(written, expected);
}

// Geolocation.

TEST(GeolocationManifestReading, ReadsEveryKeyAndDefaultsOptionalOnes) {
    StandardGeolocationManifest full;
    full.Read(JsonTree(R"({"ip":"192.0.2.1","country_code":"SE","country_name":"Sweden",)"
                       R"("country_code3":"SWE","continent_code":"EU","isp":"Example","x":"1"})"));
    EXPECT_EQ(full.GetIp(), "192.0.2.1");
    EXPECT_EQ(full.GetCountryCode(), "SE");
    EXPECT_EQ(full.GetCountryName(), "Sweden");
    EXPECT_EQ(full.GetCountryCode3(), "SWE");
    EXPECT_EQ(full.GetContinentCode(), "EU");
    EXPECT_EQ(full.GetIsp(), "Example");

    StandardGeolocationManifest minimal;
    minimal.Read(JsonTree(R"({"ip":"192.0.2.1","country_code":"SE"})"));
    EXPECT_EQ(minimal.GetCountryName(), "");
    EXPECT_EQ(minimal.GetCountryCode3(), "");
    EXPECT_EQ(minimal.GetContinentCode(), "");
    EXPECT_EQ(minimal.GetIsp(), "");
}

}  // namespace
}  // namespace vrexa
