#pragma once

#include <functional>
#include <optional>
#include <string>

#include "locale/MessageCatalog.h"

namespace vrexa::locale::posix {

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The user's locale for messages, as "language[_COUNTRY][@modifier]": the
// first entry of LANGUAGE (a ":" list) that has a catalog, else the first of
// LC_ALL, LC_MESSAGES and LANG that is set, with its charset dropped. "C" and
// "POSIX", or nothing set at all, mean English ("en").
std::string SystemLocaleName(const std::function<bool(const std::string&)>& hasCatalog,
                             const EnvironmentLookup& environment = nullptr);

// A locale name without its charset: "de_DE.ISO-8859-1@euro" gives "de_DE@euro".
std::string WithoutCharset(const std::string& name);

// Whether a name without charset has the form language[_COUNTRY][@modifier].
bool IsWellFormedLocaleName(const std::string& name);

// The name for the locale generator, always with the UTF-8 charset, so that
// texts are produced in UTF-8 whatever the user's charset; "en" for a name
// that is not well formed.
std::string Utf8LocaleName(const std::string& name);

// Whether the catalog serves a file for the locale name or for its language
// alone, the two names the gettext machinery asks for.
bool HasCatalogFor(MessageCatalog& catalog, const std::string& name);

}  // namespace vrexa::locale::posix
