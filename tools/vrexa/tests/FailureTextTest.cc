#include "tools/vrexa/FailureText.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

namespace vrexa::cli {
namespace {

using FileFault = TransferErrorFacts::FileFault;

TransferStatus Failed(TransferError error, std::string message = {}) {
    TransferStatus status;
    status.transferId = "0123456789abcdef0123456789abcdef";
    status.packageId = "k1";
    status.state = TransferState::Cancelled;
    status.error = error;
    status.message = std::move(message);
    return status;
}

TransferStatus Request(TransferError error, const std::string& url, std::int32_t http, std::int32_t curl = 0,
                       const std::string& curlError = {}) {
    TransferStatus status = Failed(error, "error|manifest|1|7|libcurl error 22 (HTTP 404)");
    status.facts.url = url;
    status.facts.httpStatus = http;
    status.facts.curlCode = curl;
    status.facts.curlError = curlError;
    return status;
}

TransferStatus File(FileFault fault, const std::string& file) {
    TransferStatus status = Failed(TransferError::ChecksumMismatch, "error|6|vrexa::file::NotFoundException");
    status.facts.fileFault = fault;
    status.facts.file = file;
    return status;
}

TEST(FailureTextTest, EachFailureIsOneSentenceNamingWhatFailedAndWhereWithItsExitCode) {
    struct Case {
        std::string name;
        TransferStatus status;
        bool verify;
        std::string sentence;
        int code;
    };
    TransferStatus wrongSize = File(FileFault::WrongSize, "data/big.bin");
    wrongSize.facts.fileSize = 1000;
    wrongSize.facts.expectedSize = 3000000;
    TransferStatus wrongChunk = File(FileFault::WrongChunk, "data/big.bin");
    wrongChunk.facts.chunkFirst = 1048576;
    wrongChunk.facts.chunkLast = 2097151;
    TransferStatus signature = Failed(TransferError::RequestRejected, "the manifest k1 is not signed by a trusted key");
    signature.facts.signatureRefused = true;
    TransferStatus linked = Failed(TransferError::FileAccessError, "error|5|vrexa::file::BadPathException");
    linked.facts.fileFault = FileFault::BadPath;
    TransferStatus denied = Failed(TransferError::FileAccessError, "error|5|vrexa::file::InaccessibleException");
    denied.facts.fileFault = FileFault::NoAccess;
    TransferStatus otherPartner =
        Failed(TransferError::RequestRejected, "Transfer::OnPackageAcquire called but package does not match ids");
    otherPartner.partnerId = "p9";
    otherPartner.versionId = "?";
    const std::string h = "http://127.0.0.1:49233";
    const std::vector<Case> cases = {
        {"a version the package lacks", Request(TransferError::RequestRejected, h + "/manifests/k1/v9.xml", 404), false,
         "package \"k1\" has no version \"v9\" at " + h + "/manifests/k1/v9.xml (HTTP 404)", kExitNotFound},
        {"a package with no current version",
         Request(TransferError::RequestRejected, h + "/manifests/nope/current.xml", 410), false,
         "package \"nope\" has no current version at " + h + "/manifests/nope/current.xml (HTTP 410)", kExitNotFound},
        {"a partner without a node list", Request(TransferError::RequestRejected, h + "/nodes/p9.xml", 404), false,
         "partner \"p9\" has no node list at " + h + "/nodes/p9.xml (HTTP 404)", kExitNotFound},
        {"a file a node lacks", Request(TransferError::RequestRejected, h + "/packages/p1/k1/v1/setup", 404), false,
         "the download node 127.0.0.1:49233 does not have " + h + "/packages/p1/k1/v1/setup (HTTP 404)", kExitFailed},
        {"a document over the cap", Request(TransferError::RequestRejected, h + "/nodes/p1.xml", 200), false,
         h + "/nodes/p1.xml is not a document vrexa can use", kExitFailed},
        {"a manifest for another partner", otherPartner, false,
         "the manifest found for package \"k1\" is not for partner \"p9\"", kExitFailed},
        {"a refusal", Request(TransferError::RequestRejected, h + "/nodes/p1.xml", 403), false,
         "the server refused " + h + "/nodes/p1.xml (HTTP 403)", kExitFailed},
        {"a host that does not resolve",
         Request(TransferError::NetworkError, "http://manifests.example.invalid/nodes/p1.xml", 0,
                 CURLE_COULDNT_RESOLVE_HOST, "Could not resolve host: manifests.example.invalid"),
         false, "cannot resolve host manifests.example.invalid", kExitNetwork},
        {"a port nobody listens on",
         Request(TransferError::NetworkError, "http://127.0.0.1:1/nodes/p1.xml", 0, CURLE_COULDNT_CONNECT,
                 "Failed to connect to 127.0.0.1 port 1 after 0 ms: Couldn't connect to server"),
         false,
         "cannot connect to 127.0.0.1:1: Failed to connect to 127.0.0.1 port 1 after 0 ms: Couldn't connect "
         "to server",
         kExitNetwork},
        {"a host that does not answer",
         Request(TransferError::NetworkError, h + "/nodes/p1.xml", 0, CURLE_OPERATION_TIMEDOUT,
                 "Operation timed out after 30001 milliseconds with 0 bytes received"),
         false,
         "127.0.0.1:49233 did not answer in time for " + h +
             "/nodes/p1.xml: Operation timed out after 30001 milliseconds with 0 bytes received",
         kExitNetwork},
        {"a certificate not trusted",
         Request(TransferError::NetworkError, "https://[::1]:8443/nodes/p1.xml", 0, CURLE_PEER_FAILED_VERIFICATION,
                 "SSL certificate problem: self-signed certificate"),
         false, "the secure connection to [::1]:8443 failed: SSL certificate problem: self-signed certificate",
         kExitNetwork},
        {"a server failure", Request(TransferError::NetworkError, h + "/packages/k1/data/big.bin", 503, 22), false,
         "the server failed to send " + h + "/packages/k1/data/big.bin (HTTP 503)", kExitNetwork},
        {"libcurl's words when its buffer is empty", Request(TransferError::NetworkError, h + "/x", 0, 56), false,
         "the request for " + h + "/x failed: Failure when receiving data from the peer", kExitNetwork},
        {"a signature refused", signature, false, "the manifest k1 is not signed by a trusted key", kExitAuthenticity},
        {"a missing file", File(FileFault::Missing, "data/big.bin"), true, "data/big.bin is missing in /srv/dest",
         kExitMismatch},
        {"a file that cannot be opened", File(FileFault::Unreadable, "data/big.bin"), true,
         "data/big.bin cannot be opened in /srv/dest", kExitMismatch},
        {"a truncated file", wrongSize, true, "data/big.bin is 1000 bytes, the package says 3000000", kExitMismatch},
        {"a damaged chunk", wrongChunk, true, "data/big.bin: bytes 1048576-2097151 do not match the package",
         kExitMismatch},
        {"a damaged chunk while downloading", wrongChunk, false,
         "data/big.bin: bytes 1048576-2097151 as the download nodes sent them do not match the package", kExitFailed},
        {"a link in the destination", linked, false,
         "a file of the package would be written through a link or out of /srv/dest", kExitFileSystem},
        {"no permission", denied, false, "permission denied writing into /srv/dest", kExitFileSystem},
        {"no space", Failed(TransferError::InsufficientSpace, "error|4|vrexa::file::InsufficientSpaceException"), false,
         "there is not enough free space in /srv/dest for the package", kExitFileSystem},
        {"a destination in use",
         Failed(TransferError::FileAccessError,
                "Transfer::Start found the destination /srv/dest is in use by transfer "
                "fedcba9876543210fedcba9876543210"),
         false, "the destination /srv/dest is in use by transfer fedcba9876543210fedcba9876543210", kExitFileSystem},
        {"a file that cannot be written", Failed(TransferError::FileWriteError, "error|7|vrexa::file::Unknown"), false,
         "cannot write the package in /srv/dest", kExitFileSystem},
        {"a country the package is closed to", Failed(TransferError::GeofenceBlocked, "error|10|Geofence|SE"), false,
         "package \"k1\" may not be downloaded from this country", kExitFailed},
        {"an inconsistency", Failed(TransferError::Unknown, "Transfer::OnWorkComplete called with no data"), false,
         "the transfer failed: Transfer::OnWorkComplete called with no data", kExitFailed},
    };
    for (const Case& c : cases) {
        const FailureReport report = DescribeFailure(c.status, {c.verify, "/srv/dest"});
        EXPECT_EQ(report.sentence, c.sentence) << c.name;
        EXPECT_EQ(report.exitCode, c.code) << c.name;
    }
}

TEST(FailureTextTest, TheRawAccountKeepsTheStatusTextAndLibcurlsResult) {
    const TransferStatus status = Request(TransferError::RequestRejected, "http://h/manifests/k1/v9.xml", 404, 22,
                                          "The requested URL returned error: 404");
    EXPECT_EQ(RawFailure(status),
              "[RequestRejected] error|manifest|1|7|libcurl error 22 (HTTP 404); libcurl error 22: The requested URL "
              "returned error: 404");
}

}  // namespace
}  // namespace vrexa::cli
