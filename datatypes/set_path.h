// set-path!: the path kind written with a trailing ":"; everything but mold is path!'s
// (datatypes/path.h).
#pragma once

#include "datatypes/path.h"
