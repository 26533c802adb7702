#include "harvest/text_search.h"
