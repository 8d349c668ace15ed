#include "emulator/server/CommandLine.h"

#include <sstream>
#include <stdexcept>

namespace paxsim {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

long long Integer(const std::string& option, const std::string& word, long long low,
                  long long high) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(word, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (word.empty() || used != word.size() || value < low || value > high) {
        throw std::invalid_argument("paxsim: " + option + " takes a number from " +
                                    std::to_string(low) + " to " + std::to_string(high) +
                                    ", not '" + word + "'");
    }
    return value;
}

double Real(const std::string& option, const std::string& word, double low, double high) {
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(word, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (word.empty() || used != word.size() || !(value >= low && value <= high)) {
        throw std::invalid_argument("paxsim: " + option + " takes a number from " +
                                    std::to_string(low) + " to " + std::to_string(high) +
                                    ", not '" + word + "'");
    }
    return value;
}

void SetStream(FrontEndConfig& fe, ModelConfig& model, const std::string& name, bool on) {
    if (name == "raw") {
        fe.raw = on;
    } else if (name == "hwstatus") {
        fe.hwStatus = on;
    } else if (name == "stim") {
        fe.stim = on;
    } else if (name == "lfp") {
        fe.lfp = on;
    } else if (name == "hi-res") {
        fe.hiRes = on;
    } else if (name == "hifreq") {
        fe.hiFreq = on;
    } else if (name == "emg") {
        fe.emg = on;
    } else if (name == "spkfilt") {
        fe.spkFilt = on;
    } else if (name == "spk") {
        fe.spk = on;
    } else if (name == "analog30k") {
        model.analog30k = on;
    } else if (name == "analog1k") {
        model.analog1k = on;
    } else {
        throw std::invalid_argument("paxsim: unknown stream '" + name + "'");
    }
}

} // namespace

const char* CommandLineUsage() {
    return "usage: paxsim [options]\n"
           "  --frontends N         front ends, 1-16 (4)\n"
           "  --kinds K,K,...       kinds in turn: stim, recording, emg, transceiver\n"
           "  --channels N          channels per front end, 1-32 (32)\n"
           "  --labels L,L,...      module labels of the front ends in order (empty: from\n"
           "                        the kind)\n"
           "  --on S,S,... / --off S,S,...  streams switched on or off at start: raw,\n"
           "                        hwstatus, stim, lfp, hi-res, hifreq, emg, spkfilt, spk,\n"
           "                        analog30k, analog1k\n"
           "  --mode udp|tcp|both   transport (udp)\n"
           "  --seconds S           run time, 0 until quit (0)\n"
           "  --control-port P      line-based control channel on 127.0.0.1:P\n"
           "  --seed N --spike-rate HZ --digital-rate HZ   synthetic data (1, 2, 1)\n"
           "  --wired-net A.B.C --wireless-net A.B.C --port-base P   (environment:\n"
           "                        KEST_WIRED_NET, KEST_WIRELESS_NET, KEST_PORT_BASE)\n"
           "  --wireless-only       listen on WIRELESS.1 only; --both-nets on both\n"
           "  --operators H,H,...   emulated operators at WIRED.H (128-254)\n"
           "  --wireless-operators H,H,...   emulated operators at WIRELESS.H only\n"
           "  --loss SHARE --flag-every N --seq-gap N[:SIZE]   data faults\n"
           "  --echo normal|drop|alter --echo-delay MS         echo faults\n"
           "  --underflow E,E --overflow E,E   impedance markers on electrodes (0-based)\n"
           "  --start-time T        processor time at start, ticks (30000)\n"
           "  --quiet               no summary at exit\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    cl.server.net = NetConfig::FromEnvironment();
    unsigned frontEnds = 4;
    std::vector<FrontEndKind> kinds;
    std::vector<std::string> labels;
    unsigned channels = 32;
    std::vector<std::pair<std::string, bool>> streams;
    std::vector<unsigned> underflow, overflow;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw std::invalid_argument("paxsim: " + option + " needs a value");
            }
            return args[++i];
        };
        if (option == "--help" || option == "-h") {
            cl.help = true;
        } else if (option == "--frontends") {
            frontEnds = unsigned(Integer(option, value(), 1, 16));
        } else if (option == "--kinds") {
            for (const std::string& kind : Split(value(), ',')) {
                kinds.push_back(ParseKind(kind));
            }
        } else if (option == "--labels") {
            labels = Split(value(), ',');
        } else if (option == "--channels") {
            channels = unsigned(Integer(option, value(), 1, 32));
        } else if (option == "--on" || option == "--off") {
            for (const std::string& name : Split(value(), ',')) {
                streams.emplace_back(name, option == "--on");
            }
        } else if (option == "--mode") {
            const std::string& mode = value();
            if (mode == "udp") {
                cl.server.mode = TransportMode::Udp;
            } else if (mode == "tcp") {
                cl.server.mode = TransportMode::Tcp;
            } else if (mode == "both") {
                cl.server.mode = TransportMode::Both;
            } else {
                throw std::invalid_argument("paxsim: --mode takes udp, tcp or both");
            }
        } else if (option == "--seconds") {
            cl.seconds = Real(option, value(), 0, 1e7);
        } else if (option == "--control-port") {
            cl.controlPort = std::uint16_t(Integer(option, value(), 1, 65535));
        } else if (option == "--seed") {
            cl.data.seed = std::uint32_t(Integer(option, value(), 0, 0xFFFFFFFFll));
        } else if (option == "--spike-rate") {
            cl.data.spikeRate = Real(option, value(), 0, 30000);
        } else if (option == "--digital-rate") {
            cl.data.digitalRate = Real(option, value(), 0, 30000);
        } else if (option == "--wired-net") {
            cl.server.net.wiredNet = value();
            NetConfig::CheckNet(cl.server.net.wiredNet);
        } else if (option == "--wireless-net") {
            cl.server.net.wirelessNet = value();
            NetConfig::CheckNet(cl.server.net.wirelessNet);
        } else if (option == "--port-base") {
            cl.server.net.portBase = std::uint16_t(Integer(option, value(), 1, 65533));
        } else if (option == "--wireless-only") {
            cl.server.net.wirelessOnly = true;
        } else if (option == "--both-nets") {
            cl.server.net.bothNets = true;
        } else if (option == "--operators" || option == "--wireless-operators") {
            for (const std::string& host : Split(value(), ',')) {
                (option == "--operators" ? cl.server.operators : cl.server.wirelessOperators)
                    .push_back(unsigned(Integer(option, host, 128, 254)));
            }
        } else if (option == "--loss") {
            cl.server.loss = Real(option, value(), 0, 1);
        } else if (option == "--flag-every") {
            cl.data.flagEvery = std::uint32_t(Integer(option, value(), 0, 1000000000));
        } else if (option == "--seq-gap") {
            std::vector<std::string> parts = Split(value(), ':');
            if (parts.empty() || parts.size() > 2) {
                throw std::invalid_argument("paxsim: --seq-gap takes N or N:SIZE");
            }
            cl.data.sequenceGapEvery = std::uint32_t(Integer(option, parts[0], 0, 1000000000));
            if (parts.size() == 2) {
                cl.data.sequenceGapSize = std::uint32_t(Integer(option, parts[1], 1, 60000));
            }
        } else if (option == "--echo") {
            const std::string& mode = value();
            if (mode == "normal") {
                cl.echo = EchoMode::Normal;
            } else if (mode == "drop") {
                cl.echo = EchoMode::Drop;
            } else if (mode == "alter") {
                cl.echo = EchoMode::Alter;
            } else {
                throw std::invalid_argument("paxsim: --echo takes normal, drop or alter");
            }
        } else if (option == "--echo-delay") {
            cl.echoDelayMs = std::uint32_t(Integer(option, value(), 0, 600000));
        } else if (option == "--underflow" || option == "--overflow") {
            for (const std::string& e : Split(value(), ',')) {
                (option == "--underflow" ? underflow : overflow)
                    .push_back(unsigned(Integer(option, e, 0, 511)));
            }
        } else if (option == "--start-time") {
            cl.server.startTime = std::uint32_t(Integer(option, value(), 0, 0xFFFFFFFFll));
        } else if (option == "--quiet") {
            cl.quiet = true;
        } else {
            throw std::invalid_argument("paxsim: unknown option '" + option + "'");
        }
    }
    cl.model = ModelConfig::Default(frontEnds);
    for (unsigned f = 0; f < frontEnds; ++f) {
        FrontEndConfig& fe = cl.model.frontEnds[f];
        if (!kinds.empty()) {
            fe.kind = kinds[f % kinds.size()];
        }
        if (f < labels.size()) {
            fe.label = labels[f];
        }
        fe.channels = static_cast<std::uint16_t>(channels);
        for (const auto& [name, on] : streams) {
            SetStream(fe, cl.model, name, on);
        }
    }
    cl.model.impedanceUnderflow.insert(underflow.begin(), underflow.end());
    cl.model.impedanceOverflow.insert(overflow.begin(), overflow.end());
    return cl;
}

} // namespace paxsim
