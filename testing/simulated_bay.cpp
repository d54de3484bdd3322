#include "testing/simulated_bay.h"

#include "sim/scene.h"

namespace mz::core::test {

namespace {

struct Bay {
    TempDir dir;
    sim::Rig rig = sim::drawRig(sim::RigOptions{});
    Bay() { sim::writeScene(dir.path(), rig); }
};

const Bay& bay() {
    static const Bay instance;
    return instance;
}

}  // namespace

const std::filesystem::path& simulatedBay() { return bay().dir.path(); }
const sim::Rig& simulatedRig() { return bay().rig; }
format::ConfigFile simulatedConfig() { return sim::buildConfig(bay().rig); }

}  // namespace mz::core::test
