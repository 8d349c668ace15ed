// The names ModuleData knows properties and descriptor blocks by, and the record cast its
// files share.
#pragma once

#include "cache/ModuleData.h"

// The properties the library works with, by the exact name of their property descriptor,
// and the index each starts with before its descriptor arrives. An index of 0 or below
// means the module does not offer the property.
struct NamedProp {
    ModuleData::Prop prop;
    const char* name;
    int initial;
};

extern const NamedProp kNameTable[ModuleData::kPropCount];

inline constexpr const char* kStimControlBlockName = "Stim Control Descriptor Block";
inline constexpr const char* kThresholdBlockName = "Threshold Values Descriptor Block";
inline constexpr const char* kGroundEnableBlockName = "Channel Ground Enable Descriptor Block";
inline constexpr const char* kReferenceEnableBlockName =
    "Channel Reference Enable Descriptor Block";

// Panel properties by panel number 1-8; Count marks a number without such a property.
inline constexpr ModuleData::Prop kButtonProps[] = {
    ModuleData::Prop::StopStimButton, ModuleData::Prop::EventButton, ModuleData::Prop::F1Button,
    ModuleData::Prop::F2Button};
inline constexpr ModuleData::Prop kButtonMonitorProps[] = {
    ModuleData::Prop::StopStimButtonMonitor, ModuleData::Prop::EventButtonMonitor,
    ModuleData::Prop::F1ButtonMonitor, ModuleData::Prop::F2ButtonMonitor};
inline constexpr ModuleData::Prop kLedProps[] = {
    ModuleData::Prop::Count,    ModuleData::Prop::EventLed, ModuleData::Prop::F1Led,
    ModuleData::Prop::F2Led,    ModuleData::Prop::PortALed, ModuleData::Prop::PortBLed,
    ModuleData::Prop::PortCLed, ModuleData::Prop::PortDLed};
inline constexpr ModuleData::Prop kLedMonitorProps[] = {
    ModuleData::Prop::Count,           ModuleData::Prop::EventLedMonitor,
    ModuleData::Prop::F1LedMonitor,    ModuleData::Prop::F2LedMonitor,
    ModuleData::Prop::PortALedMonitor, ModuleData::Prop::PortBLedMonitor,
    ModuleData::Prop::PortCLedMonitor, ModuleData::Prop::PortDLedMonitor};

template <typename Record> Record* As(KestProperty* record) {
    return reinterpret_cast<Record*>(record);
}
