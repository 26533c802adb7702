#include "app/shell.h"

namespace harvester {

int StartUp() { return 0; }
void EndProgram(int) {}

}  // namespace harvester
