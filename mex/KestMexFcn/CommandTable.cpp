#include "mex/KestMexFcn/CommandTable.h"

#include <cstring>

namespace KestMexFcn {

namespace {

// "cont" and "cont-adc" both return samples in physical units.
void ContScaled(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    Cont(nlhs, plhs, nrhs, prhs, true);
}

} // namespace

const Command kCommandTable[kCommandCount] = {
    {"time", Time},
    {"elec", Elec},
    {"stim", Stim},
    {"digin", Digin},
    {"spike", Spike},
    {"stimdata", Spike},
    {"spike-thresh", SpikeThresh},
    {"cont", ContScaled},
    {"cont-adc", ContScaled},
    {"stimseq", StimSeq},
    {"trial", Trial},
    {"signal", Signal},
    {"signal-save", SignalSave},
    {"filter", Filter},
    {"digout", Digout},
    {"help", Help},
    {"fastsettle", FastSettle},
    {"adc2phys", ADC2Phys},
    {"lowcorner", HwLowCorner},
    {"addoper", AddOper},
    {"impedance", Impedance},
    {"ground", HwGround},
    {"reference", HwReference},
    {"transceiver", Transceiver},
    {"battery", InternalBattery},
    {"sensor", Sensor},
    {"button", Button},
    {"led", LED},
    {"audio-tone", AudioTone},
    {"processor-restart", ProcessorRestart},
    {"version", Version},
};

Handler FindCommand(const char* name) {
    for (const Command& command : kCommandTable) {
        if (std::strcmp(command.name, name) == 0) {
            return command.handler;
        }
    }
    return nullptr;
}

} // namespace KestMexFcn
