// "processor", "processor-status" and "processor-restart": the commands about the processor
// itself. The first two work without a connection and never open one.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <climits>
#include <cmath>

namespace KestMexFcn {

namespace {

constexpr std::size_t kOptionSize = 256;
constexpr std::size_t kArgumentSize = 512;
constexpr std::size_t kStatusTextSize = 512;

const char* const kStatusUsage =
    "usage kestmex(\"processor-status\", <options>, ...)\n"
    "valid options:\n"
    "  \"wired-only\": only check wired network\n"
    "  \"prefer-wired\":  check wired network first \n"
    "  \"wireless-only\": only check wireless network\n"
    "  \"prefer-wireless\":  check wireless network first \n"
    "  \"timeout\":  set maximum timeout in milliseconds\n"
    "This function returns 1 if processor is detected and a 0 otherwise\n";

struct PolicyWord {
    const char* word;
    KestConnectionPolicy policy;
};

constexpr PolicyWord kPolicies[] = {
    {"wired-only", KL_WIRED_ONLY},
    {"wireless-only", KL_WIRELESS_ONLY},
    {"prefer-wired", KL_PREFER_WIRED},
    {"prefer-wireless", KL_PREFER_WIRELESS},
};

// A timeout in whole milliseconds: a finite, non-negative double that fits an int32 after
// truncation.
int ReadTimeout(const mxArray* array) {
    const bool numeric =
        Host([&] { return mxIsNumeric(array) && mxGetNumberOfElements(array) == 1; });
    if (!numeric) {
        throw MexError("invalid argument for timeout\n");
    }
    const double value = Host([&] { return mxGetScalar(array); });
    if (!std::isfinite(value) || value < 0 || value >= double(INT_MAX) + 1.0) {
        throw MexError("invalid argument for timeout\n");
    }
    return int(value);
}

} // namespace

bool ParseStatusStartupOptions(KestConnectionOptions* options, int count, const mxArray** args) {
    for (int i = 0; i < count; ++i) {
        if (!IsText(args[i])) {
            throw MexError("startup options must all be of type char");
        }
        const std::optional<std::string> option = ReadText(args[i], kOptionSize);
        if (!option) {
            throw MexError("invalid startup option");
        }
        if (*option == "tcp") {
            options->use_udp = 0;
            continue;
        }
        if (*option == "udp") {
            throw MexError("cannot use udp mode\n");
        }
        bool matched = false;
        for (const PolicyWord& policy : kPolicies) {
            if (*option == policy.word) {
                options->policy = policy.policy;
                Print(Format("connection policy %s\n", policy.word));
                matched = true;
                break;
            }
        }
        if (matched) {
            continue;
        }
        if (*option == "timeout") {
            if (i + 1 >= count) {
                throw MexError("invalid argument for timeout\n");
            }
            options->timeout_ms = ReadTimeout(args[++i]);
            continue;
        }
        if (*option != "help") {
            Warn(Format("unexpected option: %s\n", option->c_str()));
        }
        Print(kStatusUsage);
        return false;
    }
    return true;
}

void ProcessorStatus(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    KestConnectionOptions options = *KL_DEFAULT_STATUS_CONNECTION_OPTIONS;
    if (!ParseStatusStartupOptions(&options, nrhs - 1, prhs + 1)) {
        return;
    }
    int found = 0;
    const int32_t status = kl_processor_status(&found, &options);
    plhs[0] = MakeDouble(status == KL_SUCCESS && found == 1 ? 1.0 : 0.0);
}

void ProcessorRestart(int, mxArray* plhs[], int nrhs, const mxArray*[]) {
    if (nrhs != 1) {
        Print("usage kestmex(\"processor\", \"restart\")\n"
              "NOTE: this will close the connection to the processor software\n"
              " no parameters are expected.\n"
              " this function returns 1 if the command was sent\n");
        return;
    }
    const int32_t status = kl_processor_restart_software();
    if (status != KL_SUCCESS) {
        char text[kStatusTextSize] = {};
        kl_error_string(text, sizeof text, status);
        throw MexError(text);
    }
    plhs[0] = MakeDouble(1.0);
}

void Processor(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs >= 2 && IsText(prhs[1])) {
        const std::optional<std::string> option = ReadText(prhs[1], kArgumentSize);
        if (!option) {
            throw MexError("unable to parse string argument\n");
        }
        if (*option == "status") {
            ProcessorStatus(nlhs, plhs, nrhs - 1, prhs + 1);
            return;
        }
        if (*option == "restart") {
            ProcessorRestart(nlhs, plhs, nrhs - 1, prhs + 1);
            return;
        }
    }
    Print("usage kestmex(\"processor\", <options>, ...)\n"
          "valid options:\n"
          "  \"status\": check if the processor is running\n"
          "  \"restart\": restart processor software\n");
}

} // namespace KestMexFcn
