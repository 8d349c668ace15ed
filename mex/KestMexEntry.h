// The body of every kestmex call, and the hook that ends the connection when the host
// unloads the module or exits.
#pragma once

#include "mex.h"

namespace KestMex {

// Checks the inputs, handles the commands that need no connection, opens the connection on
// the first call, reports the cache's health and queued processor messages, and runs the
// command's handler. Failures are thrown (KestMexFcn::MexError, KestMexFcn::HostFailure).
void Entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Stops the link and frees the connection without a word; harmless without a connection.
void StopNetwork();

} // namespace KestMex
