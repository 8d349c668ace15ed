#include "lib/CommandAccess.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "links/OperNetwork.h"

namespace kestlib {

bool ConnectionOpen() {
    return gKestClient != nullptr;
}

bool CacheIsInit() {
    return gKestCache != nullptr && gKestCache->IsInit();
}

int CacheStatus() {
    return gKestCache != nullptr ? gKestCache->GetStatus() : kCacheNoProcessor;
}

void ShutdownLinks() {
    Network::OperNetwork::NetworkShutdown();
}

std::uint32_t ProcessorTime() {
    return gKestCache->GetPAXTime();
}

unsigned ElectrodeList(unsigned* out, unsigned max, const char* pattern) {
    return gKestCache->GetElecList(out, max, pattern);
}

bool HaveElectrode(unsigned electrode) {
    return gKestCache->HaveElectrode(electrode);
}

KestOutputStreamDesc* OutputStreamDesc(int electrode, const std::string& name, int* module,
                                       int* stream) {
    return gKestCache->GetOutputStreamDesc(electrode, name, module, stream);
}

int ContDataStatus(std::uint32_t* outTime, float* dest, std::uint32_t count,
                   const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                   std::uint32_t time) {
    return gKestCache->GetContDataStatus(outTime, dest, count, electrodes, electrodeCount, time);
}

int ContDataBlock(std::uint32_t* outTime, double* dest, std::size_t leading, std::uint32_t count,
                  const KestContBlockRun* runs, std::size_t runCount,
                  const std::uint32_t* electrodes, std::uint32_t* delivered, std::uint32_t time,
                  bool scale) {
    return gKestCache->GetContDataBlock(outTime, dest, leading, count, runs, runCount, electrodes,
                                        delivered, time, scale);
}

int DigitalInput(KestDigitalEventPacket* dest, int* destSequences, std::uint32_t max) {
    return gKestCache->GetDigitalInput(dest, destSequences, max);
}

KestBool* DigitalCaptureBitChange(int* module, int* index) {
    return gKestCache->GetDigitalCaptureBitChange(module, index);
}

std::vector<KestSegmentBlock> SegmentsByElec(const std::vector<unsigned>& electrodes, bool stim) {
    return stim ? gKestCache->GetStimDataByElec(electrodes)
                : gKestCache->GetSpikesByElec(electrodes);
}

std::vector<KestSegmentCount> SegmentCountsByElec(const std::vector<unsigned>& electrodes,
                                                  bool stim) {
    return stim ? gKestCache->GetStimCountsByElec(electrodes)
                : gKestCache->GetSpikeCountsByElec(electrodes);
}

float SegmentConv(int electrode, bool stim) {
    return stim ? gKestCache->GetStimConv(electrode) : gKestCache->GetSpikeConv(electrode);
}

bool ConfirmBool(unsigned module, unsigned property, bool value, unsigned timeoutMs) {
    return KestSendAndRecv(nullptr, nullptr, timeoutMs).SendBool(module, property, value);
}

bool ConfirmComboBox(KestComboBox& box, unsigned module, unsigned property, unsigned timeoutMs) {
    return KestSendAndRecv(nullptr, nullptr, timeoutMs).SendComboBox(box, module, property);
}

} // namespace kestlib
