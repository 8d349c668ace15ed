#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MxIo.h"

namespace KestMexFcn {

namespace {

struct HelpLine {
    const char* command;
    const char* text;
};

constexpr HelpLine kHelpLines[] = {
    {"time", "display latest PAX time"},
    {"elec", "retrieve electrode numbers by type of headstage."},
    {"spike", "get recent spike counts and times"},
    {"spike-thresh", "set and receive spike thresholds"},
    {"cont", "get continuous data"},
    {"digin", "retrieve digital inputs"},
    {"digout", "control digital outputs"},
    {"signal", "enable or disable signals"},
    {"filter", "modify and retrieve filter information"},
    {"stim", "send stim control string"},
    {"stimseq", "complex control of stimulation"},
    {"fastsettle", "control fast settle on front ends"},
    {"adc2phys", "select the electrode's ADC resolution"},
    {"lowcorner", "select the electrode's hardware filter low corner"},
    {"addoper", "connect to Kest operator (TCP only)"},
    {"trial", "control file save on Quillon operators"},
    {"impedance", "trigger impedance measurement"},
    {"ground", "connect electrode channel to ground"},
    {"reference", "connect electrode channel to reference"},
    {"transceiver", "send commands to TALO transceiver"},
    {"close", "close UDP socket and delete cached data"},
    {"battery", "get internal battery percentage"},
    {"sensor", "get sensor data"},
    {"button", "read processor buttons"},
    {"led", "set processor LEDs"},
    {"audio-tone", "set and receive audio tone"},
    {"processor", "commands to control the processor"},
    {"version", "get software versions"},
};

} // namespace

void Help(int, mxArray*[], int, const mxArray*[]) {
    std::string text = "usage: kestmex(cmdstr [, args])\n";
    for (const HelpLine& line : kHelpLines) {
        text += Format("\t'%s' - %s\n", line.command, line.text);
    }
    text += "\n";
    text += "\tFor more info, type command strings without arguments\n";
    text += Format("\t(kestmex %s)\n", kKestMexVersion);
    Print(text);
}

} // namespace KestMexFcn
