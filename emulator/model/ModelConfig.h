// What the emulated processor presents: its front ends and the settings they start with.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace paxsim {

enum class FrontEndKind {
    Recording,   // 32 recording channels
    Stim,        // recording and stimulation
    Emg,         // EMG amplifier, no fast settle
    Transceiver, // implant transceiver link, no fast settle
};

// Part numbers the model kinds report in their hardware version text. The stimulating
// kind's part number is in both lists of models with a calibration table and with a
// maximum stimulation limit; the two alternatives are in one list each.
constexpr const char* kRecordingPartNumber = "RF3200";
constexpr const char* kStimPartNumber = "SF3217";          // calibration and limit
constexpr const char* kStimCalibOnlyPartNumber = "SF3216"; // calibration only
constexpr const char* kStimLimitOnlyPartNumber = "SX3230"; // limit only
constexpr const char* kEmgPartNumber = "EM3200";
constexpr const char* kTransceiverPartNumber = "QL3200";

struct FrontEndConfig {
    FrontEndKind kind = FrontEndKind::Recording;
    std::string label;      // empty: derived from the kind and position
    std::string partNumber; // empty: the kind's part number
    std::uint16_t channels = 32;
    // Streams switched on at start (every channel's enable switch).
    bool raw = true;
    bool hwStatus = false;
    bool stim = true;
    bool lfp = true;
    bool hiRes = false;
    bool hiFreq = false;
    bool emg = false;
    bool spkFilt = false;
    bool spk = true;
    // Item texts of a stimulating front end's "Stim Resolution" (µA per step); empty: the
    // standard "1", "2", "5", "10", "20".
    std::vector<std::string> stimResolution;
    // Table blocks of a stimulating front end's "Stim Calibration" (5; at least 5).
    unsigned calibrationBlocks = 5;
};

struct ModelConfig {
    std::vector<FrontEndConfig> frontEnds; // 1 … 16, front end f at port f / 4, slot f % 4
    std::string serial = "PX-EMU-000001";
    std::string softwareVersion = "7.5.2";
    bool analog30k = false;
    bool analog1k = true;
    bool implantConnected = true;          // transceiver front ends report a connected implant
    std::set<unsigned> impedanceUnderflow; // electrodes (0-based) measured as underflow
    std::set<unsigned> impedanceOverflow;  // electrodes measured as overflow
    std::uint32_t impedanceDelayMs = 0;    // measurements are answered this much later
    bool impedanceSilent = false;          // measurements are never answered

    // count front ends of kinds stim, recording, EMG, transceiver in turn.
    static ModelConfig Default(unsigned count);
    // Checks ranges; throws std::invalid_argument with a readable text.
    void Validate() const;
};

const char* KindName(FrontEndKind kind);
// Parses "stim", "recording", "emg" or "transceiver"; throws std::invalid_argument.
FrontEndKind ParseKind(const std::string& text);
std::string FrontEndLabel(const FrontEndConfig& config, unsigned frontEnd);
std::string FrontEndPartNumber(const FrontEndConfig& config);
// "PPPPPP-BBBB.J.N": part number, 4-digit build, one-digit major and minor revision.
std::string HardwareVersionText(const std::string& partNumber, unsigned build, unsigned major,
                                unsigned minor);

} // namespace paxsim
