#pragma once

#include <string>
#include <string_view>

#include "http/Url.h"

namespace quelvar {

// Which part of a URL a text is percent-encoded for: the query keeps its plus signs.
enum class UrlComponent { Path, Query };

// Returns the text with every blank, control character, non-ASCII byte and each of
// * < > # % " { } | \ ^ [ ] ` (and + outside the query) written as "%" and two upper-case
// hexadecimal digits per byte.
std::string percentEncode(std::string_view text, UrlComponent component);

// Returns scheme "://" host, ":" port unless it is the scheme's default, path, document and
// "?" query when there is one; user, password and fragment are dropped.
std::string rebuildUrl(const UrlParts& parts);

// Returns the service profile's normalised form of a base URL; throws Error("Host field is
// empty") when the URL names no host. An empty or blank text gives the empty text.
std::string normalizeBaseUrl(std::string_view text);

// Returns the URL a request to the base URL goes to: rebuilt, with path, document and query
// percent-encoded.
std::string encodeRequestUrl(std::string_view baseUrl);

}  // namespace quelvar
