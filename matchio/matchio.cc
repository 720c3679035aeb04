#include "matchio.h"
