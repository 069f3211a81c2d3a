#include "ExtentIndex.h"
