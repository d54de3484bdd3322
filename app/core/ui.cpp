#include "app/core/ui.h"

#include <cmath>

namespace mz::core {

std::string progressCaption(const std::string& title, double percent) {
    return title + " [" + std::to_string(std::lround(percent)) + "%]";
}

}  // namespace mz::core
