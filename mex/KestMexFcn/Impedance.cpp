// "impedance": measures the impedance of electrodes of one front end, at the front end's
// default test current or a given one, over a number of cycles or an accuracy word.
#include "mex/KestMexFcn/FrontEndArgs.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr const char* kShortUsage = "usage: kestmex('impedance', elec[1-512])";
constexpr const char* kUsage =
    "usage: kestmex('impedance', elec[1-512])\nor kestmex('impedance', elec[1-512]), CURRENT, "
    "ACCURACY\nwhere:\nCURRENT - is impedance check current in uA\nACCURACY - is one of "
    "'default', 'fast', 'medium', 'highest'\nACCURACY - there may also be a number 1 - 1000 "
    "which determines the number of cycles";

// Measurement cycles: more cycles, more accuracy.
constexpr std::uint32_t kDefaultCycles = 300;
struct Accuracy {
    const char* word;
    std::uint32_t cycles;
};
constexpr Accuracy kAccuracies[] = {
    {"default", kDefaultCycles}, {"fast", 1}, {"medium", 100}, {"highest", 1000}};

constexpr std::size_t kAccuracyShown = 511;
constexpr std::size_t kAccuracyRead = 65536;
constexpr long long kMaxCycles = 1000;
constexpr int kDefaultCurrent = -1;
constexpr std::uint16_t kCurrentsShown = 10;

[[noreturn]] void UnsupportedCurrent(std::uint32_t electrode) {
    std::string text = "Unsupported current value\n";
    std::uint16_t currents[kCurrentsShown] = {};
    const int count = kl_get_ic_current_for_elec(electrode, currents, kCurrentsShown);
    if (count > 0) {
        text += "Supported currents: ";
        for (int i = 0; i < count; ++i) {
            text += Format("%duA ", int(currents[i]));
        }
    }
    throw MexError(text);
}

std::uint32_t ReadCycles(const mxArray* input) {
    if (IsText(input)) {
        const std::string word = ReadText(input, kAccuracyRead).value_or("");
        for (const Accuracy& accuracy : kAccuracies) {
            if (word == accuracy.word) {
                return accuracy.cycles;
            }
        }
        throw MexError("Unsupported accuracy '" + word.substr(0, kAccuracyShown) +
                       "'\nACCURACY should be one of 'default', 'fast', 'medium', 'highest'\n");
    }
    const std::vector<double> values = ReadDoubles(input, kUsage);
    const double first = values.empty() ? std::nan("") : values[0];
    const auto cycles = WholeIn(first, 1, kMaxCycles);
    if (!cycles) {
        throw MexError("Unsupported measurement cycles " + ShowNumber(first) +
                       "\nMeasurement cycles should be in the range from 1 to 1000'\n");
    }
    return std::uint32_t(*cycles);
}

} // namespace

void Impedance(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2 && nrhs != 4) {
        throw MexError(kUsage);
    }
    const std::vector<double> given = ReadDoubles(prhs[1], kUsage);
    if (given.empty()) {
        throw MexError(kShortUsage);
    }
    // Electrode numbers are held to 1-512; the caller's array is left as it is.
    std::vector<std::uint32_t> electrodes;
    for (double x : given) {
        if (std::isnan(x)) {
            throw MexError(kShortUsage);
        }
        const double held = std::min(std::max(std::trunc(x), 1.0), 512.0);
        electrodes.push_back(std::uint32_t(held) - 1);
    }

    int current = kDefaultCurrent;
    std::uint32_t cycles = kDefaultCycles;
    if (nrhs == 4) {
        const std::vector<double> currents = ReadDoubles(prhs[2], kUsage);
        const auto chosen =
            currents.empty() ? std::nullopt : WholeIn(currents[0], kDefaultCurrent, 65535);
        cycles = ReadCycles(prhs[3]);
        if (!chosen) {
            UnsupportedCurrent(electrodes[0]);
        }
        current = int(*chosen);
    }

    std::vector<float> results(electrodes.size());
    const int status =
        kl_imp(results.data(), electrodes.data(), int(electrodes.size()), current, cycles);
    if (status == -2) {
        UnsupportedCurrent(electrodes[0]);
    }
    if (status != KL_SUCCESS) {
        char text[128];
        kl_error_string(text, sizeof text, status);
        throw MexError(text);
    }
    mxArray* row = Host([&] { return mxCreateDoubleMatrix(1, results.size(), mxREAL); });
    double* out = Host([&] { return mxGetPr(row); });
    std::copy(results.begin(), results.end(), out);
    plhs[0] = row;
}

} // namespace KestMexFcn
