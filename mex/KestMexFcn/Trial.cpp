// "trial": reads and changes the recording trial of an operator.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/OperatorAddress.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace KestMexFcn {

namespace {

constexpr std::size_t kStatusSize = 32;
constexpr std::size_t kFileBaseSize = 512;
constexpr std::size_t kErrorSize = 256;
constexpr std::size_t kOperatorSize = 32;

// Inputs after the command word: status, file base, stop time, auto increment, increment
// number, operator.
constexpr int kFileBaseInput = 2;
constexpr int kFirstNumberInput = 3;
constexpr int kOperatorInput = 6;
constexpr const char* kNumberNames[3] = {"stop_time", "auto_incr", "incr_num"};

bool IsEmpty(const mxArray* array) {
    return Host([&] { return mxIsEmpty(array); });
}

std::optional<double> Scalar(const mxArray* array) {
    if (!Host([&] { return mxIsDouble(array) && mxGetNumberOfElements(array) == 1; })) {
        return std::nullopt;
    }
    return Host([&] { return mxGetScalar(array); });
}

// An operator named by a text of at most 31 characters or by a number (see
// OperatorAddress.h).
std::optional<std::string> OperatorOf(const mxArray* array) {
    if (IsText(array)) {
        std::optional<std::string> text = ReadText(array, kOperatorSize);
        return text && IsOperatorAddress(*text) ? text : std::nullopt;
    }
    std::optional<double> number = Scalar(array);
    return number ? OperatorNumberText(*number) : std::nullopt;
}

// A trial number, truncated: a 32-bit value, given signed or as the unsigned value that
// "trial" reports (4294967295 for -1).
int NumberOf(const mxArray* array, const char* name) {
    const std::optional<double> value = Scalar(array);
    if (!value || !std::isfinite(*value) || *value <= -2147483649.0 || *value >= 4294967296.0) {
        throw MexError(Format("invalid %s: a number from -2147483648 to 4294967295", name));
    }
    const double whole = std::trunc(*value);
    return whole < 0 ? int(whole) : int(std::uint32_t(whole));
}

std::string StatusText(int status) {
    char text[512];
    kl_error_string(text, sizeof text, status);
    return text;
}

} // namespace

void Trial(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    std::optional<std::string> status;
    std::optional<std::string> fileBase;
    std::optional<std::string> oper;
    std::optional<int> numbers[3];

    if (nrhs == 2) {
        oper = OperatorOf(prhs[1]);
        if (!oper) {
            if (!IsText(prhs[1])) {
                throw MexError("invalid operator or status\n");
            }
            status = ReadText(prhs[1], kStatusSize);
            if (!status) {
                throw MexError("invalid status");
            }
        }
    } else if (nrhs > 2) {
        if (nrhs > kOperatorInput + 1) {
            throw MexError("usage: kestmex('trial', [status], [file_base], [stop_time], "
                           "[auto_incr], [incr_num], [operator])");
        }
        if (IsText(prhs[1])) {
            status = ReadText(prhs[1], kStatusSize);
            if (!status) {
                throw MexError("invalid status");
            }
        }
        if (!IsEmpty(prhs[kFileBaseInput])) {
            fileBase = ReadText(prhs[kFileBaseInput], kFileBaseSize);
            if (!fileBase) {
                throw MexError("invalid file path base");
            }
        }
        for (int k = 0; k < 3; ++k) {
            const int input = kFirstNumberInput + k;
            if (nrhs > input && !IsEmpty(prhs[input])) {
                numbers[k] = NumberOf(prhs[input], kNumberNames[k]);
            }
        }
        if (nrhs > kOperatorInput) {
            oper = OperatorOf(prhs[kOperatorInput]);
            if (!oper) {
                throw MexError("Unable to determine operator addreess\n");
            }
        }
    }

    int id = 0; // the first operator
    if (oper) {
        const int found = kl_operator_lookup(&id, oper->c_str());
        if (found != KL_SUCCESS) {
            throw MexError(StatusText(found));
        }
    }

    char statusOut[kStatusSize] = "";
    char fileBaseOut[kFileBaseSize] = "";
    char errorOut[kErrorSize] = "";
    std::int32_t values[3] = {0, 0, 0};
    KestTrialParams out{statusOut, int32_t(kStatusSize), fileBaseOut, int32_t(kFileBaseSize),
                        errorOut,  int32_t(kErrorSize),  &values[0],  &values[1],
                        &values[2]};
    std::string statusIn = status.value_or("");
    std::string fileBaseIn = fileBase.value_or("");
    std::int32_t valuesIn[3] = {numbers[0].value_or(0), numbers[1].value_or(0),
                                numbers[2].value_or(0)};
    KestTrialParams in{};
    in.status = status ? statusIn.data() : nullptr;
    in.file_base = fileBase ? fileBaseIn.data() : nullptr;
    in.stop_time = numbers[0] ? &valuesIn[0] : nullptr;
    in.auto_incr = numbers[1] ? &valuesIn[1] : nullptr;
    in.incr_num = numbers[2] ? &valuesIn[2] : nullptr;

    const int result = kl_trial2(id, &out, &in);
    if (result != KL_SUCCESS) {
        if (errorOut[0] != '\0') {
            throw MexError("kestmex:Trial", StatusText(result) + ": " + errorOut);
        }
        throw MexError(StatusText(result));
    }

    const char* fields[] = {"status",    "filebase", "auto_incr",
                            "stop_time", "incr_num", "error_msg"};
    plhs[0] = Host([&] { return mxCreateStructMatrix(1, 1, 6, fields); });
    auto set = [&](const char* field, mxArray* value) {
        Host([&] { mxSetField(plhs[0], 0, field, value); });
    };
    // The numbers are shown as unsigned 32-bit values: -1 reads 4294967295.
    set("status", MakeString(statusOut));
    set("filebase", MakeString(fileBaseOut));
    set("auto_incr", MakeDouble(double(std::uint32_t(values[1]))));
    set("stop_time", MakeDouble(double(std::uint32_t(values[0]))));
    set("incr_num", MakeDouble(double(std::uint32_t(values[2]))));
    set("error_msg", MakeString(errorOut));
}

} // namespace KestMexFcn
