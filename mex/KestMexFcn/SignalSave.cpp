// "signal-save": which streams of which electrodes are saved to file, read and set on the
// first recording operator, on an operator named by its address, or on the processor.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/SignalArgs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr const char* kId = "kestmex:SignalSave";
constexpr std::size_t kStreamSize = 256;
constexpr std::size_t kTargetSize = 32;
constexpr std::size_t kStatusSize = 512;
// The first connected operator.
constexpr int kFirstOperator = 0;

[[noreturn]] void Usage() {
    throw MexError("usage: kestmex('signal-save', elec, [stream, [value (0|1)]] )");
}

// Where the selection is kept: the processor itself, or an operator.
struct Target {
    bool processor = false;
    int op = kFirstOperator;
};

std::string StatusText(int status) {
    char text[kStatusSize];
    kl_error_string(text, sizeof text, status);
    return text;
}

Target ReadTarget(const mxArray* array) {
    const std::optional<std::string> text = ReadText(array, kTargetSize);
    if (!text) {
        throw MexError(kId, "invalid operator address");
    }
    Target target;
    if (*text == "processor") {
        target.processor = true;
        return target;
    }
    const int status = kl_operator_lookup(&target.op, text->c_str());
    if (status != KL_SUCCESS) {
        throw MexError(kId, StatusText(status));
    }
    return target;
}

// A failed call: an unknown or unavailable stream with `streamText`, anything else with the
// status text.
[[noreturn]] void Fail(int status, const char* streamText, const std::string& stream) {
    if (status == KL_ERR_UNSUPPORTED) {
        throw MexError(kId, Format(streamText, stream.c_str()));
    }
    throw MexError(kId, StatusText(status));
}

} // namespace

void SignalSave(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2 || nrhs > 5) {
        Usage();
    }
    const std::vector<std::uint32_t> electrodes = ReadKnownElectrodes(prhs[1], kId, Usage);
    if (nrhs == 2) {
        if (electrodes.size() == 1) {
            plhs[0] = MakeCellRow(StreamNames(electrodes[0]));
            return;
        }
        mxArray* cell = Host([&] { return mxCreateCellMatrix(1, electrodes.size()); });
        for (std::size_t k = 0; k < electrodes.size(); ++k) {
            mxArray* names = MakeCellRow(StreamNames(electrodes[k]));
            Host([&] { mxSetCell(cell, mwIndex(k), names); });
        }
        plhs[0] = cell;
        return;
    }
    const std::optional<std::string> stream = ReadText(prhs[2], kStreamSize);
    if (!stream) {
        throw MexError(kId, "invalid stream string");
    }
    const bool read = nrhs == 3 || (nrhs == 4 && IsText(prhs[3]));
    Target target;
    if (nrhs == 5 || (nrhs == 4 && read)) {
        target = ReadTarget(prhs[nrhs - 1]);
    }

    if (read) {
        std::vector<std::int32_t> values;
        for (std::uint32_t electrode : electrodes) {
            const int e = int(electrode - 1);
            const int status = target.processor ? kl_signal_save_local(e, stream->c_str())
                                                : kl_signal_save(target.op, e, stream->c_str());
            if (status < 0) {
                Fail(status, "stream '%s' invalid for electrode(s)", *stream);
            }
            values.push_back(status);
        }
        plhs[0] = MakeInt32Row(values);
        return;
    }

    const std::vector<double> values = ReadValues(prhs[3], "values");
    if (!(values.size() == 1 || values.size() == electrodes.size())) {
        throw MexError(kId, "electrode and value arrays must be the same size");
    }
    for (std::size_t k = 0; k < electrodes.size(); ++k) {
        const int e = int(electrodes[k] - 1);
        const int on = values[values.size() == 1 ? 0 : k] != 0 ? 1 : 0;
        const int status = target.processor ? kl_signal_save_set_local(e, stream->c_str(), on)
                                            : kl_signal_save_set(target.op, e, stream->c_str(), on);
        if (status != KL_SUCCESS) {
            Fail(status, "cannot save stream '%s' for electrode(s)", *stream);
        }
    }
}

} // namespace KestMexFcn
