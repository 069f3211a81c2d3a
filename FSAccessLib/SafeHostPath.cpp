#include "SafeHostPath.h"
