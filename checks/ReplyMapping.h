#pragma once

#include <memory>
#include <string_view>

#include "checks/TRetornoTesteExterno.h"

namespace quelvar {

// Maps a status-service reply text (UTF-8 JSON) into a new reply model owned by the caller;
// throws quelvar::Error when the text is not a single JSON object or when the top-level
// `response` member holds a string, number, boolean or array.
std::unique_ptr<TRetornoTesteExterno> converterRetornoExterno(std::string_view text);

}  // namespace quelvar
