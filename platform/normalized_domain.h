#pragma once

#include <QString>

#include <optional>

namespace pimsel {

// The one reduction of a user-entered or browser-reported address to a bare lower-case domain:
// scheme, user information, port, path, query, fragment and leading "www." labels are dropped.
// None when nothing is left.
std::optional<QString> normalizedDomain(const std::optional<QString>& text);

} // namespace pimsel
