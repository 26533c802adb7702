// Provisional until the lookup lands.
#include "automation/dll_functions.h"
namespace harvester { void ReleaseDllLibraries() {} }
