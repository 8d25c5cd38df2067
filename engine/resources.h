#pragma once

namespace pimsel {

// Makes the compiled-in catalogues and artwork reachable under ":/pimsel"; cheap after the first call.
void ensureResources();

} // namespace pimsel
