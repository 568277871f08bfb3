#pragma once

#include <string>
#include <string_view>

namespace quelvar::status {

// Returns the URL as a log line shows it: what libcurl's URL parser makes of it, without the
// user name, password or login options however they were spelled, with control characters,
// blanks and bytes above ASCII written as %XX. A URL the parser refuses is shown as
// "(invalid URL)" with its length, since nothing in it can be told apart from a password.
std::string loggedUrl(std::string_view url);

}  // namespace quelvar::status
