#include "cache/ModuleDataNames.h"

namespace {
using Prop = ModuleData::Prop;
} // namespace

constexpr NamedProp kNameTable[ModuleData::kPropCount] = {
    // Stimulation.
    {Prop::StimEnable, "Stim Enable", 0},
    {Prop::StimTrigger, "Stim Trigger", 0},
    {Prop::StimScale, "Stim Scale", 0},
    {Prop::StimSource, "Stim Source", 0},
    {Prop::StimType, "Stim Type", 0},
    {Prop::StimEventTriggerMap, "Stim Event Trigger Map", 0},
    // Fast settle.
    {Prop::FastSettleStim, "Fast Settle Stim", 0},
    {Prop::FastSettleSource, "Fast Settle Source", 0},
    {Prop::FastSettleStimDuration, "Fast Settle Stim Duration", 0},
    {Prop::FastSettleDuration, "Fast Settle Duration", 0},
    // Digital capture, conversion, hardware filter and stimulation hardware.
    {Prop::CaptureAnyParallelBitChange, "Capture Any Parallel Bit Change", 0},
    {Prop::ADCToPhysicalUnitsSelector, "ADC to Physical Units Selector", 0},
    {Prop::HardwareHighPassCorner, "Hardware Filter High-Pass Corner", 0},
    {Prop::StimResolution, "Stim Resolution", 0},
    {Prop::StimCalibration, "Stim Calibration", 0},
    {Prop::StimExhaustingResistor, "Stim Exhausting Resistor", 0},
    // Impedance measurement.
    {Prop::ImpedanceCycle, "Impedance Cycle", -1},
    {Prop::ImpedanceFreqList, "Impedance Freq List", -1},
    {Prop::ImpedanceCurrentList, "Impedance Current List", -1},
    {Prop::ImpedanceControl, "Impedance Control", -1},
    {Prop::ImpedanceMeasurements, "Impedance Measurements", -1},
    // Transceiver.
    {Prop::ImplantConnectionStatus, "Implant Connection Status", -1},
    {Prop::ImplantSearchTrigger, "Implant Search Trigger", -1},
    {Prop::ImplantStatus, "Implant Status", -1},
    {Prop::TransceiverCommand, "Transceiver Command", -1},
    {Prop::ImplantCommandResponse, "Implant Command Response", -1},
    // Power and sensors.
    {Prop::InternalBattery, "Internal Battery", -1},
    {Prop::ExternalBattery, "External Battery", -1},
    {Prop::ExternalBatteryDetected, "External Battery Detected", -1},
    {Prop::WallSensor, "Wall Sensor", -1},
    {Prop::VddSensor, "VDD Sensor", -1},
    // Front panel.
    {Prop::StopStimButtonMonitor, "Stop Stim Button Monitor", -1},
    {Prop::StopStimButton, "Stop Stim Button", -1},
    {Prop::EventButtonMonitor, "Event Button Monitor", -1},
    {Prop::EventButton, "Event Button", -1},
    {Prop::EventLedMonitor, "Event LED Monitor", -1},
    {Prop::EventLed, "Event LED", -1},
    {Prop::F1ButtonMonitor, "F1 Button Monitor", -1},
    {Prop::F1Button, "F1 Button", -1},
    {Prop::F1LedMonitor, "F1 LED Monitor", -1},
    {Prop::F1Led, "F1 LED", -1},
    {Prop::F2ButtonMonitor, "F2 Button Monitor", -1},
    {Prop::F2Button, "F2 Button", -1},
    {Prop::F2LedMonitor, "F2 LED Monitor", -1},
    {Prop::F2Led, "F2 LED", -1},
    {Prop::PortALedMonitor, "Port A LED Monitor", -1},
    {Prop::PortALed, "Port A LED", -1},
    {Prop::PortBLedMonitor, "Port B LED Monitor", -1},
    {Prop::PortBLed, "Port B LED", -1},
    {Prop::PortCLedMonitor, "Port C LED Monitor", -1},
    {Prop::PortCLed, "Port C LED", -1},
    {Prop::PortDLedMonitor, "Port D LED Monitor", -1},
    {Prop::PortDLed, "Port D LED", -1},
    // Processor.
    {Prop::RecordingTrialDescriptor, "Recording Trial Descriptor", -1},
    {Prop::RestartPaxexecTrigger, "Restart Paxexec Trigger", -1},
    {Prop::AudioTone, "Audio Tone", -1},
    {Prop::StimLatency, "Stim Latency", -1},
};

constexpr bool TableFollowsEnum() {
    int position = 0;
    for (const NamedProp& entry : kNameTable) {
        if (static_cast<int>(entry.prop) != position++)
            return false;
    }
    return position == ModuleData::kPropCount;
}
static_assert(TableFollowsEnum(), "one table entry per property, in enum order");
