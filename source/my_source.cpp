#include "source/my_source.h"
