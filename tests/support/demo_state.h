// The state the demo shows: a product installed in
// C:\Program Files\Nortavo\Quenta, and the leftovers of three earlier SIM
// installations around it (tests/support/sim_leftovers.h), beside the
// product's own keys and files, which a SIM cleanup must leave alone.
#pragma once

#include <string>
#include <vector>

#include "sim_leftovers.h"

namespace tarnvale::test::demo {

inline const std::string kProductFolder = R"(C:\Program Files\Nortavo\Quenta)";
inline const std::string kLogRoot = R"(C:\ProgramData\Nortavo\SIM Logs)";

std::vector<SimLeftover> DemoSims();
// Replaces whatever is there with the demo state.
void SeedDemoState();
void ClearDemoState();

}  // namespace tarnvale::test::demo
