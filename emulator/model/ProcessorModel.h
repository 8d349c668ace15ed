// The emulated processor's configuration state and its answers to configuration packets.
//
// Requests are answered from the stored records; every property set is stored and echoed
// with the stored record (stamped with the current processor time), unless an echo knob
// says otherwise. Sets to descriptors and channel records, and combo-box selections
// outside the items, are refused: the unchanged record goes back. Sets to a few properties also
// act: stimulation sequences are played as stimulation segment packets, the digital output command
// is applied, impedance cycles and transceiver requests are answered, and the restart trigger
// restarts the processor. Not thread-safe: one owner (the server thread) calls it, others go
// through the server.
#pragma once

#include "emulator/model/ModelConfig.h"
#include "emulator/model/ModuleModel.h"
#include "emulator/model/Outbox.h"
#include "emulator/model/TransceiverFaults.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace paxsim {

enum class EchoMode {
    Normal, // echo the stored record
    Drop,   // store, echo nothing
    Alter,  // store and echo a value other than the one asked for
};

struct ModelCounters {
    std::uint64_t requests = 0;
    std::uint64_t sets = 0;
    std::uint64_t echoes = 0;
    std::uint64_t ignored = 0; // unknown modules, indices or targets
    std::uint64_t refused = 0; // sets to descriptors, combo selections outside the items
    std::uint64_t stimSegments = 0;
};

class ProcessorModel {
  public:
    explicit ProcessorModel(ModelConfig config);

    const ModelConfig& Config() const { return config_; }
    // Knobs a test turns while the model runs (impedance faults); Reset restores them.
    ModelConfig& MutableConfig() { return config_; }
    const std::vector<ModuleModel>& Modules() const { return modules_; }
    ModuleModel* Find(std::uint8_t id);
    const ModuleModel* Find(std::uint8_t id) const;

    // One whole packet from a client (bytes = its length). Answers go to out.
    void HandlePacket(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                      Outbox& out);
    // Packets that became due by now: delayed echoes, stimulation segments.
    void Poll(std::uint32_t now, Outbox& out);

    void SetEchoMode(EchoMode mode) { echoMode_ = mode; }
    void SetEchoDelay(std::uint32_t ticks) { echoDelay_ = ticks; }
    // Transceiver properties answered at once, late or never.
    void SetTransceiverFaults(TransceiverFaults faults) { transceiverFaults_ = faults; }

    // Front-panel button press: the button's record with value 1, then 0.
    bool PressButton(const std::string& button, std::uint32_t now, Outbox& out);
    // An error message (module 0, property 0xFFFE).
    static void AppendErrorMessage(std::uint32_t level, std::uint32_t code, const std::string& text,
                                   std::uint32_t now, Outbox& out);
    // Stores a property as if changed on the processor and sends it (unsolicited update).
    bool Update(std::uint8_t module, std::uint16_t index, const Record& record, std::uint32_t now,
                Outbox& out);
    // A new front end appears (configuration change); returns its hardware module id or 0
    // when all 16 positions are taken.
    std::uint8_t AddFrontEnd(FrontEndKind kind);

    // True once after the restart trigger was set.
    bool TakeRestartRequest();
    // Back to the configuration the model was made with.
    void Reset();

    std::uint32_t DigitalOutputWord() const { return digitalOutput_; }
    bool GlobalStimEnabled() const;
    const ModelCounters& Counters() const { return counters_; }
    // Changes whenever a stored record or the module list may have changed.
    std::uint64_t Version() const { return version_; }
    // Front end of a hardware or processing module id, -1 for other modules.
    static int FrontEndOf(std::uint8_t module);
    // The impedance the model measures on an electrode, in ohms.
    static float ImpedanceOhms(unsigned electrode);

  private:
    struct Delayed {
        std::uint32_t due;
        std::vector<std::uint8_t> packet;
    };
    struct StimPlay {
        std::uint8_t module;
        unsigned channel;
        std::vector<std::uint32_t> words; // control words after the header
        std::uint32_t start;
        std::uint32_t period;
        unsigned repeats;
        unsigned played = 0;
        bool waitTrigger = false;
    };

    void AnswerRequest(std::uint8_t target, std::uint8_t module, std::uint16_t index,
                       std::uint32_t now, Outbox& out);
    void ApplySet(std::uint8_t module, std::uint16_t index, const std::uint8_t* record,
                  std::size_t length, std::uint32_t now, Outbox& out);
    bool Refuses(const ModuleModel& module, std::uint16_t index, const std::uint8_t* record,
                 std::size_t length) const;
    void Echo(std::uint8_t module, std::uint16_t index, std::uint32_t now, Outbox& out);
    void Send(std::uint8_t module, std::uint16_t index, std::uint32_t now, Outbox& out);
    // Behaviour after a set has been stored, chosen by the module's kind and the property's
    // name (ModuleActions.cpp, FrontEndActions.cpp); returns false when the set must not be
    // echoed the ordinary way (the behaviour answered itself).
    using Action = bool (ProcessorModel::*)(ModuleModel& module, std::uint16_t index,
                                            std::uint32_t now, Outbox& out);
    struct NamedAction {
        const char* name;
        Action act;
    };
    bool Act(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    // The action named after the property at index, nullptr when none is.
    Action FindAction(const NamedAction* actions, std::size_t count, const ModuleModel& module,
                      std::uint16_t index) const;
    bool ActOnProcessor(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool ActOnDigitalOutput(ModuleModel& module, std::uint16_t index);
    bool ActOnFrontEnd(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    // The processor module's behaviours (ModuleActions.cpp).
    bool OnRestartTrigger(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnAllStimTrigger(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnAllStimEnable(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnTrialDescriptor(ModuleModel& module, std::uint16_t index, std::uint32_t now,
                           Outbox& out);
    // A front end's hardware module behaviours (FrontEndActions.cpp).
    bool OnStimTrigger(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnStimEnable(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnImpedanceCycle(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnImplantConnectionStatus(ModuleModel& module, std::uint16_t index, std::uint32_t now,
                                   Outbox& out);
    bool OnImplantSearchTrigger(ModuleModel& module, std::uint16_t index, std::uint32_t now,
                                Outbox& out);
    bool OnImplantRead(ModuleModel& module, std::uint16_t index, std::uint32_t now, Outbox& out);
    bool OnStimCalibration(ModuleModel& module, std::uint16_t index, std::uint32_t now,
                           Outbox& out);
    // Stimulation playback (StimPlayback.cpp).
    void LoadStimSequence(ModuleModel& module, unsigned channel, std::uint32_t now);
    void TriggerStim(int onlyModule, std::uint32_t now);
    void EmitStimSegment(const StimPlay& play, std::uint32_t time, Outbox& out);
    // Segments of the sequences that became due by now.
    void PlayStim(std::uint32_t now, Outbox& out);
    // An impedance cycle's measurements (ImpedanceMeasurement.cpp).
    void MeasureImpedance(ModuleModel& module, std::uint32_t now, Outbox& out);
    bool NameIs(const ModuleModel& module, const char* name, std::uint16_t index) const;
    // Whether the transceiver knob holds back the answers to a set of this property, and
    // what becomes of them (TransceiverAnswers.cpp).
    bool HoldsTransceiverAnswer(const ModuleModel& module, std::uint16_t index) const;
    void ReleaseTransceiverAnswer(const Outbox& held, std::uint32_t now);

    ModelConfig config_;
    ModelConfig initialConfig_;
    std::vector<ModuleModel> modules_;
    EchoMode echoMode_ = EchoMode::Normal;
    std::uint32_t echoDelay_ = 0;
    TransceiverFaults transceiverFaults_;
    std::deque<Delayed> delayed_;
    std::vector<StimPlay> stimPlays_;
    std::map<std::uint32_t, std::uint16_t> segmentSequence_; // module << 8 | stream
    std::uint32_t digitalOutput_ = 0;
    bool restartRequested_ = false;
    ModelCounters counters_;
    std::uint64_t version_ = 0;
};

} // namespace paxsim
