// "battery", "sensor" and "audio-tone": the processor's batteries and power sensors, and the
// tone it plays.
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/PeripheralArgs.h"

#include <optional>
#include <string>

namespace KestMexFcn {

namespace {

constexpr std::size_t kNameSize = 512;
constexpr long kMaxToneValue = 65535;

constexpr const char* kSensorUsage = "usage: kestmex('sensor', SENSOR_NAME, options)\n"
                                     " where SENSOR_NAME is one of 'battery',\n"
                                     "                             'external-battery',\n"
                                     "                             'detect-external-battery',\n"
                                     "                             'wall',\n"
                                     "                             'VDD'\n";
constexpr const char* kAudioToneUsage = "usage: kestmex('audio-tone', freqHz, durationMs)\n";
constexpr const char* kAudioToneFailed = "error trying to set audio tone\n";

double InternalBatteryPercent() {
    std::int32_t percent = -1;
    if (kl_internal_battery(&percent) != KL_SUCCESS || percent < 0) {
        throw MexError("unable to detect internal battery\n");
    }
    return double(percent);
}

// The help text of a power sensor's sub-commands.
std::string PowerHelp(const char* sensor) {
    return Format("kestmex( ... '%s', subcommand)\nsubcommand must be one of 'current' "
                  "'voltage' 'power' 'all' or 'help'\n",
                  sensor);
}

// "wall" and "vdd": current, voltage and power by the option and the number of outputs.
void PowerSensor(const char* sensor, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    std::string option = "all";
    if (nrhs > 3) {
        throw MexError(PowerHelp(sensor));
    }
    if (nrhs == 3) {
        if (!IsText(prhs[2])) {
            throw MexError(PowerHelp(sensor));
        }
        const std::optional<std::string> text = ReadText(prhs[2], kNameSize);
        if (!text) {
            throw MexError("Unable to parse sub command string\n");
        }
        option = *text;
    }
    if (option == "help") {
        Print(PowerHelp(sensor));
        return;
    }
    int first = 0;
    int count = 0;
    if (option == "all" && nlhs <= 3) {
        count = nlhs < 1 ? 1 : nlhs;
    } else if (nlhs <= 1 && (option == "current" || option == "voltage" || option == "power")) {
        first = option == "current" ? 0 : option == "voltage" ? 1 : 2;
        count = 1;
    } else {
        throw MexError(PowerHelp(sensor));
    }
    const bool wall = std::string(sensor) == "wall";
    KestSensorReading reading{};
    if ((wall ? kl_wall_sensor(&reading) : kl_vdd_sensor(&reading)) != KL_SUCCESS) {
        throw MexError(wall ? "Error getting wall sensor data\n"
                            : "Error getting VDD sensor data\n");
    }
    const double values[3] = {reading.current, reading.voltage, reading.power};
    for (int k = 0; k < count; ++k) {
        plhs[k] = MakeDouble(values[first + k]);
    }
}

} // namespace

void InternalBattery(int, mxArray* plhs[], int, const mxArray*[]) {
    plhs[0] = MakeDouble(InternalBatteryPercent());
}

void Sensor(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2 || !IsText(prhs[1])) {
        throw MexError(kSensorUsage);
    }
    const std::optional<std::string> name = ReadText(prhs[1], kNameSize);
    if (!name) {
        throw MexError("unable to parse string argument\n");
    }
    if (*name == "battery") {
        plhs[0] = MakeDouble(InternalBatteryPercent());
    } else if (*name == "external-battery") {
        std::int32_t percent = -1;
        if (kl_external_battery(&percent) != KL_SUCCESS || percent < 0) {
            throw MexError("unable to detect external battery\n");
        }
        plhs[0] = MakeDouble(double(percent));
    } else if (*name == "detect-external-battery") {
        std::int32_t detected = 0;
        if (kl_external_battery_detected(&detected) != KL_SUCCESS) {
            throw MexError("error trying to detect external battery\n");
        }
        plhs[0] = MakeDouble(detected != 0 ? 1.0 : 0.0);
    } else if (*name == "wall" || *name == "vdd") {
        PowerSensor(name->c_str(), nlhs, plhs, nrhs, prhs);
    } else {
        throw MexError(kSensorUsage);
    }
}

void AudioTone(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 3) {
        throw MexError(kAudioToneUsage);
    }
    if (!Host([&] { return mxIsNumeric(prhs[1]) && mxIsNumeric(prhs[2]); })) {
        throw MexError(kAudioToneUsage);
    }
    // Each value is checked before it is converted: 70000 Hz is refused, not played as
    // 4464 Hz.
    const std::optional<long> frequency = WholeNumber(prhs[1], 0, kMaxToneValue);
    const std::optional<long> duration = WholeNumber(prhs[2], 0, kMaxToneValue);
    if (!frequency || !duration) {
        throw MexError(kAudioToneFailed);
    }
    const std::int32_t hz = std::int32_t(*frequency);
    const std::int32_t ms = std::int32_t(*duration);
    if (kl_audio_tone_set(&hz, &ms) != KL_SUCCESS) {
        throw MexError(kAudioToneFailed);
    }
}

} // namespace KestMexFcn
