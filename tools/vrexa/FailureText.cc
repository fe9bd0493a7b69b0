#include "tools/vrexa/FailureText.h"

#include <curl/curl.h>

#include <vector>

#include "tools/vrexa/StatusFormat.h"

namespace vrexa::cli {
namespace {

using FileFault = TransferErrorFacts::FileFault;

struct UrlParts {
    std::string authority;  // host[:port]
    std::string host;       // without the port
    std::vector<std::string> segments;
};

UrlParts SplitUrl(const std::string& url) {
    UrlParts parts;
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t slash = url.find('/', start);
    parts.authority = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    parts.host = parts.authority;
    // "[::1]:80" keeps its brackets; "h:80" loses the port.
    const std::size_t colon = parts.host.rfind(':');
    if (colon != std::string::npos && parts.host.find(']', colon) == std::string::npos) parts.host.resize(colon);
    if (slash == std::string::npos) return parts;
    std::string path = url.substr(slash + 1);
    if (const std::size_t query = path.find_first_of("?#"); query != std::string::npos) path.resize(query);
    std::size_t from = 0;
    for (;;) {
        const std::size_t next = path.find('/', from);
        parts.segments.push_back(path.substr(from, next == std::string::npos ? std::string::npos : next - from));
        if (next == std::string::npos) break;
        from = next + 1;
    }
    return parts;
}

std::string WithoutXml(const std::string& name) {
    const std::string extension = ".xml";
    if (name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
        return name.substr(0, name.size() - extension.size());
    return name;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Http(std::int32_t code) { return "(HTTP " + std::to_string(code) + ")"; }

// A document the server does not have: which one, by where the documents live
// (/nodes/PARTNER.xml, /manifests/PACKAGE/current.xml,
// /manifests/PACKAGE/VERSION.xml). Anything else is a file of the package a
// download node lacks: the package itself exists.
FailureReport NotFound(const TransferErrorFacts& facts) {
    const UrlParts url = SplitUrl(facts.url);
    const std::vector<std::string>& s = url.segments;
    const std::size_t n = s.size();
    const std::string where = " at " + facts.url + " " + Http(facts.httpStatus);
    if (n >= 2 && s[n - 2] == "nodes") {
        return {"partner " + Quoted(WithoutXml(s[n - 1])) + " has no node list" + where, kExitNotFound};
    }
    if (n >= 3 && s[n - 3] == "manifests") {
        if (s[n - 1] == "current.xml") {
            return {"package " + Quoted(s[n - 2]) + " has no current version" + where, kExitNotFound};
        }
        return {"package " + Quoted(s[n - 2]) + " has no version " + Quoted(WithoutXml(s[n - 1])) + where,
                kExitNotFound};
    }
    return {"the download node " + url.authority + " does not have " + facts.url + " " + Http(facts.httpStatus),
            kExitFailed};
}

// libcurl's words, after a colon, when it has any.
std::string CurlWords(const TransferErrorFacts& facts) {
    if (!facts.curlError.empty()) return ": " + facts.curlError;
    if (facts.curlCode != 0) return std::string(": ") + curl_easy_strerror(static_cast<CURLcode>(facts.curlCode));
    return {};
}

FailureReport Network(const TransferErrorFacts& facts, const std::string& message) {
    const UrlParts url = SplitUrl(facts.url);
    switch (facts.curlCode) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return {"cannot resolve host " + url.host, kExitNetwork};
        case CURLE_COULDNT_RESOLVE_PROXY:
            return {"cannot resolve the proxy for " + facts.url + CurlWords(facts), kExitNetwork};
        case CURLE_COULDNT_CONNECT:
            return {"cannot connect to " + url.authority + CurlWords(facts), kExitNetwork};
        case CURLE_OPERATION_TIMEDOUT:
            return {url.authority + " did not answer in time for " + facts.url + CurlWords(facts), kExitNetwork};
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return {"the secure connection to " + url.authority + " failed" + CurlWords(facts), kExitNetwork};
        default:
            break;
    }
    if (facts.httpStatus >= 500)
        return {"the server failed to send " + facts.url + " " + Http(facts.httpStatus), kExitNetwork};
    if (!facts.url.empty()) return {"the request for " + facts.url + " failed" + CurlWords(facts), kExitNetwork};
    if (message == "time for the document spent") return {"a download document took too long", kExitNetwork};
    return {"the network failed", kExitNetwork};
}

std::string InDest(const FailureContext& context) {
    return context.dest.empty() || context.dest == "?" ? std::string() : " in " + context.dest;
}

FailureReport FileFailure(const TransferStatus& status, const FailureContext& context) {
    const TransferErrorFacts& facts = status.facts;
    const ExitCode mismatch = context.verify ? kExitMismatch : kExitFailed;
    switch (facts.fileFault) {
        case FileFault::Missing:
            return {facts.file + " is missing" + InDest(context), mismatch};
        case FileFault::Unreadable:
            return {facts.file + " cannot be opened" + InDest(context), mismatch};
        case FileFault::WrongSize:
            return {facts.file + " is " + std::to_string(facts.fileSize) + " bytes, the package says " +
                        std::to_string(facts.expectedSize),
                    mismatch};
        case FileFault::WrongChunk:
            return {facts.file + ": bytes " + std::to_string(facts.chunkFirst) + "-" + std::to_string(facts.chunkLast) +
                        (context.verify ? "" : " as the download nodes sent them") + " do not match the package",
                    mismatch};
        default:
            break;
    }
    return {"the package does not match" + InDest(context), mismatch};
}

}  // namespace

FailureReport DescribeFailure(const TransferStatus& status, const FailureContext& context) {
    const TransferErrorFacts& facts = status.facts;
    switch (status.error) {
        case TransferError::RequestRejected:
            if (facts.signatureRefused) return {status.message, kExitAuthenticity};
            // The engine's fixed words for a manifest that answers for
            // another partner, package or version than the one asked for.
            if (status.message == "Transfer::OnPackageAcquire called but package does not match ids") {
                return {"the manifest found for package " + Quoted(status.packageId) + " is not for partner " +
                            Quoted(status.partnerId) +
                            (status.versionId.empty() || status.versionId == "?"
                                 ? std::string()
                                 : " and version " + Quoted(status.versionId)),
                        kExitFailed};
            }
            if (facts.httpStatus == 404 || facts.httpStatus == 410) return NotFound(facts);
            if (facts.httpStatus >= 400)
                return {"the server refused " + facts.url + " " + Http(facts.httpStatus), kExitFailed};
            if (!facts.url.empty())
                return {facts.url + " is not a document vrexa can use" + CurlWords(facts), kExitFailed};
            return {"the download network sent a document vrexa cannot use", kExitFailed};
        case TransferError::NetworkError:
            return Network(facts, status.message);
        case TransferError::ChecksumMismatch:
            return FileFailure(status, context);
        case TransferError::InsufficientSpace:
            return {"there is not enough free space" + InDest(context) + " for the package", kExitFileSystem};
        case TransferError::FileAccessError: {
            const std::string dest = context.dest.empty() ? "the destination" : context.dest;
            switch (facts.fileFault) {
                case FileFault::BadPath:
                    return {"a file of the package would be written through a link or out of " + dest, kExitFileSystem};
                case FileFault::Busy:
                    return {"a file of the package in " + dest + " is in use by another program", kExitFileSystem};
                case FileFault::NoAccess:
                    return {"permission denied writing into " + dest, kExitFileSystem};
                case FileFault::Missing:
                    return {"a folder of the package in " + dest + " went missing", kExitFileSystem};
                default:
                    break;
            }
            // The engine's fixed words for a destination another transfer
            // holds; what follows them is the sentence ("the destination D is
            // in use by transfer T").
            const std::string inUse = "Transfer::Start found ";
            if (status.message.rfind(inUse, 0) == 0) return {status.message.substr(inUse.size()), kExitFileSystem};
            return {"cannot use the destination" + (context.dest.empty() ? std::string() : " " + context.dest) +
                        (status.message.empty() ? std::string() : " (" + status.message + ")"),
                    kExitFileSystem};
        }
        case TransferError::FileWriteError:
            return {"cannot write the package" + InDest(context), kExitFileSystem};
        case TransferError::OutOfMemory:
            return {"out of memory", kExitFailed};
        case TransferError::GeofenceBlocked:
            return {"package " + Quoted(status.packageId) + " may not be downloaded from this country", kExitFailed};
        case TransferError::RequestFailed:
            return {"a request could not be made" + (facts.url.empty() ? std::string() : " for " + facts.url) +
                        CurlWords(facts),
                    kExitFailed};
        case TransferError::Unknown:
        case TransferError::None:
            break;
    }
    return {"the transfer failed" + (status.message.empty() ? std::string() : ": " + status.message), kExitFailed};
}

std::string RawFailure(const TransferStatus& status) {
    std::string text = "[" + TransferErrorName(status.error) + "] " + status.message;
    if (status.facts.curlCode != 0) {
        text += "; libcurl error " + std::to_string(status.facts.curlCode);
        if (!status.facts.curlError.empty()) text += ": " + status.facts.curlError;
    }
    return text;
}

}  // namespace vrexa::cli
