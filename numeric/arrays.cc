#include "numeric.h"
