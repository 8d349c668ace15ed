// The options of the current connection, read from the inputs of the call that opens it.
#pragma once

#include "mex.h"

#include <memory>
#include <string>

namespace KestMexFcn {

struct StartUpOptions {
    bool useUDP = true;   // cleared by "tcp"
    std::string address;  // set by "addr" <address>; empty: the link's default addresses
    bool warnings = true; // cleared by "no-warning"; consulted before lost-packet warnings

    // Reads every input as a startup option. Inputs that are no option are ignored.
    static StartUpOptions Parse(int nrhs, const mxArray* prhs[]);
};

// The options of the connection that is open or was opened last; replaced at every start.
extern std::unique_ptr<StartUpOptions> gStartUpOptions;

} // namespace KestMexFcn
