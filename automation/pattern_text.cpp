#include "automation/pattern_text.h"
