#include "form/TestaPortas.h"

namespace quelvar {

CheckKind testaPortasKind(std::u16string_view tipo) {
    if (tipo == u"api") {
        return CheckKind::Api;
    }
    if (tipo == u"web") {
        return CheckKind::Web;
    }
    return CheckKind::Whats;
}

}  // namespace quelvar
