// "transceiver": the implant transceivers on front-end ports. Sub-commands "enable" (also
// the numeric form kestmex('transceiver', elec [, flag])), "connected", "status" and
// "command".
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"
#include "mex/KestMexFcn/PeripheralArgs.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace KestMexFcn {

namespace {

constexpr std::size_t kSubCommandSize = 256;
constexpr long kMaxElectrode = 512;
constexpr long kMaxWord = 65535;

constexpr const char* kUsage = "usage: kestmex('transceiver', COMMAND, [args]...)\n"
                               "       COMMAND can be one of 'enable', 'status', or 'command'\n";
constexpr const char* kEnableUsage =
    "usage: kestmex('transceiver', 'enable', electrode index [1-512],\n"
    "      enable_flag [1 enable or 0 disable])";
constexpr const char* kConnectedUsage =
    "usage: kestmex('transceiver', 'connected', electrode index [1-512])";
constexpr const char* kStatusUsage = "usage: kestmex('transceiver', 'status', electrode index)\n"
                                     "       electrode index is 1-512\n";
constexpr const char* kCommandUsage =
    "usage: kestmex('transceiver', 'command', electrode index, command, [data])\n"
    "       electrode index is 1-512\n"
    "       command is the command register word\n"
    "       data are the command data\n";
constexpr const char* kOutOfRange = "electrode index out of range";

// The 0-based electrode of a 1-based input (1-512); `message` otherwise.
int Electrode(const mxArray* array, const char* message) {
    const std::optional<long> electrode = WholeNumber(array, 1, kMaxElectrode);
    if (!electrode) {
        throw MexError(message);
    }
    return int(*electrode - 1);
}

// args: [elec [, flag]] of either enable form.
void Enable(mxArray* plhs[], int count, const mxArray* const* args) {
    if (count < 1 || count > 2) {
        throw MexError(kEnableUsage);
    }
    const int electrode = Electrode(args[0], kOutOfRange);
    int on = 1;
    if (count == 2) {
        const std::optional<double> flag = FiniteNumber(args[1]);
        if (!flag) {
            throw MexError(kEnableUsage);
        }
        on = *flag != 0 ? 1 : 0;
    }
    plhs[0] = MakeDouble(kl_transceiver_enable(electrode, on) == KL_SUCCESS ? 1.0 : 0.0);
}

void Connected(mxArray* plhs[], int count, const mxArray* const* args) {
    if (count != 1) {
        throw MexError(kConnectedUsage);
    }
    const int electrode = Electrode(args[0], kOutOfRange);
    std::int32_t connected = 0;
    const bool yes =
        kl_transceiver_connected(electrode, &connected) == KL_SUCCESS && connected != 0;
    plhs[0] = MakeDouble(yes ? 1.0 : 0.0);
}

void Status(mxArray* plhs[], int count, const mxArray* const* args) {
    if (count != 1) {
        throw MexError(kStatusUsage);
    }
    const int electrode = Electrode(args[0], "elec index out of range");
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    if (kl_transceiver_status(words, electrode) != KL_SUCCESS) {
        throw MexError("Unable to get transcever status");
    }
    mxArray* out =
        Host([] { return mxCreateNumericMatrix(KL_TRANSCEIVER_WORDS, 1, mxUINT16_CLASS, mxREAL); });
    auto* data = static_cast<std::uint16_t*>(Host([&] { return mxGetData(out); }));
    for (unsigned w = 0; w < KL_TRANSCEIVER_WORDS; ++w) {
        data[w] = words[w];
    }
    plhs[0] = out;
}

// One line per argument, numbered from 0: texts as they are, numbers by their first value.
void EchoArguments(int count, const mxArray* const* args) {
    for (int i = 0; i < count; ++i) {
        const std::optional<std::string> text = ReadText(args[i], kSubCommandSize);
        const std::optional<double> number =
            Host([&] { return mxIsNumeric(args[i]) && !mxIsEmpty(args[i]); })
                ? std::optional<double>(Host([&] { return mxGetScalar(args[i]); }))
                : std::nullopt;
        if (text) {
            Print(Format("%d. %s\n", i, text->c_str()));
        } else if (number) {
            Print(Format("%d. %g\n", i, *number));
        } else {
            Print(Format("%d. \n", i));
        }
    }
}

// The data words of a command: one row of at most 32 whole numbers 0-65535 (doubles) or
// 16-bit words; an empty array is a command without data.
void ReadCommandData(const mxArray* array, KestTransceiverCommand* command) {
    if (Host([&] { return mxIsEmpty(array); }) && Host([&] { return mxIsNumeric(array); })) {
        command->count = 0;
        return;
    }
    const bool isDouble = Host([&] { return mxIsDouble(array); });
    const bool isWords = Host([&] { return mxGetClassID(array) == mxUINT16_CLASS; });
    if (!isDouble && !isWords) {
        throw MexError("conversion from data type is not yet implemented");
    }
    if (Host([&] { return mxGetNumberOfDimensions(array); }) != 2 ||
        Host([&] { return mxGetM(array); }) != 1) {
        throw MexError("data format incorrect");
    }
    const std::size_t columns = Host([&] { return mxGetN(array); });
    if (columns > KL_TRANSCEIVER_WORDS) {
        throw MexError("too much data supplied");
    }
    const void* data = Host([&] { return mxGetData(array); });
    for (std::size_t i = 0; i < columns; ++i) {
        if (isWords) {
            command->data[i] = static_cast<const std::uint16_t*>(data)[i];
            continue;
        }
        const double value = static_cast<const double*>(data)[i];
        if (!std::isfinite(value) || value != std::trunc(value) || value < 0 ||
            value > double(kMaxWord)) {
            throw MexError("data format incorrect in conversion");
        }
        command->data[i] = std::uint16_t(value);
    }
    command->count = std::uint16_t(columns);
}

// args: 'command', elec, cmd, data.
void Command(mxArray* plhs[], int count, const mxArray* const* args) {
    EchoArguments(count, args);
    if (count != 4) {
        throw MexError(kCommandUsage);
    }
    const int electrode = Electrode(args[1], kOutOfRange);
    const std::optional<double> word = FiniteNumber(args[2]);
    if (!word || *word != std::trunc(*word) || *word < 0 || *word > double(kMaxWord)) {
        throw MexError("data format of command word incorrect in conversion");
    }
    KestTransceiverCommand command{};
    command.command = std::uint16_t(*word);
    ReadCommandData(args[3], &command);
    if (kl_transceiver_command(electrode, &command) != KL_SUCCESS) {
        throw MexError("command failed");
    }
    plhs[0] = MakeDouble(1.0);
}

} // namespace

void Transceiver(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    Print("Transceiver\n");
    if (nrhs >= 2 && IsText(prhs[1])) {
        const std::optional<std::string> command = ReadText(prhs[1], kSubCommandSize);
        if (!command) {
            throw MexError("Unable to parse string argument");
        }
        const int count = nrhs - 1; // the sub-command and what follows it
        const mxArray* const* args = prhs + 1;
        if (*command == "enable") {
            Enable(plhs, count - 1, args + 1);
        } else if (*command == "connected") {
            Connected(plhs, count - 1, args + 1);
        } else if (*command == "status") {
            Status(plhs, count - 1, args + 1);
        } else if (*command == "command") {
            Command(plhs, count, args);
        }
        return;
    }
    const std::optional<double> first = nrhs >= 2 ? FiniteNumber(prhs[1]) : std::nullopt;
    if (first && *first > 0) {
        Enable(plhs, nrhs - 1, prhs + 1);
        return;
    }
    throw MexError(kUsage);
}

} // namespace KestMexFcn
