// The host's entry point. Every failure of a call is caught here, its identifier and text are
// copied into static buffers, and only once every object of the call is gone is the error
// raised: no lock, string or buffer of the call outlives it.
#include "mex.h"

#include "mex/KestMexEntry.h"
#include "mex/KestMexFcn/MexError.h"

#include <cstdio>
#include <exception>
#include <new>

namespace {

constexpr std::size_t kIdentifierSize = 128;
constexpr std::size_t kTextSize = 1024;
char gErrorIdentifier[kIdentifierSize];
char gErrorText[kTextSize];

void Keep(const char* identifier, const char* text) {
    std::snprintf(gErrorIdentifier, sizeof gErrorIdentifier, "%s", identifier);
    std::snprintf(gErrorText, sizeof gErrorText, "%s", text);
}

// The outputs the failed call had already made are freed, so that nothing of it is left.
void DropNewOutputs(int slots, mxArray* plhs[], mxArray* const before[]) {
    for (int i = 0; i < slots; ++i) {
        if (plhs[i] != before[i] && plhs[i] != nullptr) {
            mxDestroyArray(plhs[i]);
        }
        plhs[i] = before[i];
    }
}

constexpr int kMaxOutputSlots = 16;

} // namespace

extern "C" __attribute__((visibility("default"))) void
mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // The host always provides at least one output slot.
    const int slots = nlhs < 1 ? 1 : (nlhs > kMaxOutputSlots ? kMaxOutputSlots : nlhs);
    mxArray* before[kMaxOutputSlots] = {};
    for (int i = 0; i < slots; ++i) {
        before[i] = plhs[i];
    }

    bool failed = false;
    std::exception_ptr hostError;
    try {
        KestMex::Entry(nlhs, plhs, nrhs, prhs);
    } catch (const KestMexFcn::MexError& error) {
        Keep(error.Identifier().c_str(), error.Text());
        failed = true;
    } catch (KestMexFcn::HostFailure& failure) {
        hostError = std::move(failure.error);
    } catch (const std::bad_alloc&) {
        Keep("kestmex:outOfMemory", "out of memory");
        failed = true;
    } catch (const std::exception& error) {
        Keep("", error.what());
        failed = true;
    } catch (...) {
        Keep("", "unexpected failure");
        failed = true;
    }

    if (hostError) {
        DropNewOutputs(slots, plhs, before);
        std::rethrow_exception(hostError);
    }
    if (failed) {
        DropNewOutputs(slots, plhs, before);
        if (gErrorIdentifier[0] != '\0') {
            mexErrMsgIdAndTxt(gErrorIdentifier, "%s", gErrorText);
        } else {
            mexErrMsgTxt(gErrorText);
        }
    }
}
