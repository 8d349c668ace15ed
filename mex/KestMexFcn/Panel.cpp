// "button" and "led": the processor's front-panel buttons (press counts, watch switches) and
// LEDs (state, set, watch switches).
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/PeripheralArgs.h"

#include <optional>
#include <string>

namespace KestMexFcn {

namespace {

constexpr std::size_t kNameSize = 512;

constexpr const char* kButtonUsage =
    "usage: kestmex('button', BUTTON_NAME)\n or kestmex('button', 'watch', BUTTON_NAME, value)\n "
    "where BUTTON_NAME is one of 'stop_stim', 'event', 'f1', or 'f2'\n ";
constexpr const char* kLedUsage = "usage: kestmex('led', LED_NAME)\nor kestmex('led', 'set', "
                                  "LED_NAME, value)\nor kestmex('led', 'watch', LED_NAME, "
                                  "value)\nwhere LED_NAME is one of 'event', 'f1', or 'f2'\n ";

struct PanelName {
    const char* name;
    int number;
};
constexpr PanelName kButtons[] = {{"stop_stim", KL_BUTTON_STOP_STIM},
                                  {"event", KL_BUTTON_EVENT},
                                  {"f1", KL_BUTTON_F1},
                                  {"f2", KL_BUTTON_F2}};
constexpr PanelName kLeds[] = {{"event", KL_LED_EVENT}, {"f1", KL_LED_F1}, {"f2", KL_LED_F2}};

template <std::size_t N> int Lookup(const PanelName (&names)[N], const std::string& name) {
    for (const PanelName& entry : names) {
        if (name == entry.name) {
            return entry.number;
        }
    }
    return 0;
}

// A text argument; `usage` when it is not text, the parse error when it does not fit.
std::string Text(const mxArray* array, const char* usage) {
    if (!IsText(array)) {
        throw MexError(usage);
    }
    const std::optional<std::string> text = ReadText(array, kNameSize);
    if (!text) {
        throw MexError("unable to parse string argument\n");
    }
    return *text;
}

// A switch or LED value: any finite number, on when not 0.
bool OnOff(const mxArray* array) {
    const std::optional<double> value = FiniteNumber(array);
    if (!value) {
        throw MexError("value must be a finite number");
    }
    return *value != 0;
}

} // namespace

void Button(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError(kButtonUsage);
    }
    const std::string first = Text(prhs[1], kButtonUsage);
    if (first == "watch") {
        if (nrhs < 4) {
            throw MexError(kButtonUsage);
        }
        const std::string name = Text(prhs[2], kButtonUsage);
        const int number = Lookup(kButtons, name);
        if (number == 0) {
            throw MexError(Format("invalid button '%s'\n", name.c_str()));
        }
        if (kl_button_set_monitor(OnOff(prhs[3]) ? 1 : 0, number) != KL_SUCCESS) {
            throw MexError("unable to set button monitor\n");
        }
        return;
    }
    const int number = Lookup(kButtons, first);
    if (number == 0) {
        throw MexError(Format("invalid button '%s'\n", first.c_str()));
    }
    std::int32_t count = 0;
    if (kl_button_get_count(&count, number) != KL_SUCCESS) {
        throw MexError("unable to get button counts\n");
    }
    if (count < 0) {
        throw MexError(Format("unable to retrieve button count '%s'\n", first.c_str()));
    }
    plhs[0] = MakeDouble(double(count));
}

void LED(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError(kLedUsage);
    }
    const std::string first = Text(prhs[1], kLedUsage);
    if (first == "set" || first == "watch") {
        if (nrhs < 4) {
            throw MexError(kLedUsage);
        }
        const std::string name = Text(prhs[2], kLedUsage);
        const int number = Lookup(kLeds, name);
        if (number == 0) {
            throw MexError(Format("invalid LED '%s'\n", name.c_str()));
        }
        const bool on = OnOff(prhs[3]);
        if (first == "set" && kl_led_set(on ? 1 : 0, number) != KL_SUCCESS) {
            throw MexError("unable to set LED\n");
        }
        if (first == "watch" && kl_led_set_monitor(on ? 1 : 0, number) != KL_SUCCESS) {
            throw MexError("unable to set LED monitor\n");
        }
        return;
    }
    const int number = Lookup(kLeds, first);
    if (number == 0) {
        throw MexError(Format("invalid LED '%s'\n", first.c_str()));
    }
    std::int32_t state = -1;
    if (kl_led(&state, number) != KL_SUCCESS || state < 0) {
        throw MexError("unable to get LED state\n");
    }
    plhs[0] = MakeDouble(double(state));
}

} // namespace KestMexFcn
