// "addoper": connects an operator application over the stream link.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/OperatorAddress.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace KestMexFcn {

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "kestmex('addoper', operator_address, [connection_policy], [connection_timeout])\n"
    "operator address can be the full IP address of the KEST operator\n"
    "or it can be a shorthand using just the last octet or two of the\n"
    "ip address.  ex \"192.168.42.150\", \"43.130\", \"128\", 129 are all valid\n"
    "\n"
    "if specified connection_policy should be one of\n"
    "  \"wired-only\": only check wired network\n"
    "  \"prefer-wired\":  check wired network first \n"
    "  \"wireless-only\": only check wireless network\n"
    "  \"prefer-wireless\":  check wireless network first \n"
    "\n"
    "connection_timeout is the time to wait for the KEST operator to\n"
    "respond (in milliseconds)\n";

constexpr std::size_t kAddressSize = 16;
constexpr std::size_t kPolicySize = 64;

struct PolicyWord {
    const char* word;
    KestConnectionPolicy policy;
};
constexpr PolicyWord kPolicies[] = {{"wired-only", KL_WIRED_ONLY},
                                    {"wireless-only", KL_WIRELESS_ONLY},
                                    {"prefer-wired", KL_PREFER_WIRED},
                                    {"prefer-wireless", KL_PREFER_WIRELESS}};

// One double of a numeric input, or nothing for any other input.
std::optional<double> Scalar(const mxArray* array) {
    if (!Host([&] { return mxIsDouble(array) && mxGetNumberOfElements(array) == 1; })) {
        return std::nullopt;
    }
    return Host([&] { return mxGetScalar(array); });
}

std::optional<std::string> Address(const mxArray* array) {
    if (IsText(array)) {
        std::optional<std::string> text = ReadText(array, kAddressSize);
        return text && IsOperatorAddress(*text) ? text : std::nullopt;
    }
    std::optional<double> number = Scalar(array);
    return number ? OperatorNumberText(*number) : std::nullopt;
}

std::optional<KestConnectionPolicy> Policy(const mxArray* array) {
    const std::optional<std::string> word = ReadText(array, kPolicySize);
    for (const PolicyWord& entry : kPolicies) {
        if (word && *word == entry.word) {
            return entry.policy;
        }
    }
    return std::nullopt;
}

// A timeout in milliseconds, truncated; 0 means the default.
std::optional<int> Timeout(const mxArray* array) {
    const std::optional<double> value = Scalar(array);
    if (!value || !std::isfinite(*value) || *value < 0 || *value >= 2147483648.0) {
        return std::nullopt;
    }
    return int(*value);
}

} // namespace

void AddOper(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    std::optional<std::string> address = nrhs >= 2 ? Address(prhs[1]) : std::nullopt;
    std::optional<KestConnectionPolicy> policy = KL_PREFER_WIRED;
    std::optional<int> timeout = 0;
    if (nrhs >= 3) {
        policy = Policy(prhs[2]);
    }
    if (nrhs >= 4) {
        timeout = Timeout(prhs[3]);
    }
    if (!address || !policy || !timeout || nrhs > 4) {
        Print(kUsage);
        return;
    }
    int id = -1;
    const int status =
        kl_operator_add(&id, address->c_str(), &*policy, *timeout > 0 ? &*timeout : nullptr);
    if (status != KL_SUCCESS) {
        char text[512];
        kl_error_string(text, sizeof text, status);
        throw MexError(text);
    }
    plhs[0] = Host([] { return mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL); });
    std::uint32_t* out = static_cast<std::uint32_t*>(Host([&] { return mxGetData(plhs[0]); }));
    // An id travels as int; as an array it is the unsigned endpoint id.
    *out = static_cast<std::uint32_t>(id);
}

} // namespace KestMexFcn
