// libkestlib.so is made of the internal libraries; this file only gives the target a
// source of its own. Outside the library, only the kl_* calls with C linkage, the option
// constants and the transport classes marked for programs that load the library are
// visible.
#include "include/kestlib.h"
