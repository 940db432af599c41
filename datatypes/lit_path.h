// lit-path!: the path kind written with a leading "'"; everything but mold is path!'s
// (datatypes/path.h).
#pragma once

#include "datatypes/path.h"
