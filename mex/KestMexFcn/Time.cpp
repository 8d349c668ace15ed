#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/CommandAccess.h"

namespace KestMexFcn {

void Time(int, mxArray* plhs[], int, const mxArray*[]) {
    // The entry has checked that the cache is ready.
    plhs[0] = MakeDouble(double(kestlib::ProcessorTime()));
}

} // namespace KestMexFcn
