#pragma once

#include <string_view>

#include "checks/Product.h"
#include "form/TestaPortas.h"

namespace quelvar {

// The main window's event handlers and check runs as both windows have them: a press of a
// tab's button calls TestaPortas with the tab's check kind, which starts that tab's check run;
// the first show reads the settings file. Window derives from it and provides
// carregarConfig() and runTabCheck(CheckKind), which performs the run of a tab; Sender is the
// type of the control an event comes from.
template <typename Window, typename Sender>
class MainFormEvents {
public:
    // Calls TestaPortas with "api".
    void btnTestarPortasApiClick(Sender /*Sender*/) { testaPortasUtf16(u"api"); }
    // Calls carregarConfig; bound to the window's show event.
    void FormShow(Sender /*Sender*/) { window().carregarConfig(); }
    // Calls TestaPortas with "web".
    void btnTestarPortasWebClick(Sender /*Sender*/) { testaPortasUtf16(u"web"); }
    // Calls TestaPortas with "whats".
    void btnTestarPortasWhatsClick(Sender /*Sender*/) { testaPortasUtf16(u"whats"); }
    // Performs TestaPortas on the UTF-16 text: starts the check run of the kind, compared
    // exactly ("api", "web", and any other text the WhatsApp run), and returns when it has
    // ended.
    void testaPortasUtf16(std::u16string_view tipo) { testaPortas(window(), tipo); }
    // Performs the check run of the API tab.
    void testarPortasApi() { window().runTabCheck(CheckKind::Api); }
    // Performs the check run of the web tab.
    void testarPortasWeb() { window().runTabCheck(CheckKind::Web); }
    // Performs the check run of the WhatsApp tab.
    void testarPortasWhats() { window().runTabCheck(CheckKind::Whats); }

private:
    Window& window() { return static_cast<Window&>(*this); }
};

}  // namespace quelvar
