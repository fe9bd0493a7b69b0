#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrexa {

// What the documents may put into a URL, and how it goes in. The readers
// refuse what these refuse, and the URL builders check the same again, so a
// document that was read never makes a URL fail to build later.

// text with every byte outside the characters a path segment may carry as
// they are (letters, digits, "-._~!$&'()*+,;=:@") written as "%XX".
std::string EncodePathSegment(std::string_view text);

// An identifier (package, partner or version id) stands for exactly one path
// segment: it is not empty, holds no "/" and is not "." or "..". Anything
// else it holds is percent-encoded when it goes into a URL.
bool IsPlainSegment(std::string_view id);

// A node's "Host": "HOST[:PORT]" or "https://HOST[:PORT]". HOST is a name of
// letters, digits, "-", ".", "_" and "~", or an IPv6 address in brackets;
// PORT is 1 to 65535. Nothing else may be there: a user name, a path, a
// query or a fragment would send the request to another place than the one
// the node list names.
struct NodeAuthority {
    bool secure = false;         // given as "https://"
    std::string_view authority;  // HOST[:PORT], a view into the host text
};
std::optional<NodeAuthority> ParseNodeHost(std::string_view host);

// A node's "Path" as the reader normalised it (leading and trailing "/"):
// no "." or ".." segment, which would climb out of the node's folder.
bool IsNodePath(std::string_view path);

}  // namespace vrexa
