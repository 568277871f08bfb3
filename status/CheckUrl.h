#pragma once

#include <cstddef>
#include <string>

namespace quelvar::status {

// The longest URL a check takes, or a redirect may lead to.
constexpr std::size_t kMaxCheckUrlBytes = 8192;

// Returns the URL normalised by libcurl's parser, an internationalised host name in its ASCII
// form, when it is an absolute http or https URL with a host, and the empty text otherwise (a
// NUL in it, or more than kMaxCheckUrlBytes, included).
std::string normaliseCheckUrl(const std::string& url);

}  // namespace quelvar::status
