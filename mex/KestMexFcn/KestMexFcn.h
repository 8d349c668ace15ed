// The command handlers of kestmex and the helpers they share. Every handler has the entry's
// own signature; its inputs start with the command word itself.
#pragma once

#include "mex.h"

#include "include/kestlib.h"
#include "mex/KestMexFcn/SendProperty.h"

namespace KestMexFcn {

using Handler = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// --- Commands that work without a connection.
void Help(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Processor(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void ProcessorStatus(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// --- Commands of the table.
void Time(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Elec(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Stim(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Digin(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Spike(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void SpikeThresh(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
// "cont" and "cont-adc"; `scale` turns raw values into physical units.
void Cont(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[], bool scale);
void StimSeq(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Trial(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Signal(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void SignalSave(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Filter(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Digout(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void FastSettle(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void ADC2Phys(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void HwLowCorner(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void AddOper(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Impedance(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void HwGround(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void HwReference(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Transceiver(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void InternalBattery(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Sensor(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Button(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void LED(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void AudioTone(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void ProcessorRestart(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void Version(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// --- Shared helpers.

// Forwards the processor's queued messages: errors end the call (later messages stay
// queued), warnings are issued and the call goes on.
void CheckErrors();

// Reads the options of a processor-status probe from `args` into `options`. False when the
// usage was printed instead (an unknown word or "help"): the caller then ends quietly.
bool ParseStatusStartupOptions(KestConnectionOptions* options, int count, const mxArray** args);

// The version of this command layer.
constexpr const char* kKestMexVersion = "1.7.8";

} // namespace KestMexFcn
