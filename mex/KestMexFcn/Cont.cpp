// "cont" and "cont-adc": windows of continuous samples of several electrodes, one row per
// electrode and one column per sample, aligned on the first electrode's start time.
#include "mex/KestMexFcn/ContRows.h"
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/CommandAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr std::size_t kStreamNameSize = 128;
constexpr double kMaxDurationMs = 5120;
constexpr std::uint8_t kStreamNotAvailable = 0x0C;
constexpr std::uint32_t kTicksPerMs = 30;

// Where one electrode's samples of the named stream come from.
struct Source {
    unsigned module = 0;
    unsigned stream = 0;
};

std::optional<Source> FindStream(std::uint32_t electrode, const std::string& name,
                                 std::uint8_t* period = nullptr) {
    int module = -1;
    int stream = -1;
    const KestOutputStreamDesc* desc =
        kestlib::OutputStreamDesc(int(electrode), name, &module, &stream);
    if (desc == nullptr || (desc->head.flags & kStreamNotAvailable) != 0) {
        return std::nullopt;
    }
    if (period != nullptr) {
        *period = desc->period;
    }
    return Source{unsigned(module), unsigned(stream)};
}

double ReadDuration(const mxArray* array) {
    const double duration = ReadNumber(array, "dur");
    if (std::isnan(duration) || duration < 0) {
        throw MexError("invalid duration: dur is a number of milliseconds from 0 to 5120");
    }
    return std::min(duration, kMaxDurationMs);
}

std::uint32_t ReadStartTime(const mxArray* array) {
    const double time = ReadNumber(array, "wanted_time");
    if (!std::isfinite(time) || time < 0 || time >= 4294967296.0) {
        throw MexError("invalid wanted_time: a processor time from 0 to 4294967295");
    }
    return std::uint32_t(time);
}

[[noreturn]] void Usage() {
    throw MexError("usage: kestmex('cont', elec [1-512], dur [ms], stream_type, wanted_time [PAX "
                   "state clock])");
}

} // namespace

void Cont(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[], bool scale) {
    if (nrhs < 4) {
        Usage();
    }
    std::vector<std::uint32_t> electrodes = ReadElectrodes(prhs[1]);
    for (std::uint32_t& electrode : electrodes) {
        if (!kestlib::HaveElectrode(electrode - 1)) {
            throw MexError(Format("electrode %u not found", electrode));
        }
        electrode -= 1;
    }
    const double duration = ReadDuration(prhs[2]);
    const std::optional<std::string> name = ReadText(prhs[3], kStreamNameSize);
    if (!name) {
        throw MexError("invalid stream string provided for stream_type");
    }
    const std::size_t rows = electrodes.size();
    if (rows == 0) {
        plhs[0] = Host([] { return mxCreateDoubleMatrix(0, 0, mxREAL); });
        if (nlhs > 1) {
            plhs[1] = Host([] { return mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL); });
        }
        return;
    }

    std::uint8_t period = 0;
    if (!FindStream(electrodes[0], *name, &period)) {
        throw MexError("invalid stream type.  Streams may be found with 'signal' command");
    }
    // A stream without a period (a segment stream) has no samples to give.
    const std::uint32_t count =
        period == 0 ? 0 : std::uint32_t(duration * kTicksPerMs / double(period));
    std::uint32_t time = nrhs >= 5 ? ReadStartTime(prhs[4]) : 0;

    std::vector<Source> sources(rows);
    for (std::size_t k = 0; k < rows; ++k) {
        const std::optional<Source> source = FindStream(electrodes[k], *name);
        if (!source) {
            throw MexError(Format("invalid stream type for elec: %u", electrodes[k] + 1));
        }
        sources[k] = *source;
    }

    mxArray* samples = Host([&] { return mxCreateDoubleMatrix(rows, count, mxREAL); });
    double* out = count == 0 ? nullptr : Host([&] { return mxGetPr(samples); });
    std::vector<std::uint32_t> delivered(rows, 0);
    std::uint32_t start = 0;
    if (count == 0) {
        // Nothing to read: every row delivered nothing.
    } else if (*name == "HW Status") {
        // Status samples carry a factor per physical channel: one electrode at a time.
        std::vector<float> block(count);
        for (std::size_t k = 0; k < rows; ++k) {
            const int read =
                kestlib::ContDataStatus(&start, block.data(), count, &electrodes[k], 1, time);
            delivered[k] = read > 0 ? std::uint32_t(read) : 0;
            for (std::uint32_t j = 0; j < delivered[k]; ++j) {
                out[std::size_t(j) * rows + k] = double(block[j]);
            }
            if (time == 0) {
                time = start;
            }
        }
    } else {
        // Electrodes next to each other on the same stream of the same module form one run;
        // every run is read under one hold of the cache lock, its ring walked once.
        std::vector<KestContBlockRun> runs;
        for (std::size_t k = 0; k < rows; ++k) {
            if (runs.empty() || runs.back().module != sources[k].module ||
                runs.back().stream != sources[k].stream) {
                runs.push_back({sources[k].module, sources[k].stream, std::uint32_t(k), 0});
            }
            ++runs.back().size;
        }
        kestlib::ContDataBlock(&start, out, rows, count, runs.data(), runs.size(),
                               electrodes.data(), delivered.data(), time, scale);
    }

    if (std::find(delivered.begin(), delivered.end(), 0u) != delivered.end()) {
        Warn("invalid timestamp");
    }
    const std::uint32_t columns = FinishRows(out, delivered);
    if (columns < count) {
        Host([&] { mxSetN(samples, columns); });
    }
    plhs[0] = samples;
    if (nlhs > 1) {
        mxArray* first = Host([] { return mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL); });
        *static_cast<std::uint32_t*>(Host([&] { return mxGetData(first); })) = start;
        plhs[1] = first;
    }
}

} // namespace KestMexFcn
