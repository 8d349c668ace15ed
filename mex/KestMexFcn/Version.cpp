#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <cstdio>

namespace KestMexFcn {

namespace {
constexpr int kVersionSize = 32;
} // namespace

void Version(int, mxArray* plhs[], int, const mxArray*[]) {
    char paxexec[kVersionSize] = {};
    char kest[kVersionSize] = {};
    char lib[kVersionSize] = {};
    if (kl_paxexec_version(paxexec, kVersionSize) != KL_SUCCESS) {
        std::snprintf(paxexec, sizeof paxexec, "%s", "UNKNOWN");
    }
    kl_kest_version(kest, kVersionSize);
    kl_lib_version(lib, kVersionSize);

    const char* fields[] = {"paxexec", "kest", "kestlib", "kestmex"};
    const char* values[] = {paxexec, kest, lib, kKestMexVersion};
    mxArray* versions = Host([&] { return mxCreateStructMatrix(1, 1, 4, fields); });
    for (int i = 0; i < 4; ++i) {
        mxArray* value = MakeString(values[i]);
        Host([&] { mxSetField(versions, 0, fields[i], value); });
    }
    plhs[0] = versions;
}

} // namespace KestMexFcn
