// The process entry: everything runs on the runtime thread (runtime::enter).
#include "startup/runtime.h"

int main(int argc, char** argv) { zuv::runtime::enter(argc, argv, zuv::runtime::start); }
