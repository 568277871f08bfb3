#pragma once

#include <string_view>

#include "checks/Product.h"

namespace quelvar {

// Returns the check kind whose run TestaPortas starts for the text, compared exactly, code
// unit by code unit: "api" and "web" start theirs, any other text ("whats", "API", the empty
// text) the WhatsApp run.
CheckKind testaPortasKind(std::u16string_view tipo);

// Performs TestaPortas on either window: calls the window's check run of the kind the text
// names (testarPortasApi, testarPortasWeb or testarPortasWhats) and returns when it has ended.
template <typename Window>
void testaPortas(Window& window, std::u16string_view tipo) {
    switch (testaPortasKind(tipo)) {
        case CheckKind::Api:
            window.testarPortasApi();
            return;
        case CheckKind::Web:
            window.testarPortasWeb();
            return;
        case CheckKind::Whats:
            window.testarPortasWhats();
            return;
    }
}

}  // namespace quelvar
