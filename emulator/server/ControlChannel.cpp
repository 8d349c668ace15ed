#include "emulator/server/ControlChannel.h"

#include "emulator/model/ImpedanceKnobs.h"
#include "emulator/model/ModelFactory.h"
#include "emulator/model/ModelLookup.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace paxsim {
namespace {

// Whole-string numbers; throw std::invalid_argument with the offending word.
long long Integer(const std::string& word, long long low, long long high) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(word, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != word.size() || word.empty() || value < low || value > high) {
        throw std::invalid_argument("bad number '" + word + "'");
    }
    return value;
}

double Real(const std::string& word, double low, double high) {
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(word, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != word.size() || word.empty() || !(value >= low && value <= high)) {
        throw std::invalid_argument("bad number '" + word + "'");
    }
    return value;
}

std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    std::size_t first = rest.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : rest.substr(first);
}

} // namespace

ControlChannel::ControlChannel(Server& server, std::function<void()> onQuit)
    : server_(server), onQuit_(std::move(onQuit)) {}

ControlChannel::~ControlChannel() {
    Stop();
}

const char* ControlChannel::Help() {
    return "commands: help | time | sent | stats | echo normal|drop|alter | echo-delay MS | "
           "error LEVEL CODE TEXT | button stop|event|f1|f2 | silence MS | loss SHARE | "
           "flag-every N | seq-gap EVERY [SIZE] | spike-rate HZ | digital-rate HZ | "
           "digin VALUE | config-change [KIND] | restart | digout | get MODULE INDEX | "
           "trial-status OPER [CODE] | oper-error OPER TEXT | oper-silent OPER on|off | "
           "oper-drop OPER | oper-proc-id OPER ID | transceiver normal|never|late MS | "
           "impedance delay MS|never|normal|underflow E|overflow E|clear | index MODULE NAME | "
           "quit";
}

std::string ControlChannel::Execute(const std::string& line) {
    std::istringstream in(line);
    std::string command, a, b;
    in >> command;
    try {
        if (command == "help") {
            return std::string("ok ") + Help();
        }
        if (command == "time") {
            return "ok " + std::to_string(server_.Now());
        }
        if (command == "sent") {
            return "ok " + std::to_string(server_.DataSentUpTo());
        }
        if (command == "stats") {
            ServerStats s = server_.Stats();
            char text[512];
            std::snprintf(text, sizeof text,
                          "ok packets=%llu datagrams=%llu bytes=%llu dropped-datagrams=%llu "
                          "dropped-packets=%llu received=%llu udp-clients=%u tcp-config=%u "
                          "tcp-data=%u restarts=%llu cpu=%.3f wall=%.3f lag=%u silent=%d",
                          (unsigned long long)s.packetsSent, (unsigned long long)s.datagramsSent,
                          (unsigned long long)s.bytesSent, (unsigned long long)s.datagramsDropped,
                          (unsigned long long)s.packetsDropped,
                          (unsigned long long)s.packetsReceived, s.udpClients, s.tcpConfigClients,
                          s.tcpDataClients, (unsigned long long)s.restarts, s.threadCpuSeconds,
                          s.wallSeconds, s.maxLagTicks, server_.Silent() ? 1 : 0);
            return text;
        }
        if (command == "echo") {
            in >> a;
            EchoMode mode;
            if (a == "normal") {
                mode = EchoMode::Normal;
            } else if (a == "drop") {
                mode = EchoMode::Drop;
            } else if (a == "alter") {
                mode = EchoMode::Alter;
            } else {
                return "error echo takes normal, drop or alter";
            }
            server_.WithModel(
                [&](ProcessorModel& model, DataGenerator&) { model.SetEchoMode(mode); });
            return "ok";
        }
        if (command == "echo-delay") {
            in >> a;
            auto ticks = std::uint32_t(Integer(a, 0, 600000) * 30);
            server_.WithModel(
                [&](ProcessorModel& model, DataGenerator&) { model.SetEchoDelay(ticks); });
            return "ok";
        }
        if (command == "transceiver") {
            in >> a >> b;
            TransceiverFaults faults;
            if (a == "never") {
                faults.answer = TransceiverAnswer::Never;
            } else if (a == "late") {
                faults.answer = TransceiverAnswer::Late;
                faults.delayTicks = std::uint32_t(Integer(b, 0, 600000) * 30);
            } else if (a != "normal") {
                return "error transceiver takes normal, never or late MS";
            }
            server_.WithModel(
                [&](ProcessorModel& model, DataGenerator&) { model.SetTransceiverFaults(faults); });
            return "ok";
        }
        if (command == "error") {
            in >> a >> b;
            auto level = std::uint32_t(Integer(a, 0, 0xFFFFFFFFll));
            auto code = std::uint32_t(Integer(b, 0, 0xFFFFFFFFll));
            server_.InjectError(level, code, Rest(in));
            return "ok";
        }
        if (command == "button") {
            in >> a;
            return server_.PressButton(a) ? "ok" : "error button takes stop, event, f1 or f2";
        }
        if (command == "silence") {
            in >> a;
            server_.Silence(std::uint32_t(Integer(a, 0, 3600000)));
            return "ok";
        }
        if (command == "loss") {
            in >> a;
            server_.SetLoss(Real(a, 0, 1));
            return "ok";
        }
        if (command == "flag-every" || command == "seq-gap" || command == "spike-rate" ||
            command == "digital-rate") {
            in >> a;
            b.clear();
            in >> b;
            std::uint32_t first = 0, size = 1;
            double rate = 0;
            if (command == "spike-rate" || command == "digital-rate") {
                rate = Real(a, 0, 30000);
            } else {
                first = std::uint32_t(Integer(a, 0, 1000000000));
                if (!b.empty()) {
                    size = std::uint32_t(Integer(b, 1, 60000));
                }
            }
            server_.WithModel([&](ProcessorModel&, DataGenerator& generator) {
                DataConfig& config = generator.Config();
                if (command == "flag-every") {
                    config.flagEvery = first;
                } else if (command == "seq-gap") {
                    config.sequenceGapEvery = first;
                    config.sequenceGapSize = size;
                } else if (command == "spike-rate") {
                    config.spikeRate = rate;
                } else {
                    config.digitalRate = rate;
                }
            });
            return "ok";
        }
        if (command == "digin") {
            in >> a;
            server_.InjectDigital(std::uint16_t(Integer(a, 0, 0xFFFF)));
            return "ok";
        }
        if (command == "config-change") {
            a = "recording";
            in >> a;
            std::uint8_t id = server_.ConfigChange(ParseKind(a));
            return id == 0 ? "error every front-end position is taken"
                           : "ok module " + std::to_string(id);
        }
        if (command == "restart") {
            server_.RequestRestart();
            return "ok";
        }
        if (command == "index") {
            return server_.WithModel([&](ProcessorModel& model, DataGenerator&) {
                return LookupIndex(model, Rest(in));
            });
        }
        if (command == "impedance") {
            return server_.WithModel([&](ProcessorModel& model, DataGenerator&) {
                return ApplyImpedanceKnob(model, Rest(in));
            });
        }
        if (command == "digout") {
            std::uint32_t word = server_.WithModel(
                [](ProcessorModel& model, DataGenerator&) { return model.DigitalOutputWord(); });
            char text[32];
            std::snprintf(text, sizeof text, "ok 0x%08X", word);
            return text;
        }
        if (command == "get") {
            in >> a >> b;
            auto module = std::uint8_t(Integer(a, 0, 255));
            auto index = std::uint16_t(Integer(b, 0, 0xFFFF));
            return server_.WithModel([&](ProcessorModel& model, DataGenerator&) {
                const ModuleModel* m = model.Find(module);
                if (!m || index >= m->records.size()) {
                    return std::string("error no such property");
                }
                std::string text = "ok";
                char hex[4];
                for (std::uint8_t byte : m->records[index]) {
                    std::snprintf(hex, sizeof hex, " %02x", byte);
                    text += hex;
                }
                return text;
            });
        }
        // An operator (OPER) is named by its host part or by a dotted address it listens at.
        if (command == "trial-status") {
            in >> a >> b;
            if (!b.empty()) { // set it, as the operator itself would
                auto status = std::int32_t(Integer(b, 0, 0x7FFFFFFF));
                return server_.SetOperatorTrialStatus(a, status) ? "ok" : "error no such operator";
            }
            std::int32_t status = server_.OperatorTrialStatus(a);
            return status < 0 ? "error no such operator" : "ok " + std::to_string(status);
        }
        if (command == "oper-error") {
            in >> a;
            return server_.SetOperatorError(a, Rest(in)) ? "ok" : "error no such operator";
        }
        if (command == "oper-silent") {
            in >> a >> b;
            if (b != "on" && b != "off") {
                return "error oper-silent takes on or off";
            }
            return server_.SetOperatorSilent(a, b == "on") ? "ok" : "error no such operator";
        }
        if (command == "oper-drop") {
            in >> a;
            return server_.DropOperatorConnections(a) ? "ok" : "error no such operator";
        }
        if (command == "oper-proc-id") {
            in >> a >> b;
            return server_.SetOperatorProcId(a, std::uint8_t(Integer(b, 1, 255)))
                       ? "ok"
                       : "error no such operator";
        }
        if (command == "quit") {
            if (onQuit_) {
                onQuit_();
            }
            return "ok";
        }
        if (command.empty()) {
            return "error empty command";
        }
        return "error unknown command '" + command + "'";
    } catch (const std::exception& e) {
        return std::string("error ") + e.what();
    }
}

void ControlChannel::Start(const std::string& address, std::uint16_t port) {
    if (address.rfind("127.", 0) != 0) {
        throw std::invalid_argument("paxsim: the control channel listens on loopback only");
    }
    listener_ = ListenTcp(MakeAddress(address, port));
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void ControlChannel::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    listener_.Close();
}

void ControlChannel::Run() {
    struct Client {
        Fd fd;
        std::string in;
    };
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    while (!stop_.load()) {
        fds.assign(1, pollfd{listener_.Get(), POLLIN, 0});
        for (const Client& c : clients) {
            fds.push_back({c.fd.Get(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        int accepted = ::accept(listener_.Get(), nullptr, nullptr);
        if (accepted >= 0) {
            clients.push_back({Fd(accepted), {}});
        }
        for (std::size_t i = 0; i < clients.size() && i + 1 < fds.size(); ++i) {
            Client& c = clients[i];
            if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buffer[4096];
            ssize_t got = ::recv(c.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                c.fd.Close();
                continue;
            }
            if (got < 0) {
                continue;
            }
            c.in.append(buffer, std::size_t(got));
            if (c.in.size() > 65536) {
                c.fd.Close(); // no command is that long
                continue;
            }
            std::size_t end;
            while ((end = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, end);
                c.in.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                std::string answer = Execute(line) + "\n";
                ::send(c.fd.Get(), answer.data(), answer.size(), MSG_NOSIGNAL);
            }
        }
        for (std::size_t i = clients.size(); i-- > 0;) {
            if (!clients[i].fd.IsOpen()) {
                clients.erase(clients.begin() + std::ptrdiff_t(i));
            }
        }
    }
}

} // namespace paxsim
