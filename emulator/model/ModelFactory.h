// Builds the modules of the emulated processor from its configuration.
//
// Module ids: 0 the processor, 2f + 1 the hardware module of front end f and 2f + 2 its
// processing module, 33 the analog input/output module, 34 the digital input/output
// module. Front end f sits at port f / 4, slot f % 4; its electrode c is
// (port × 4 + slot) × 32 + c.
#pragma once

#include "emulator/model/ModelConfig.h"
#include "emulator/model/ModuleModel.h"

#include <cstdint>
#include <vector>

namespace paxsim {

constexpr std::uint8_t kProcessorModule = 0;
constexpr std::uint8_t kAnalogModule = 33;
constexpr std::uint8_t kDigitalModule = 34;
constexpr std::uint16_t kDigitalOutputIndex = 53;
constexpr unsigned kAnalogInputs = 16;
constexpr unsigned kAnalogOutputs = 4;
constexpr unsigned kDigitalOutputs = 4;

// Module classes.
constexpr std::uint16_t kProcessorClass = 0;
constexpr std::uint16_t kFrontEndClass = 1;
constexpr std::uint16_t kAnalogClass = 4;
constexpr std::uint16_t kDigitalClass = 5;
constexpr std::uint16_t kProcessingClass = 6;

inline std::uint8_t HardwareModuleId(unsigned frontEnd) {
    return static_cast<std::uint8_t>(2 * frontEnd + 1);
}

ModuleModel BuildProcessorModule(const ModelConfig& config, unsigned moduleCount);
ModuleModel BuildHardwareModule(const ModelConfig& config, unsigned frontEnd);
ModuleModel BuildProcessingModule(const ModelConfig& config, unsigned frontEnd);
ModuleModel BuildAnalogModule(const ModelConfig& config);
ModuleModel BuildDigitalModule(const ModelConfig& config);

// Every module, module 0 first, then ascending ids.
std::vector<ModuleModel> BuildModules(const ModelConfig& config);

} // namespace paxsim
