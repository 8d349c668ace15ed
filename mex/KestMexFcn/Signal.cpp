// "signal": the streams an electrode offers, and whether each is sent; switches them on and
// off, and the digital input stream's switches.
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/SendProperty.h"
#include "mex/KestMexFcn/SignalArgs.h"

#include "lib/SignalSupport.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr const char* kId = "signal";
constexpr std::size_t kNameSize = 32;

[[noreturn]] void Usage() {
    throw MexError("usage: kestmex('signal', elec, [stream, [value (0|1))] ])");
}

void DigitalInputSwitch(int nrhs, mxArray* plhs[], const mxArray* prhs[]) {
    const std::optional<std::string> text = ReadText(prhs[1], kNameSize);
    if (!text) {
        throw MexError(kId, "cannot get electrode string");
    }
    if (*text != "digin") {
        throw MexError(kId, "invalid electrode string: " + *text);
    }
    int module = -1;
    int index = -1;
    int count = 0;
    const int value = kestlib::DiginSwitch(&module, &index, &count);
    if (value < 0) {
        throw MexError("cannot find signal descriptor");
    }
    if (nrhs == 2) {
        plhs[0] = MakeInt32Row({value});
        return;
    }
    if (nrhs == 4) {
        Usage();
    }
    const bool on = ReadNumber(prhs[2], "the switch value") != 0;
    for (int k = 0; k < count; ++k) {
        SendBool(unsigned(module), unsigned(index + k), on);
    }
}

// Per electrode its available streams, as a cell of names.
mxArray* ListStreams(const std::vector<std::uint32_t>& electrodes) {
    std::vector<mxArray*> lists;
    for (std::uint32_t electrode : electrodes) {
        lists.push_back(MakeCellRow(StreamNames(electrode)));
    }
    if (lists.size() == 1) {
        return lists[0];
    }
    mxArray* cell = Host([&] { return mxCreateCellMatrix(1, lists.size()); });
    for (std::size_t k = 0; k < lists.size(); ++k) {
        Host([&] { mxSetCell(cell, mwIndex(k), lists[k]); });
    }
    return cell;
}

// Every switch of a continuous stream, once per module.
void SwitchContinuous(const std::vector<std::uint32_t>& electrodes, const std::string& stream,
                      const mxArray* values) {
    if (Host([&] { return mxGetNumberOfElements(values); }) != 1) {
        throw MexError(kId, "value for continuous stream must be a single number");
    }
    const bool on = ReadNumber(values, "the switch value") != 0;
    std::map<int, KestStreamSwitch> modules;
    for (std::uint32_t electrode : electrodes) {
        KestStreamSwitch found;
        if (!kestlib::StreamSwitch(int(electrode - 1), stream.c_str(), &found) || found.index < 0) {
            throw MexError(kId, Format("cannot get signal enable property for '%s', electrode %u",
                                       stream.c_str(), electrode));
        }
        modules.emplace(found.module, found);
    }
    for (const auto& [module, found] : modules) {
        for (int k = 0; k < found.count; ++k) {
            SendBool(unsigned(module), unsigned(found.index + k), on);
        }
    }
}

// The electrode's own switch of a per-channel stream, one value for all or one each.
void SwitchEach(const std::vector<std::uint32_t>& electrodes, const std::string& stream,
                const mxArray* array) {
    const std::vector<double> values = ReadValues(array, "switch values");
    if (values.size() != 1 && values.size() != electrodes.size()) {
        throw MexError(kId, "values and electrodes arrays must be the same size");
    }
    for (std::size_t k = 0; k < electrodes.size(); ++k) {
        KestStreamSwitch found;
        if (!kestlib::StreamSwitch(int(electrodes[k] - 1), stream.c_str(), &found) ||
            found.index < 0) {
            throw MexError(kId, Format("cannot find module for electrode %u", electrodes[k]));
        }
        SendBool(unsigned(found.module), unsigned(found.index),
                 values[values.size() == 1 ? 0 : k] != 0);
    }
}

} // namespace

void Signal(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2 || nrhs > 4) {
        Usage();
    }
    if (IsText(prhs[1])) {
        DigitalInputSwitch(nrhs, plhs, prhs);
        return;
    }
    const std::vector<std::uint32_t> electrodes = ReadKnownElectrodes(prhs[1], kId, Usage);
    if (nrhs == 2) {
        plhs[0] = ListStreams(electrodes);
        return;
    }
    const std::optional<std::string> stream = ReadText(prhs[2], kNameSize);
    if (!stream) {
        throw MexError(kId, "cannot get stream name");
    }
    KestStreamSwitch first;
    if (!kestlib::StreamSwitch(int(electrodes[0] - 1), stream->c_str(), &first) ||
        (first.flags & kStreamUnavailable) != 0) {
        throw MexError(kId, "invalid stream '" + *stream + "'");
    }
    if (nrhs == 3) {
        std::vector<std::int32_t> values;
        for (std::uint32_t electrode : electrodes) {
            KestStreamSwitch found;
            values.push_back(kestlib::StreamSwitch(int(electrode - 1), stream->c_str(), &found)
                                 ? found.value
                                 : -1);
        }
        plhs[0] = MakeInt32Row(values);
        return;
    }
    if (kestlib::IsContinuousKind(first.dataKind)) {
        SwitchContinuous(electrodes, *stream, prhs[3]);
    } else {
        SwitchEach(electrodes, *stream, prhs[3]);
    }
}

} // namespace KestMexFcn
