// "spike" and "stimdata": the spike or stimulation segments of each electrode collected
// since its previous read, or only their counts. Both forms empty the rings they read.
#include "mex/KestMexFcn/CommandTable.h"
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/StartUpOptions.h"

#include "lib/CommandAccess.h"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

mxArray* MakeColumn(const std::vector<double>& values) {
    mxArray* column = Host([&] { return mxCreateDoubleMatrix(values.size(), 1, mxREAL); });
    if (!values.empty()) {
        double* out = Host([&] { return mxGetPr(column); });
        std::memcpy(out, values.data(), values.size() * sizeof(double));
    }
    return column;
}

// The counts of each electrode's segments since its previous read.
void SpikeCount(mxArray* plhs[], const std::vector<unsigned>& electrodes, bool stim) {
    std::vector<KestSegmentCount> counts;
    try {
        counts = kestlib::SegmentCountsByElec(electrodes, stim);
    } catch (const std::runtime_error&) {
        throw MexError("Invalid electrode specified.");
    }
    std::vector<double> values;
    values.reserve(counts.size());
    for (const KestSegmentCount& count : counts) {
        values.push_back(double(count.second));
    }
    plhs[0] = MakeColumn(values);
}

bool WarningsOn() {
    return gStartUpOptions == nullptr || gStartUpOptions->warnings;
}

} // namespace

void Spike(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const std::string command = ReadText(prhs[0], kCommandSize).value_or("");
    const bool stimdata = command == "stimdata";
    if (nrhs == 1 || nrhs > 3) {
        throw MexError(stimdata ? "usage: [count, times, wfs] = kestmex('stimdata', elec [1-512])"
                                : "usage: [count, times, wfs] = kestmex('spike', elec [1-512])");
    }
    bool stim = stimdata;
    if (nrhs == 3) {
        stim = ReadNumber(prhs[2], "the segment kind") != 0;
    }
    std::vector<unsigned> electrodes;
    for (std::uint32_t electrode : ReadElectrodes(prhs[1])) {
        electrodes.push_back(electrode - 1);
    }
    if (nlhs < 2) {
        SpikeCount(plhs, electrodes, stim);
        return;
    }

    // An electrode without a hardware module ends the call with the cache's own text.
    const std::vector<KestSegmentBlock> blocks = kestlib::SegmentsByElec(electrodes, stim);
    const std::size_t rows = electrodes.size();
    std::vector<double> counts(rows);
    mxArray* times = Host([&] { return mxCreateCellMatrix(rows, 1); });
    mxArray* waveforms = Host([&] { return mxCreateCellMatrix(rows, 1); });
    mxArray* units = Host([&] { return mxCreateCellMatrix(rows, 1); });
    for (std::size_t k = 0; k < rows; ++k) {
        const KestSegmentBlock& block = blocks[k];
        counts[k] = double(block.count);
        if (WarningsOn() && block.missing != 0) {
            Warn(Format("Lost spike %lu packet on electrode %u", (unsigned long)block.missing,
                        electrodes[k] + 1));
        }
        const float conversion = kestlib::SegmentConv(int(electrodes[k]), stim);
        const std::size_t segments = block.records.size();
        mxArray* time = Host([&] { return mxCreateDoubleMatrix(1, segments, mxREAL); });
        mxArray* unit = Host([&] { return mxCreateDoubleMatrix(1, segments, mxREAL); });
        mxArray* wave = Host(
            [&] { return mxCreateDoubleMatrix(segments, kKestSegmentWaveformSamples, mxREAL); });
        if (segments != 0) {
            double* timeOut = Host([&] { return mxGetPr(time); });
            double* unitOut = Host([&] { return mxGetPr(unit); });
            double* waveOut = Host([&] { return mxGetPr(wave); });
            for (std::size_t j = 0; j < segments; ++j) {
                const KestSegmentDataPacketFixed& record = block.records[j];
                timeOut[j] = double(record.header.timestamp);
                unitOut[j] = double(record.unit);
                for (std::size_t i = 0; i < kKestSegmentWaveformSamples; ++i) {
                    waveOut[i * segments + j] = double(float(record.waveform[i]) * conversion);
                }
            }
        }
        Host([&] { mxSetCell(times, mwIndex(k), time); });
        Host([&] { mxSetCell(waveforms, mwIndex(k), wave); });
        Host([&] { mxSetCell(units, mwIndex(k), unit); });
    }
    plhs[0] = MakeColumn(counts);
    plhs[1] = times;
    if (nlhs > 2) {
        plhs[2] = waveforms;
    } else {
        Host([&] { mxDestroyArray(waveforms); });
    }
    if (nlhs > 3) {
        plhs[3] = units;
    } else {
        Host([&] { mxDestroyArray(units); });
    }
}

} // namespace KestMexFcn
