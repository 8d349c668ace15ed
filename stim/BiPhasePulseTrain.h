// One biphasic pulse train of a stimulation parameter text. Durations are in microseconds.
#pragma once

#include <cstdint>

struct BiPhasePulseTrain {
    std::int32_t Elect = 0; // 1-based electrode number
    bool PL = true;         // polarity: true plays the anodic phase with the polarity bit set
    double TL = 0;          // train length
    double Freq = 0;        // pulses per second
    double AnodDur = 0;     // anodic phase duration
    double CathDur = 0;     // cathodic phase duration
    double CathAmp = 0;     // in steps of the electrode's stimulation resolution
    double AnodAmp = 0;     // in steps of the electrode's stimulation resolution
    double TD = 0;          // delay before the pulse
    double FS = 0;          // fast-settle time; kept, but no word depends on it
};
