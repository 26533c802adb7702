#include "harvest/page_count.h"
