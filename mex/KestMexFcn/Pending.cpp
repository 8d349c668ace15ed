// Commands whose handlers are not built yet: each ends the call with an error that names the
// command, never quietly doing nothing.
#include "mex/KestMexFcn/CommandTable.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <string>

namespace KestMexFcn {

namespace {

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

KESTMEX_PENDING(Stim)
KESTMEX_PENDING(StimSeq)
KESTMEX_PENDING(Trial)
KESTMEX_PENDING(Signal)
KESTMEX_PENDING(SignalSave)
KESTMEX_PENDING(Filter)
KESTMEX_PENDING(Digout)
KESTMEX_PENDING(FastSettle)
KESTMEX_PENDING(ADC2Phys)
KESTMEX_PENDING(HwLowCorner)
KESTMEX_PENDING(AddOper)
KESTMEX_PENDING(Impedance)
KESTMEX_PENDING(HwGround)
KESTMEX_PENDING(HwReference)
KESTMEX_PENDING(Transceiver)
KESTMEX_PENDING(InternalBattery)
KESTMEX_PENDING(Sensor)
KESTMEX_PENDING(Button)
KESTMEX_PENDING(LED)
KESTMEX_PENDING(AudioTone)

#undef KESTMEX_PENDING

} // namespace KestMexFcn
