// Commands whose handlers are not built yet: each ends the call with an error that names the
// command, never quietly doing nothing.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <string>

namespace KestMexFcn {

namespace {

constexpr std::size_t kCommandSize = 32;

[[noreturn]] void NotAvailable(int nrhs, const mxArray* prhs[]) {
    const std::string command = nrhs > 0 ? ReadText(prhs[0], kCommandSize).value_or("") : "";
    throw MexError("kestmex:notAvailable",
                   "kestmex command '" + command + "' is not available yet");
}

} // namespace

#define KESTMEX_PENDING(handler)                                                                   \
    void handler(int, mxArray*[], int nrhs, const mxArray* prhs[]) {                               \
        NotAvailable(nrhs, prhs);                                                                  \
    }

KESTMEX_PENDING(Trial)
KESTMEX_PENDING(AddOper)

#undef KESTMEX_PENDING

} // namespace KestMexFcn
