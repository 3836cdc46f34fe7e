#include "ViewerTestSupport.h"
