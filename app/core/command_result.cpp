#include "app/core/command_result.h"

namespace mz::core {

const ShownMessage* CommandResult::reason() const {
    for (auto m = messages.rbegin(); m != messages.rend(); ++m) {
        if (m->icon == MessageIcon::kError) return &*m;
    }
    return messages.empty() ? nullptr : &messages.back();
}

}  // namespace mz::core
