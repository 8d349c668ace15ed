// "filter": the filters of an electrode's front end, their choices and descriptions; selects
// a choice, and uploads a custom filter given as second-order sections.
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/SignalArgs.h"

#include "lib/SignalSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr std::size_t kWordSize = 32;
constexpr int kMaxFilters = 10;
// Stages a custom filter is announced to hold at least.
constexpr int kCustomMaxStages = 6;
constexpr int kSosColumns = 6;

struct FreeDesc {
    void operator()(KestFilterDesc* desc) const { std::free(desc); }
};
using Desc = std::unique_ptr<KestFilterDesc, FreeDesc>;

[[noreturn]] void ListUsage() {
    throw MexError("usage: kestmex('filter', 'list', elec, [filter type [, select] ])");
}
[[noreturn]] void SetUsage() {
    throw MexError("usage: kestmex('filter', 'set', elec, filter type, select)");
}
[[noreturn]] void CustomUsage() {
    throw MexError("usage: kestmex('filter', 'custom', elec, filter type, sos_struct)");
}

// The 0-based id of the first electrode given; it must be one the processor has.
int ReadElectrode(const mxArray* array, void (*usage)()) {
    return int(ReadKnownElectrodes(array, nullptr, usage)[0] - 1);
}

// The filter name and the number of its choices; "Invalid filter." for an unknown one.
std::string ReadFilter(const mxArray* array, int electrode, int* selection, int* items) {
    const std::optional<std::string> name = ReadText(array, kWordSize);
    if (!name) {
        throw MexError("Invalid filter.");
    }
    // The library reports an unknown filter on standard error as well; the error says it here.
    *items = kl_filter_list_selection(selection, electrode, name->c_str());
    if (*items < 0) {
        throw MexError("Invalid filter.");
    }
    return *name;
}

mxArray* MakeSos(const KestFilterDesc& desc) {
    const std::size_t rows = desc.numStages;
    mxArray* sos = Host([&] { return mxCreateDoubleMatrix(rows, kSosColumns, mxREAL); });
    if (rows == 0) {
        return sos;
    }
    double* out = Host([&] { return mxGetPr(sos); });
    const float* c = KL_FILTER_COEFFICIENTS(&desc);
    for (std::size_t j = 0; j < rows; ++j) {
        const double row[kSosColumns] = {c[4 * j], c[4 * j + 1], c[4 * j],
                                         1.0,      c[4 * j + 2], c[4 * j + 3]};
        for (std::size_t col = 0; col < std::size_t(kSosColumns); ++col) {
            out[j + col * rows] = row[col];
        }
    }
    return sos;
}

// Struct elements describing the given choices of a filter.
mxArray* Describe(int electrode, const std::string& filter, const std::vector<int>& choices,
                  bool column) {
    static const char* fields[] = {"label",       "lowCutoff",   "highCutoff", "center",
                                   "centerOrder", "centerFlags", "lowOrder",   "lowFlags",
                                   "highOrder",   "highFlags",   "maxStages",  "numStages",
                                   "sos"};
    constexpr int kFields = sizeof fields / sizeof fields[0];
    std::vector<Desc> descs;
    for (int choice : choices) {
        descs.emplace_back(kl_filter_get_desc(electrode, filter.c_str(), choice));
        if (!descs.back()) {
            throw MexError(Format("cannot read the description of filter choice %d", choice + 1));
        }
    }
    const std::size_t count = choices.size();
    mxArray* out = Host([&] {
        return column ? mxCreateStructMatrix(count, 1, kFields, fields)
                      : mxCreateStructMatrix(1, count, kFields, fields);
    });
    for (std::size_t k = 0; k < count; ++k) {
        const KestFilterDesc& d = *descs[k];
        const std::string label(d.label, strnlen(d.label, sizeof d.label));
        mxArray* values[kFields] = {MakeString(label),
                                    MakeDouble(d.lowCutoff),
                                    MakeDouble(d.highCutoff),
                                    MakeDouble(d.center),
                                    MakeDouble(d.centerOrder),
                                    MakeDouble(d.centerFlags),
                                    MakeDouble(d.lowOrder),
                                    MakeDouble(d.lowFlags),
                                    MakeDouble(d.highOrder),
                                    MakeDouble(d.highFlags),
                                    MakeDouble(d.maxStages),
                                    MakeDouble(d.numStages),
                                    MakeSos(d)};
        for (int f = 0; f < kFields; ++f) {
            Host([&] { mxSetFieldByNumber(out, mwIndex(k), f, values[f]); });
        }
    }
    return out;
}

void List(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 3) {
        ListUsage();
    }
    const int electrode = ReadElectrode(prhs[2], ListUsage);
    if (nrhs == 3) {
        char names[kMaxFilters][128];
        const int count = kl_filter_list_names(names, kMaxFilters, electrode);
        std::vector<std::string> texts;
        for (int i = 0; i < count; ++i) {
            texts.emplace_back(names[i]);
        }
        plhs[0] = MakeCellRow(texts);
        return;
    }
    int selection = 0;
    int items = 0;
    const std::string filter = ReadFilter(prhs[3], electrode, &selection, &items);
    std::vector<int> choices;
    if (nrhs >= 5) {
        const double select = ReadNumber(prhs[4], "the selection");
        if (!(select >= 1 && select <= items)) {
            throw MexError("Invalid selection");
        }
        choices.push_back(int(select) - 1);
    } else {
        for (int i = 0; i < items; ++i) {
            choices.push_back(i);
        }
    }
    plhs[0] = MakeDouble(selection + 1);
    if (nlhs >= 2) {
        plhs[1] = Describe(electrode, filter, choices, nrhs < 5);
    }
}

void Set(int nrhs, const mxArray* prhs[]) {
    if (nrhs < 5) {
        SetUsage();
    }
    const int electrode = ReadElectrode(prhs[2], SetUsage);
    int selection = 0;
    int items = 0;
    const std::string filter = ReadFilter(prhs[3], electrode, &selection, &items);
    const double select = ReadNumber(prhs[4], "the selection");
    if (!(select >= 1 && select <= items)) {
        throw MexError("Invalid filter selection.");
    }
    if (kestlib::FilterSelectConfirmed(electrode, filter.c_str(), int(select) - 1) != KL_SUCCESS) {
        throw MexError("failed to set selection");
    }
}

// A numeric scalar field; "invalid sos struct: <name>" otherwise.
double Field(const mxArray* sos, const char* name) {
    const mxArray* value = Host([&] { return mxGetField(sos, 0, name); });
    if (!Host([&] { return mxIsDouble(value); }) ||
        Host([&] { return mxGetNumberOfElements(value); }) != 1 ||
        !std::isfinite(Host([&] { return mxGetScalar(value); }))) {
        throw MexError(std::string("invalid sos struct: ") + name);
    }
    return Host([&] { return mxGetScalar(value); });
}

// A whole number from 0 to `max`.
std::uint8_t Byte(const mxArray* sos, const char* name, int max = 255) {
    const double value = Field(sos, name);
    if (value < 0 || value > max || value != std::trunc(value)) {
        throw MexError(std::string("invalid sos struct: ") + name);
    }
    return std::uint8_t(value);
}

void Custom(int nrhs, const mxArray* prhs[]) {
    if (nrhs < 5) {
        CustomUsage();
    }
    const mxArray* sos = prhs[4];
    if (!Host([&] { return mxIsStruct(sos); }) ||
        Host([&] { return mxGetNumberOfElements(sos); }) < 1) {
        throw MexError("invalid sos struct");
    }
    static const char* required[] = {"label",      "center",      "lowCutoff",
                                     "highCutoff", "centerOrder", "lowOrder",
                                     "highOrder",  "numStages",   "sos"};
    for (const char* name : required) {
        if (Host([&] { return mxGetField(sos, 0, name); }) == nullptr) {
            throw MexError(std::string("invalid sos struct: ") + name);
        }
    }
    const int electrode = ReadElectrode(prhs[2], CustomUsage);
    int selection = 0;
    int items = 0;
    const std::string filter = ReadFilter(prhs[3], electrode, &selection, &items);
    const int maxStages = kestlib::CustomFilterMaxStages(electrode, filter.c_str());
    if (maxStages < 0) {
        throw MexError("Invalid filter.");
    }

    const std::optional<std::string> label =
        ReadText(Host([&] { return mxGetField(sos, 0, "label"); }), kWordSize);
    if (!label) {
        throw MexError("invalid sos struct: label");
    }
    const double center = Field(sos, "center");
    const double low = Field(sos, "lowCutoff");
    const double high = Field(sos, "highCutoff");
    const std::uint8_t centerOrder = Byte(sos, "centerOrder");
    const std::uint8_t lowOrder = Byte(sos, "lowOrder");
    const std::uint8_t highOrder = Byte(sos, "highOrder");
    const std::uint8_t stages = Byte(sos, "numStages", maxStages);
    const mxArray* matrix = Host([&] { return mxGetField(sos, 0, "sos"); });
    if (!Host([&] { return mxIsDouble(matrix); }) ||
        Host([&] { return mxGetNumberOfDimensions(matrix); }) != 2 ||
        Host([&] { return mxGetN(matrix); }) != std::size_t(kSosColumns) ||
        Host([&] { return mxGetM(matrix); }) < stages) {
        throw MexError("invalid sos struct: sos");
    }
    const std::size_t rows = Host([&] { return mxGetM(matrix); });
    const double* values = rows == 0 ? nullptr : Host([&] { return mxGetPr(matrix); });

    std::vector<std::uint8_t> bytes(KL_FILTER_DESC_SIZE(stages));
    auto* desc = reinterpret_cast<KestFilterDesc*>(bytes.data());
    std::snprintf(desc->label, sizeof desc->label, "%s", label->c_str());
    desc->center = float(center);
    desc->lowCutoff = float(low);
    desc->highCutoff = float(high);
    desc->centerOrder = centerOrder;
    desc->lowOrder = lowOrder;
    desc->highOrder = highOrder;
    desc->maxStages = std::uint8_t(std::max<int>(kCustomMaxStages, stages));
    desc->numStages = stages;
    float* coefficients = KL_FILTER_COEFFICIENTS(desc);
    for (std::size_t j = 0; j < stages; ++j) {
        const std::size_t columns[4] = {0, 1, 4, 5};
        for (std::size_t c = 0; c < 4; ++c) {
            const double value = values[j + columns[c] * rows];
            if (!std::isfinite(value)) {
                throw MexError("invalid sos struct: sos");
            }
            coefficients[4 * j + c] = float(value);
        }
    }
    const int status = kl_filter_set_custom(electrode, filter.c_str(), desc);
    if (status != KL_SUCCESS) {
        char text[512];
        kl_error_string(text, sizeof text, status);
        throw MexError(text);
    }
}

} // namespace

void Filter(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError("usage: kestmex('filter', cmd ('list', 'set', 'custom')");
    }
    const std::optional<std::string> command = ReadText(prhs[1], kWordSize);
    if (!command) {
        throw MexError("invalid filter string");
    }
    if (*command == "list") {
        List(nlhs, plhs, nrhs, prhs);
    } else if (*command == "set") {
        Set(nrhs, prhs);
    } else if (*command == "custom") {
        Custom(nrhs, prhs);
    } else {
        throw MexError("filter string must be 'set', 'list', or 'custom'");
    }
}

} // namespace KestMexFcn
