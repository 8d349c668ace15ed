// "stimseq": stimulation sequences spelled out word by word in a struct array, checked field
// by field before anything is sent, then loaded one packet per electrode.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/StimAccess.h"
#include "stim/StimActionType.h"
#include "stim/StimSeqManager.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr std::size_t kActionSize = 32;
constexpr double kMaxRepeats = 4095;
constexpr double kMaxPeriod = 65535;
constexpr double kMaxElectrodeIndex = 512;
constexpr double kMaxDelay = 31;
// Items of one sequence: a packet carries at most 248 words, the header word among them.
constexpr std::size_t kMaxItems = KL_STIM_SEQ_MAX_SENT_WORDS - 1;
constexpr const char* kInvalidSequence = "Invalid stimulation sequence.";

// Resolution levels (0-based) above this one may be limited by the front end's model.
constexpr int kLimitedLevel = 3;
constexpr int kLimitAmplitude = 75;
constexpr int kCalibratedAmplitude = 100;
constexpr int kFullAmplitude = 127;

const mxArray* Field(const mxArray* s, std::size_t i, const char* name) {
    return Host([&] { return mxGetField(s, mwIndex(i), name); });
}

bool IsNumeric(const mxArray* value) {
    return value != nullptr && Host([&] { return mxIsDouble(value) && !mxIsEmpty(value); });
}

double Scalar(const mxArray* value) {
    return Host([&] { return mxGetScalar(value); });
}

// The value of a required numeric field: NaN is not a number here.
double Number(const mxArray* value, const char* notNumeric) {
    if (!IsNumeric(value) || std::isnan(Scalar(value))) {
        throw MexError(notNumeric);
    }
    return Scalar(value);
}

StimActionType Action(const mxArray* field) {
    if (field == nullptr) {
        return StimActionType::Immed;
    }
    StimActionType action = StimActionType::Immed;
    const std::optional<std::string> name = ReadText(field, kActionSize);
    if (!name || !StimActionFromName(*name, action)) {
        throw MexError("invalid action string.  Must be one of 'immed', 'curcyc', 'allcyc', "
                       "'trigger', or 'at-time'");
    }
    return action;
}

// The largest amplitude step the electrode takes at resolution level `level` (0-based).
int MaxAmplitude(int electrode, int level) {
    const bool calibrated = kestlib::HasStimCalibration(electrode);
    if (level > kLimitedLevel && kestlib::HasMaxStimLimit(electrode)) {
        return kLimitAmplitude;
    }
    return calibrated ? kCalibratedAmplitude : kFullAmplitude;
}

struct Item {
    double length, pol, ampl, enable, ampSelect, fs, delay;
};

bool IsInteger(double value) {
    return std::trunc(value) == value;
}

bool IsFlag(double value) {
    return value == 0 || value == 1;
}

Item ReadItem(const mxArray* items, std::size_t i, int maxAmplitude, const std::string& label,
              double step) {
    const int number = int(i) + 1;
    const int fields = Host([&] { return mxGetNumberOfFields(items); });
    for (int f = 0; f < 7 && f < fields; ++f) {
        const mxArray* value = Host([&] { return mxGetFieldByNumber(items, mwIndex(i), f); });
        if (!IsNumeric(value)) {
            throw MexError("sequence fields must be numeric");
        }
        if (!(Scalar(value) >= 0)) {
            throw MexError("sequence fields must be >= 0");
        }
    }
    auto get = [&](const char* name, const char* missing) {
        const mxArray* value = Field(items, i, name);
        if (value == nullptr) {
            throw MexError(missing);
        }
        if (!IsNumeric(value)) {
            throw MexError("sequence fields must be numeric");
        }
        const double v = Scalar(value);
        if (!(v >= 0)) {
            throw MexError("sequence fields must be >= 0");
        }
        return v;
    };
    Item item{};
    item.length = get("length", "bad length");
    item.pol = get("pol", "bad pol");
    item.ampl = get("ampl", "bad ampl");
    item.enable = get("enable", "bad enable");
    item.ampSelect = get("ampSelect", "bad ampSelect");
    item.fs = get("fs", "bad fs");
    item.delay = get("delay", "bad delay");
    if (!IsInteger(item.length)) {
        throw MexError(
            Format("stim seq item [%d]: 'length' field [%f] is invalid - (must be an integer)",
                   number, item.length));
    }
    if (item.length == 0) {
        throw MexError("length must be > 0");
    }
    const struct {
        double value;
        const char* text;
    } flags[] = {
        {item.pol,
         "stim seq item [%d]: 'pol' field [%f] is invalid - (must be the integer 0 or 1)"},
        {item.enable,
         "stim seq item [%d]: 'enable' field [%f] is invalid - (must be the integer 0 or 1)"},
        {item.fs, "stim seq item [%d]: 'fs' (a.k.a. fast settle) field [%f] is invalid - (must be "
                  "the integer 0 or 1)"},
        {item.ampSelect,
         "stim seq item [%d]: 'ampSelect' field [%f] is invalid - (must be the integer 0 or 1)"},
    };
    for (const auto& flag : flags) {
        if (!IsFlag(flag.value)) {
            throw MexError(Format(flag.text, number, flag.value));
        }
    }
    if (!IsInteger(item.ampl) || item.ampl > double(maxAmplitude)) {
        throw MexError(Format("stim seq item [%d]: 'ampl' field [%f] is invalid\nFor %s ampl "
                              "value(must be an integer from 0 through %d when stim res. is %0f "
                              "uA)",
                              number, item.ampl, label.c_str(), maxAmplitude, step));
    }
    if (!IsInteger(item.delay) || item.delay > kMaxDelay) {
        throw MexError(Format("stim seq item [%d]: 'delay' field [%f] is invalid - (must be an "
                              "integer from 0 through 31)",
                              number, item.delay));
    }
    return item;
}

// Checks one element of the struct array and adds its sequence to `manager`.
void AddSequence(const mxArray* seqs, std::size_t e, StimSeqManager& manager) {
    const StimActionType action = Action(Field(seqs, e, "action"));
    const mxArray* repeatsField = Field(seqs, e, "repeats");
    const mxArray* elecField = Field(seqs, e, "elec");
    const mxArray* periodField = Field(seqs, e, "period");
    if (repeatsField == nullptr) {
        throw MexError("bad repeats");
    }
    if (elecField == nullptr) {
        throw MexError("bad elec");
    }
    if (periodField == nullptr) {
        throw MexError("bad period");
    }
    // Every value is checked as a double before it is converted.
    const double repeats = std::trunc(Number(repeatsField, "invalid repeats. Must be numeric."));
    if (repeats == 0) {
        throw MexError("invalid repeats. Must be 1 or greater.");
    }
    if (repeats < 0 || repeats > kMaxRepeats) {
        throw MexError("invalid repeats. Must be less than 4096.");
    }
    const double elec =
        std::trunc(Number(elecField, "invalid electrode IDs. Must be numeric.")) - 1;
    if (!(elec >= 0 && elec <= kMaxElectrodeIndex)) {
        throw MexError("invalid electrode IDs.");
    }
    const double period = std::trunc(Number(periodField, "invalid period. Must be numeric."));
    if (period < 1) {
        throw MexError("invalid period. Must be 1 or greater.");
    }
    if (period > kMaxPeriod) {
        throw MexError("invalid period. Must be less than 65536.");
    }
    const int electrode = int(elec);
    KestComboBox resolution{};
    kestlib::StimSetting at;
    if (!kestlib::CopyStimBox(kestlib::StimBox::Resolution, electrode, &resolution, &at)) {
        throw MexError("invalid electrode IDs.");
    }
    const int level = int(resolution.selection);
    const int maxAmplitude = MaxAmplitude(electrode, level);
    const double step = kestlib::StimResolutionStep(electrode, level);
    const std::string label = kestlib::FrontEndLabel(electrode);

    const mxArray* items = Field(seqs, e, "seq");
    std::vector<Item> read;
    if (items != nullptr) {
        if (!Host([&] { return mxIsStruct(items); })) {
            throw MexError("sequence fields must be numeric");
        }
        const std::size_t count = Host([&] { return mxGetNumberOfElements(items); });
        if (count > kMaxItems) {
            throw MexError(kInvalidSequence);
        }
        double total = 0;
        for (std::size_t i = 0; i < count; ++i) {
            read.push_back(ReadItem(items, i, maxAmplitude, label, step));
            total += read.back().length;
        }
        if (total > period) {
            throw MexError("Total sequence duration must be less than period.");
        }
    }
    const std::size_t index =
        manager.AddNewSeq(electrode, std::int32_t(period), std::int32_t(repeats), action);
    for (const Item& item : read) {
        manager.AddWordToSeq(index, std::uint16_t(item.length), std::uint32_t(item.ampl),
                             item.pol != 0, item.enable != 0, item.ampSelect != 0,
                             std::uint32_t(item.delay), item.fs != 0);
    }
}

} // namespace

void StimSeq(int /*nlhs*/, mxArray* /*plhs*/[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError("usage: kestmex('stimseq', stim_cmd");
    }
    const mxArray* seqs = prhs[1];
    if (!Host([&] { return mxIsStruct(seqs); })) {
        throw MexError("usage: kestmex('stimseq', stim_cmd");
    }
    StimSeqManager manager;
    const std::size_t count = Host([&] { return mxGetNumberOfElements(seqs); });
    for (std::size_t e = 0; e < count; ++e) {
        AddSequence(seqs, e, manager);
    }
    kestlib::StimSetting at;
    bool on = false;
    bool switchedOn = false;
    if (kestlib::GlobalStimEnable(&at, &on) && !on) {
        SendBool(unsigned(at.module), unsigned(at.index), true);
        switchedOn = true;
    }
    if (kestlib::SendStimSequences(manager) != 0) {
        // Stimulation goes off again only when this command switched it on.
        if (switchedOn) {
            SendBool(unsigned(at.module), unsigned(at.index), false);
        }
        throw MexError(kInvalidSequence);
    }
}

} // namespace KestMexFcn
