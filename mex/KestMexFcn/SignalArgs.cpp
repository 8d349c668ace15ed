#include "mex/KestMexFcn/SignalArgs.h"

#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "include/kestlib.h"
#include "lib/SignalSupport.h"

#include <algorithm>

namespace KestMexFcn {

namespace {
constexpr int kMaxStreams = 10;
} // namespace

std::vector<std::uint32_t> ReadKnownElectrodes(const mxArray* array, const char* id,
                                               void (*usage)()) {
    const std::vector<std::uint32_t> electrodes = ReadElectrodes(array);
    if (electrodes.empty()) {
        usage();
        throw MexError("no electrodes given");
    }
    for (std::uint32_t electrode : electrodes) {
        if (electrode == 0 || !kestlib::HaveElectrode(int(electrode - 1))) {
            const std::string text = Format("electrode %u not present", electrode);
            throw id != nullptr ? MexError(id, text) : MexError(text);
        }
    }
    return electrodes;
}

std::vector<double> ReadValues(const mxArray* array, const char* what) {
    if (!Host([&] { return mxIsDouble(array); })) {
        throw MexError(Format("%s must be numbers", what));
    }
    const std::size_t count = Host([&] { return mxGetNumberOfElements(array); });
    const double* values = count == 0 ? nullptr : Host([&] { return mxGetPr(array); });
    return std::vector<double>(values, values + count);
}

std::vector<std::string> StreamNames(std::uint32_t electrode) {
    char names[kMaxStreams][128];
    const int count = kl_get_fe_streams(names, kMaxStreams, int(electrode - 1));
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.emplace_back(names[i]);
    }
    return out;
}

mxArray* MakeInt32Row(const std::vector<std::int32_t>& values) {
    mxArray* row =
        Host([&] { return mxCreateNumericMatrix(1, values.size(), mxINT32_CLASS, mxREAL); });
    if (!values.empty()) {
        auto* out = static_cast<std::int32_t*>(Host([&] { return mxGetData(row); }));
        std::copy(values.begin(), values.end(), out);
    }
    return row;
}

mxArray* MakeCellRow(const std::vector<std::string>& texts) {
    mxArray* cell = Host([&] { return mxCreateCellMatrix(1, texts.size()); });
    for (std::size_t k = 0; k < texts.size(); ++k) {
        mxArray* text = MakeString(texts[k]);
        Host([&] { mxSetCell(cell, mwIndex(k), text); });
    }
    return cell;
}

} // namespace KestMexFcn
