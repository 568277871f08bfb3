#pragma once

#include <string_view>

namespace quelvar {

enum class CheckKind { Api, Web, Whats };

// The client profile that performs a product's internal probe.
enum class ProbeProfile { Direct, Service };

// One product whose ports are checked: its check kind, the name of that kind ("api", "web",
// "whats"), the path suffix of its URLs and the profile of its internal probe.
struct Product {
    CheckKind kind;
    std::string_view name;
    std::string_view pathSuffix;
    ProbeProfile probe;
};

// Returns the product of a check kind.
const Product& product(CheckKind kind);

// Returns the product whose check kind bears exactly this name, or null when none does.
const Product* findProduct(std::string_view name);

}  // namespace quelvar
