#include "engine/resources.h"

#include <QtGlobal>

#include <mutex>

// The resources live in a static library: without an explicit reference the linker may drop them.
static void initialisePimselResources() {
    Q_INIT_RESOURCE(pimsel_data);
}

namespace pimsel {

void ensureResources() {
    static std::once_flag once;
    std::call_once(once, initialisePimselResources);
}

} // namespace pimsel
