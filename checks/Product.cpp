#include "checks/Product.h"

#include <array>

namespace quelvar {

namespace {

// The API Web service and the Lumora Web application are probed directly from this machine;
// the WhatsApp API server through the same client profile as the status service.
constexpr std::array kProducts{
    Product{CheckKind::Api, "api", "/healthcheck", ProbeProfile::Direct},
    Product{CheckKind::Web, "web", "/lumora_web/loja", ProbeProfile::Direct},
    Product{CheckKind::Whats, "whats", "/api-docs/", ProbeProfile::Service},
};

}  // namespace

const Product& product(CheckKind kind) {
    for (const Product& candidate : kProducts) {
        if (candidate.kind == kind) {
            return candidate;
        }
    }
    // Every enumerator has its row above.
    return kProducts.front();
}

const Product* findProduct(std::string_view name) {
    for (const Product& candidate : kProducts) {
        if (candidate.name == name) {
            return &candidate;
        }
    }
    return nullptr;
}

}  // namespace quelvar
