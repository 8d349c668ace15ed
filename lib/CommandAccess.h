// What the command layer needs beneath the library beyond the kl_* calls. The entry's seam:
// whether a connection is open, the cache's status and the shutdown of the links. The
// handlers' reads: the cache queries they need whole (drained segment rings, block reads of
// continuous windows, descriptors) and the confirmed property writes. Each call is one
// locked query of the open connection's cache or one confirmed write of its sender; the
// caller has checked that a connection is open and its cache is ready.
#pragma once

#include "cache/KestCacheTypes.h"
#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestlib {

// --- The entry's seam.
// True while a connection's cache and sender exist.
bool ConnectionOpen();
// The cache is complete and initialised.
bool CacheIsInit();
// The cache's status (KestCacheStatus); kCacheNoProcessor when no connection is open.
int CacheStatus();
// Stops the links and destroys the connection's cache and sender.
void ShutdownLinks();

// --- Cache reads of the handlers.
std::uint32_t ProcessorTime();
unsigned ElectrodeList(unsigned* out, unsigned max, const char* pattern);
bool HaveElectrode(unsigned electrode);
KestOutputStreamDesc* OutputStreamDesc(int electrode, const std::string& name, int* module,
                                       int* stream);
int ContDataStatus(std::uint32_t* outTime, float* dest, std::uint32_t count,
                   const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                   std::uint32_t time);
int ContDataBlock(std::uint32_t* outTime, double* dest, std::size_t leading, std::uint32_t count,
                  const KestContBlockRun* runs, std::size_t runCount,
                  const std::uint32_t* electrodes, std::uint32_t* delivered, std::uint32_t time,
                  bool scale);
int DigitalInput(KestDigitalEventPacket* dest, int* destSequences, std::uint32_t max);
KestBool* DigitalCaptureBitChange(int* module, int* index);
// Drained segment rings and their counts: stimulation records when `stim`, spikes otherwise.
std::vector<KestSegmentBlock> SegmentsByElec(const std::vector<unsigned>& electrodes, bool stim);
std::vector<KestSegmentCount> SegmentCountsByElec(const std::vector<unsigned>& electrodes,
                                                  bool stim);
// The conversion of an electrode's segment samples to the unit shown.
float SegmentConv(int electrode, bool stim);

// --- Confirmed writes: false when the processor does not echo the value within timeoutMs.
bool ConfirmBool(unsigned module, unsigned property, bool value, unsigned timeoutMs);
bool ConfirmComboBox(KestComboBox& box, unsigned module, unsigned property, unsigned timeoutMs);

} // namespace kestlib
