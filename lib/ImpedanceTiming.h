// Internal to the library: how long kl_imp waits. The processor confirms the measurement
// set-up within controlPolls x controlPollMs (5 s) and reports the measurement within
// measurePolls x measurePollMs (2 minutes). Tests shorten these to see a timeout quickly.
#pragma once

namespace kestlib {

struct ImpedanceTiming {
    unsigned controlPolls = 100;
    unsigned controlPollMs = 50;
    unsigned measurePolls = 480;
    unsigned measurePollMs = 250;
};

// The timing kl_imp uses; changed only while no measurement runs.
ImpedanceTiming& GetImpedanceTiming();

} // namespace kestlib
