#include "emulator/model/ModelConfig.h"

#include <cstdio>
#include <stdexcept>

namespace paxsim {

ModelConfig ModelConfig::Default(unsigned count) {
    static const FrontEndKind cycle[] = {FrontEndKind::Stim, FrontEndKind::Recording,
                                         FrontEndKind::Emg, FrontEndKind::Transceiver};
    ModelConfig config;
    for (unsigned f = 0; f < count; ++f) {
        FrontEndConfig fe;
        fe.kind = cycle[f % 4];
        config.frontEnds.push_back(fe);
    }
    return config;
}

void ModelConfig::Validate() const {
    if (frontEnds.empty() || frontEnds.size() > 16) {
        throw std::invalid_argument("paxsim: between 1 and 16 front ends are supported");
    }
    for (const FrontEndConfig& fe : frontEnds) {
        if (fe.channels < 1 || fe.channels > 32) {
            throw std::invalid_argument("paxsim: a front end has 1 to 32 channels");
        }
        if (!fe.partNumber.empty() && fe.partNumber.size() != 6) {
            throw std::invalid_argument("paxsim: a part number has 6 characters");
        }
    }
}

const char* KindName(FrontEndKind kind) {
    switch (kind) {
    case FrontEndKind::Recording:
        return "recording";
    case FrontEndKind::Stim:
        return "stim";
    case FrontEndKind::Emg:
        return "emg";
    case FrontEndKind::Transceiver:
        return "transceiver";
    }
    return "recording";
}

FrontEndKind ParseKind(const std::string& text) {
    for (FrontEndKind kind : {FrontEndKind::Recording, FrontEndKind::Stim, FrontEndKind::Emg,
                              FrontEndKind::Transceiver}) {
        if (text == KindName(kind)) {
            return kind;
        }
    }
    throw std::invalid_argument("paxsim: unknown front-end kind '" + text +
                                "' (recording, stim, emg, transceiver)");
}

std::string FrontEndLabel(const FrontEndConfig& config, unsigned frontEnd) {
    if (!config.label.empty()) {
        return config.label;
    }
    char port = static_cast<char>('A' + frontEnd / 4);
    std::string where = std::string(" ") + port + std::to_string(frontEnd % 4 + 1);
    switch (config.kind) {
    case FrontEndKind::Stim:
        return "Front End 32ch rec+stim" + where;
    case FrontEndKind::Emg:
        return "Front End 32ch EMG" + where;
    case FrontEndKind::Transceiver:
        return "Front End 32ch quarnel" + where;
    case FrontEndKind::Recording:
        break;
    }
    return "Front End 32ch rec" + where;
}

std::string FrontEndPartNumber(const FrontEndConfig& config) {
    if (!config.partNumber.empty()) {
        return config.partNumber;
    }
    switch (config.kind) {
    case FrontEndKind::Stim:
        return kStimPartNumber;
    case FrontEndKind::Emg:
        return kEmgPartNumber;
    case FrontEndKind::Transceiver:
        return kTransceiverPartNumber;
    case FrontEndKind::Recording:
        break;
    }
    return kRecordingPartNumber;
}

std::string HardwareVersionText(const std::string& partNumber, unsigned build, unsigned major,
                                unsigned minor) {
    char text[48];
    std::snprintf(text, sizeof text, "%.6s-%04u.%u.%u", partNumber.c_str(), build % 10000,
                  major % 10, minor % 10);
    return text;
}

} // namespace paxsim
