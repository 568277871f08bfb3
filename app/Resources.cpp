#include "app/Resources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so it is called from
// the global one.
static void initQuelvarResources() {
    Q_INIT_RESOURCE(quelvar);
}

namespace quelvar {

void Resources::ensureLoaded() {
    static std::once_flag once;
    std::call_once(once, initQuelvarResources);
}

}  // namespace quelvar
