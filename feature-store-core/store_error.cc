#include "store_error.h"
