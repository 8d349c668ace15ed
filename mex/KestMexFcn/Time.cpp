#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MxIo.h"

#include "cache/KestCache.h"

namespace KestMexFcn {

void Time(int, mxArray* plhs[], int, const mxArray*[]) {
    // The entry has checked that the cache is ready.
    plhs[0] = MakeDouble(double(gKestCache->GetPAXTime()));
}

} // namespace KestMexFcn
