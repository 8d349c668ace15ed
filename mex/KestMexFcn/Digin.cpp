// "digin": the digital input events collected since the previous read, or the switch that
// makes the processor report any change of a parallel input bit.
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/SendProperty.h"

#include "lib/CommandAccess.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr std::size_t kOptionSize = 128;
constexpr std::uint32_t kMaxEvents = 1024;

mxArray* MakeUint16(std::uint16_t value) {
    mxArray* array = Host([] { return mxCreateNumericMatrix(1, 1, mxUINT16_CLASS, mxREAL); });
    *static_cast<std::uint16_t*>(Host([&] { return mxGetData(array); })) = value;
    return array;
}

void Events(int nlhs, mxArray* plhs[]) {
    std::vector<KestDigitalEventPacket> events(kMaxEvents);
    const int result = kestlib::DigitalInput(events.data(), nullptr, kMaxEvents);
    const std::size_t count = std::size_t(std::clamp<int>(result, 0, int(kMaxEvents)));
    plhs[0] = MakeDouble(double(count));
    if (nlhs > 1) {
        mxArray* times = Host([&] { return mxCreateDoubleMatrix(1, count, mxREAL); });
        if (count != 0) {
            double* out = Host([&] { return mxGetPr(times); });
            for (std::size_t i = 0; i < count; ++i) {
                out[i] = double(events[i].header.timestamp);
            }
        }
        plhs[1] = times;
    }
    if (nlhs > 2) {
        const char* fields[] = {"reason", "sma1", "sma2", "sma3", "sma4", "parallel"};
        mxArray* records = Host([&] { return mxCreateStructMatrix(1, count, 6, fields); });
        for (std::size_t i = 0; i < count; ++i) {
            const KestDigitalEventPacket& event = events[i];
            const std::uint16_t values[] = {event.reason, event.sma[0], event.sma[1],
                                            event.sma[2], event.sma[3], event.parallel};
            for (int f = 0; f < 6; ++f) {
                mxArray* value = MakeUint16(values[f]);
                Host([&] { mxSetFieldByNumber(records, mwIndex(i), f, value); });
            }
        }
        plhs[2] = records;
    }
}

} // namespace

void Digin(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs <= 1) {
        Events(nlhs, plhs);
        return;
    }
    const std::optional<std::string> option = ReadText(prhs[1], kOptionSize);
    if (!option) {
        throw MexError("invalid stream string provided for stream_type");
    }
    if (*option != "bit-change") {
        return;
    }
    int module = -1;
    int index = -1;
    const KestBool* capture = kestlib::DigitalCaptureBitChange(&module, &index);
    if (capture == nullptr) {
        throw MexError("Digital IO not available");
    }
    // The host always offers the first output slot: the value is shown even at the prompt.
    if (nrhs == 2) {
        plhs[0] = MakeDouble(capture->value != 0 ? 1.0 : 0.0);
        return;
    }
    const bool value = ReadNumber(prhs[2], "the bit-change value") != 0;
    SendBool(unsigned(module), unsigned(index), value);
    plhs[0] = MakeDouble(value ? 1.0 : 0.0);
}

} // namespace KestMexFcn
