// What the sample installation shows besides its stitched views, and how it numbers the files
// the workflow writes: shared by the simulator's bays and by new vehicles' configurations.
#pragma once

#include <vector>

#include "format/config_model.h"

namespace mz::format {

// The single views of the sample at the display's 720 x 480: front, front panorama, rear (with
// its overlay), rear panorama, left, right. Their lutId is 0 until numberTables.
std::vector<ConfigSingleview> sampleSingleviews();

// Gives the stitched views' tables (and their masks, each the right camera's identifier plus
// one), the parameter file and the single views' tables identifiers no two files share, in the
// order of the records.
void numberTables(ConfigFile& config);

}  // namespace mz::format
