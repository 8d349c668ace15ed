#include "mex/KestMexEntry.h"

#include "mex/KestMexFcn/CommandTable.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/StartUpOptions.h"

#include "include/kestlib.h"
#include "lib/CommandAccess.h"

#include <string>

using namespace KestMexFcn;

namespace KestMex {

namespace {

// A sparse array holds only its nonzero elements, so no reader may index it by its size;
// struct fields and cells are looked into as well.
bool ContainsSparse(const mxArray* array) {
    if (array == nullptr) {
        return false;
    }
    if (Host([&] { return mxIsSparse(array); })) {
        return true;
    }
    const std::size_t count = Host([&] { return mxGetNumberOfElements(array); });
    if (Host([&] { return mxIsCell(array); })) {
        for (std::size_t i = 0; i < count; ++i) {
            if (ContainsSparse(Host([&] { return mxGetCell(array, mwIndex(i)); }))) {
                return true;
            }
        }
    } else if (Host([&] { return mxIsStruct(array); })) {
        const int fields = Host([&] { return mxGetNumberOfFields(array); });
        for (std::size_t i = 0; i < count; ++i) {
            for (int f = 0; f < fields; ++f) {
                if (ContainsSparse(
                        Host([&] { return mxGetFieldByNumber(array, mwIndex(i), f); }))) {
                    return true;
                }
            }
        }
    }
    return false;
}

// Only double, text and struct inputs reach the commands, and none of them sparse.
void CheckInputTypes(int nrhs, const mxArray* prhs[]) {
    for (int i = 0; i < nrhs; ++i) {
        const mxArray* input = prhs[i];
        if (ContainsSparse(input)) {
            throw MexError("sparse inputs are not supported; convert them with full()");
        }
        const bool numeric = Host([&] { return mxIsNumeric(input); });
        if (numeric) {
            if (!Host([&] { return mxIsDouble(input); })) {
                throw MexError("all numeric inputs must be doubles");
            }
            continue;
        }
        if (Host([&] { return mxIsLogical(input); })) {
            throw MexError("convert logical inputs to double");
        }
        if (!IsText(input) && !Host([&] { return mxIsStruct(input); })) {
            throw MexError("kestmex inputs must be of types char, double, or struct");
        }
    }
}

// Opens the connection with the options of this call. Its command is not run.
void Open(mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    auto options = std::make_unique<StartUpOptions>(StartUpOptions::Parse(nrhs, prhs));
    gStartUpOptions = std::move(options);

    // Set before the open, so that no path can leave a link running without it.
    Host([] { return mexAtExit(StopNetwork); });

    const char* address =
        gStartUpOptions->address.empty() ? nullptr : gStartUpOptions->address.c_str();
    const int32_t status =
        gStartUpOptions->useUDP ? kl_open_udp_addr(address) : kl_open_tcp_addr(address);
    if (status != KL_SUCCESS) {
        Warn("unable to connect to processor");
        plhs[0] = MakeLogical(false);
        return;
    }
    plhs[0] = MakeLogical(kestlib::CacheIsInit());
}

// The cache's health as an error; returns when it is ready.
void CheckStatus() {
    switch (kestlib::CacheStatus()) {
    case kCacheReady:
        return;
    case kCacheNoProcessor:
        throw MexError("could not find PAX");
    case kCacheModulesMissing:
        throw MexError("did not receive all PAX modules");
    case kCachePropertiesMissing:
        throw MexError("did not recieve all PAX properties");
    case kCacheConfigChanged:
        kestlib::ShutdownLinks();
        throw MexError("PAX configuration changed.  Please restart kestmex.");
    default:
        throw MexError("unknown error occured");
    }
}

} // namespace

void Entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    CheckInputTypes(nrhs, prhs);

    std::string command;
    if (nrhs > 0) {
        std::optional<std::string> text = ReadText(prhs[0], kCommandSize);
        if (!text) {
            throw MexError("usage: kestmex(<command>, <args>)");
        }
        command = std::move(*text);
    }

    if (command == "processor-status") {
        ProcessorStatus(nlhs, plhs, nrhs, prhs);
        return;
    }
    if (command == "processor") {
        Processor(nlhs, plhs, nrhs, prhs);
        return;
    }
    if (command == "help") {
        Help(nlhs, plhs, nrhs, prhs);
        return;
    }

    if (!kestlib::ConnectionOpen()) {
        Open(plhs, nrhs, prhs);
        return;
    }

    if (command == "close") {
        kl_close();
        return;
    }
    CheckStatus();
    CheckErrors();
    if (Handler handler = FindCommand(command.c_str())) {
        handler(nlhs, plhs, nrhs, prhs);
        return;
    }
    if (!command.empty()) {
        throw MexError(Format("kestmex command string '%s' not recognized", command.c_str()));
    }
    plhs[0] = MakeLogical(kestlib::CacheIsInit());
}

void StopNetwork() {
    try {
        kestlib::ShutdownLinks();
    } catch (...) {
        // The host is unloading the module: there is nobody left to tell.
    }
}

} // namespace KestMex
