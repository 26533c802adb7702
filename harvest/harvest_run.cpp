#include "app/layout.h"

namespace harvester {

void HarvestRun() {}

}  // namespace harvester
