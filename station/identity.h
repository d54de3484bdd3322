// Who calibrates which vehicle where: the names a run is recorded under.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace mz::station {

struct StationIdentity {
    std::string vehicle;  // a VIN or any plant identifier
    std::string operatorName;
    std::string station;
};

inline constexpr size_t kIdentityMaxCharacters = 64;

// None when text may stand as an identity field (empty included); otherwise why not, starting
// with `what` (the option or field that holds it): not UTF-8, a control character, spaces at an
// end, longer than kIdentityMaxCharacters.
std::optional<std::string> checkIdentityText(const std::string& text, const std::string& what);

}  // namespace mz::station
