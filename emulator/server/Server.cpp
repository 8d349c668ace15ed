#include "emulator/server/Server.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/signal/SignalModel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace paxsim {
namespace {

constexpr std::size_t kDatagramLimit = 1440;
constexpr int kSocketBuffer = 16384000;
constexpr std::size_t kTcpBacklogLimit = 64u << 20; // a client this far behind is dropped

bool Due(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool SameHost(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

} // namespace

Server::Server(ModelConfig model, DataConfig data, ServerOptions options)
    : options_(std::move(options)), model_(std::move(model)), generator_(model_, data),
      operators_(options_.net, options_.operators, options_.wirelessOperators, model_.Config(),
                 options_.operatorSettleMs * 30) {
    loss_ = std::clamp(options_.loss, 0.0, 1.0);
    const NetConfig& net = options_.net;
    processorAddress_ = (net.wirelessOnly ? net.wirelessNet : net.wiredNet) + ".1";
}

Server::~Server() {
    Stop();
}

std::uint32_t Server::Now() const {
    auto elapsed = std::chrono::steady_clock::now() - start_;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    return options_.startTime + static_cast<std::uint32_t>(std::uint64_t(ns) * 3 / 100000);
}

void Server::Start() {
    if (running_.load()) {
        return;
    }
    const NetConfig& net = options_.net;
    std::vector<std::string> nets;
    if (!net.wirelessOnly) {
        nets.push_back(net.wiredNet);
    }
    if (net.wirelessOnly || net.bothNets) {
        nets.push_back(net.wirelessNet);
    }
    bool udp = options_.mode != TransportMode::Tcp;
    bool tcp = options_.mode != TransportMode::Udp;
    for (const std::string& prefix : nets) {
        if (udp) {
            udp_.push_back(BindUdp(MakeAddress(prefix + ".1", net.ConfigPort()), kSocketBuffer));
            // Clients send to the subnet's broadcast address by default.
            udp_.push_back(BindUdp(MakeAddress(prefix + ".255", net.ConfigPort()), kSocketBuffer));
        }
        if (tcp) {
            listeners_.push_back(
                {ListenTcp(MakeAddress(prefix + ".1", net.PresencePort())), Listener::Presence, 1});
            listeners_.push_back(
                {ListenTcp(MakeAddress(prefix + ".1", net.DataPort())), Listener::Data, 1});
            listeners_.push_back(
                {ListenTcp(MakeAddress(prefix + ".1", net.ConfigPort())), Listener::Config, 1});
        }
    }
    for (std::size_t i = 0; i < operators_.Size(); ++i) {
        for (const std::string& address : operators_.At(int(i)).addresses) {
            listeners_.push_back({ListenTcp(MakeAddress(address, net.ConfigPort())),
                                  Listener::Operator, unsigned(i)});
        }
    }
    start_ = std::chrono::steady_clock::now();
    generated_ = options_.startTime;
    nextHeartbeat_ = options_.startTime;
    generator_.Restart(options_.startTime);
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void Server::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    running_ = false;
    udp_.clear();
    listeners_.clear();
    tcpClients_.clear();
    udpClients_.clear();
}

void Server::InjectError(std::uint32_t level, std::uint32_t code, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    ProcessorModel::AppendErrorMessage(level, code, text, Now(), pendingAll_);
}

bool Server::PressButton(const std::string& button) {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.PressButton(button, Now(), pendingAll_);
}

void Server::Silence(std::uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = true;
    silentUntil_ = Now() + ms * 30;
}

bool Server::Silent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return silent_;
}

std::uint8_t Server::ConfigChange(FrontEndKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.AddFrontEnd(kind);
}

void Server::SetLoss(double share) {
    loss_ = std::clamp(share, 0.0, 1.0);
}

void Server::InjectDigital(std::uint16_t parallel) {
    std::lock_guard<std::mutex> lock(mutex_);
    generator_.InjectDigital(parallel);
}

void Server::RequestRestart() {
    std::lock_guard<std::mutex> lock(mutex_);
    restartRequested_ = true;
}

bool Server::SetOperatorError(unsigned host, const std::string& text) {
    return SetOperatorError(std::to_string(host), text);
}

std::int32_t Server::OperatorTrialStatus(unsigned host) {
    return OperatorTrialStatus(std::to_string(host));
}

bool Server::SetOperatorError(const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    if (index < 0) {
        return false;
    }
    operators_.At(index).model->SetErrorMessage(text);
    return true;
}

std::int32_t Server::OperatorTrialStatus(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    return index < 0 ? -1 : operators_.At(index).model->TrialStatus(Now());
}

bool Server::SetOperatorTrialStatus(const std::string& name, std::int32_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    if (index >= 0) {
        operators_.At(index).model->SetTrialStatus(status);
    }
    return index >= 0;
}

bool Server::SetOperatorSilent(const std::string& name, bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    if (index >= 0) {
        operators_.At(index).silent = silent;
    }
    return index >= 0;
}

bool Server::DropOperatorConnections(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    if (index >= 0) {
        operators_.At(index).dropRequested = true;
    }
    return index >= 0;
}

bool Server::SetOperatorProcId(const std::string& name, std::uint8_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = operators_.Find(name);
    if (index >= 0) {
        operators_.At(index).model->SetHeaderProcId(id);
    }
    return index >= 0;
}

ServerStats Server::Stats() const {
    std::lock_guard<std::mutex> lock(statsMutex_);
    return stats_;
}

bool Server::DropNext() {
    const double loss = loss_;
    if (loss <= 0) {
        return false;
    }
    ++lossCounter_;
    std::uint32_t draw =
        Mix(options_.lossSeed, std::uint32_t(lossCounter_), std::uint32_t(lossCounter_ >> 32));
    return double(draw) < loss * 4294967296.0;
}

void Server::HandleFromClient(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                              int operatorHost, Outbox& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (silent_ && operatorHost < 0) {
        return; // a silent processor answers nothing; operators are other hosts
    }
    if (operatorHost >= 0) {
        OperatorHosts::Host& oper = operators_.At(operatorHost);
        if (!oper.silent) {
            oper.model->HandlePacket(packet, bytes, now, reply);
        }
    } else {
        model_.HandlePacket(packet, bytes, now, reply);
    }
}

void Server::ReceiveUdp(std::uint32_t now) {
    std::uint8_t buffer[65536];
    for (Fd& fd : udp_) {
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t got = ::recvfrom(fd.Get(), buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
            if (got <= 0) {
                break;
            }
            sockaddr_in client = from;
            client.sin_port = htons(options_.net.ClientPort());
            bool known = std::any_of(udpClients_.begin(), udpClients_.end(),
                                     [&](const sockaddr_in& c) { return SameHost(c, client); });
            if (!known) {
                udpClients_.push_back(client);
            }
            reply_.Clear();
            std::size_t at = 0, received = 0;
            while (at + kKestHeaderSize <= std::size_t(got)) {
                std::size_t size = std::size_t(buffer[at]) * 4;
                if (size < kKestHeaderSize || at + size > std::size_t(got)) {
                    break; // the rest of a malformed datagram is dropped
                }
                HandleFromClient(buffer + at, size, now, -1, reply_);
                at += size;
                ++received;
            }
            {
                std::lock_guard<std::mutex> lock(statsMutex_);
                stats_.packetsReceived += received;
            }
            SendUdp(client, reply_, false);
        }
    }
}

void Server::SendUdp(const sockaddr_in& to, const Outbox& box, bool lossy) {
    if (box.Empty() || udp_.empty()) {
        return;
    }
    std::uint64_t sent = 0, dropped = 0, droppedPackets = 0, bytes = 0;
    ForEachDatagram(
        box.Bytes().data(), box.Bytes().size(), kDatagramLimit,
        [&](const std::uint8_t* data, std::size_t size) {
            if (lossy && DropNext()) {
                ++dropped;
                // The datagram holds whole packets only: count what it took along.
                for (std::size_t at = 0; at < size; at += std::size_t(data[at]) * 4) {
                    ++droppedPackets;
                }
                return;
            }
            int fd = udp_.front().Get();
            ssize_t n =
                ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            // Answers and echoes must not be lost to a full send buffer: wait
            // for room a few times before giving up. Data is never held up.
            for (int retry = 0;
                 !lossy && n < 0 && retry < 5 && (errno == EAGAIN || errno == EWOULDBLOCK);
                 ++retry) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 10);
                n = ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
            if (n == ssize_t(size)) {
                ++sent;
                bytes += size;
            } else {
                ++dropped;
                for (std::size_t at = 0; lossy && at < size; at += std::size_t(data[at]) * 4) {
                    ++droppedPackets;
                }
            }
        });
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.datagramsSent += sent;
    stats_.datagramsDropped += dropped;
    stats_.packetsDropped += droppedPackets;
    stats_.bytesSent += bytes;
    stats_.packetsSent += box.Packets(); // handed to the network, before any loss
}

void Server::AcceptTcp() {
    for (Listener& listener : listeners_) {
        for (;;) {
            int fd = ::accept(listener.fd.Get(), nullptr, nullptr);
            if (fd < 0) {
                break;
            }
            Fd client(fd);
            bool refuse;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                refuse = silent_;
            }
            refuse = refuse && listener.kind != Listener::Operator;
            if (listener.kind == Listener::Presence || refuse || !SetNonBlocking(fd)) {
                continue; // the presence listener only shows that the processor is there
            }
            auto entry = std::make_unique<TcpClient>();
            entry->fd = std::move(client);
            entry->data = listener.kind == Listener::Data;
            entry->operatorHost = listener.kind == Listener::Operator ? int(listener.host) : -1;
            tcpClients_.push_back(std::move(entry));
        }
    }
}

void Server::ReadTcp(std::uint32_t now) {
    std::uint8_t buffer[65536];
    for (auto& client : tcpClients_) {
        for (;;) {
            ssize_t got = ::recv(client->fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                client->fd.Close();
                break;
            }
            if (got < 0) {
                break;
            }
            if (client->data) {
                continue; // nothing is expected on the data stream
            }
            client->in.insert(client->in.end(), buffer, buffer + got);
        }
        std::size_t at = 0;
        reply_.Clear();
        while (at + kKestHeaderSize <= client->in.size()) {
            std::size_t size = std::size_t(client->in[at]) * 4;
            if (size < kKestHeaderSize) {
                client->fd.Close(); // a stream that lost its framing cannot be read on
                break;
            }
            if (at + size > client->in.size()) {
                break;
            }
            HandleFromClient(client->in.data() + at, size, now, client->operatorHost, reply_);
            at += size;
        }
        client->in.erase(client->in.begin(), client->in.begin() + std::ptrdiff_t(at));
        if (client->fd.IsOpen()) {
            Queue(*client, reply_.Bytes().data(), reply_.Bytes().size());
        }
    }
    tcpClients_.erase(std::remove_if(tcpClients_.begin(), tcpClients_.end(),
                                     [](const auto& c) { return !c->fd.IsOpen(); }),
                      tcpClients_.end());
}

void Server::Queue(TcpClient& client, const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (client.out.size() - client.outOffset + size > kTcpBacklogLimit) {
        client.fd.Close(); // too slow a reader: it is dropped rather than buffered forever
        return;
    }
    client.out.insert(client.out.end(), bytes, bytes + size);
}

void Server::QueueLossy(TcpClient& client, const Outbox& box) {
    if (loss_ <= 0) {
        Queue(client, box.Bytes().data(), box.Bytes().size());
        return;
    }
    const std::uint8_t* bytes = box.Bytes().data();
    std::size_t at = 0, size = box.Bytes().size();
    std::uint64_t dropped = 0;
    while (at < size) {
        std::size_t packet = std::size_t(bytes[at]) * 4;
        if (DropNext()) {
            ++dropped;
        } else {
            Queue(client, bytes + at, packet);
        }
        at += packet;
    }
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.packetsDropped += dropped;
}

void Server::FlushTcp() {
    std::uint64_t bytes = 0;
    for (auto& client : tcpClients_) {
        while (client->fd.IsOpen() && client->outOffset < client->out.size()) {
            ssize_t n = ::send(client->fd.Get(), client->out.data() + client->outOffset,
                               client->out.size() - client->outOffset, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    client->fd.Close();
                }
                break;
            }
            client->outOffset += std::size_t(n);
            bytes += std::uint64_t(n);
        }
        if (client->outOffset == client->out.size()) {
            client->out.clear();
            client->outOffset = 0;
        } else if (client->outOffset > (1u << 20)) {
            client->out.erase(client->out.begin(),
                              client->out.begin() + std::ptrdiff_t(client->outOffset));
            client->outOffset = 0;
        }
    }
    tcpClients_.erase(std::remove_if(tcpClients_.begin(), tcpClients_.end(),
                                     [](const auto& c) { return !c->fd.IsOpen(); }),
                      tcpClients_.end());
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.bytesSent += bytes;
}

void Server::DoRestart(std::uint32_t now) {
    // The processor software restarts: connections drop, the configuration returns to its
    // start, and the processor is silent for a while.
    restartRequested_ = false;
    tcpClients_.erase(std::remove_if(tcpClients_.begin(), tcpClients_.end(),
                                     [](const auto& c) { return c->operatorHost < 0; }),
                      tcpClients_.end());
    udpClients_.clear();
    model_.Reset();
    silent_ = true;
    silentUntil_ = now + options_.restartMs * 30;
    generator_.Restart(silentUntil_);
    std::lock_guard<std::mutex> lock(statsMutex_);
    ++stats_.restarts;
}

void Server::Run() {
    std::vector<pollfd> fds;
    const double cpuStart = ThreadCpuSeconds();
    std::uint32_t maxLag = 0;
    while (!stop_.load()) {
        fds.clear();
        for (const Fd& fd : udp_) {
            fds.push_back({fd.Get(), POLLIN, 0});
        }
        for (const Listener& listener : listeners_) {
            fds.push_back({listener.fd.Get(), POLLIN, 0});
        }
        for (const auto& client : tcpClients_) {
            short events = POLLIN;
            if (client->outOffset < client->out.size()) {
                events |= POLLOUT;
            }
            fds.push_back({client->fd.Get(), events, 0});
        }
        ::poll(fds.data(), fds.size(), 1);

        std::uint32_t now = Now();
        ReceiveUdp(now);
        AcceptTcp();
        ReadTcp(now);

        bool anyData = !udpClients_.empty() || std::any_of(tcpClients_.begin(), tcpClients_.end(),
                                                           [](const auto& c) { return c->data; });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (std::size_t i = 0; i < operators_.Size(); ++i) {
                if (operators_.At(int(i)).dropRequested) {
                    operators_.At(int(i)).dropRequested = false;
                    for (auto& client : tcpClients_) {
                        if (client->operatorHost == int(i)) {
                            client->fd.Close();
                        }
                    }
                }
            }
            if (restartRequested_ || model_.TakeRestartRequest()) {
                DoRestart(now);
            }
            if (silent_ && Due(now, silentUntil_)) {
                silent_ = false;
                generated_ = silentUntil_;
            }
            if (silent_) {
                generated_ = now;
                pendingAll_.Clear();
            } else {
                if (anyData) {
                    maxLag = std::max(maxLag, now - generated_);
                    generator_.Generate(generated_, now, dataOut_);
                }
                generated_ = now;
                model_.Poll(now, configOut_);
                if (Due(now, nextHeartbeat_)) {
                    // Module 0 reports its power readings, stamped with the current time.
                    const ModuleModel* processor = model_.Find(kProcessorModule);
                    std::uint16_t index = processor->Index("Wall Sensor");
                    model_.Update(kProcessorModule, index, processor->records[index], now,
                                  configOut_);
                    nextHeartbeat_ = now + options_.heartbeatTicks;
                }
                if (!pendingAll_.Empty()) {
                    configOut_.Append(pendingAll_);
                    pendingAll_.Clear();
                }
            }
        }

        for (const sockaddr_in& client : udpClients_) {
            SendUdp(client, configOut_, false);
            SendUdp(client, dataOut_, true);
        }
        for (auto& client : tcpClients_) {
            if (client->operatorHost >= 0) {
                continue;
            }
            if (client->data) {
                QueueLossy(*client, dataOut_);
            } else {
                Queue(*client, configOut_.Bytes().data(), configOut_.Bytes().size());
            }
        }
        FlushTcp();
        dataSentUpTo_.store(generated_);
        if (!tcpClients_.empty()) {
            std::lock_guard<std::mutex> lock(statsMutex_);
            for (const auto& client : tcpClients_) {
                stats_.packetsSent += client->data ? dataOut_.Packets() : configOut_.Packets();
            }
        }
        dataOut_.Clear();
        configOut_.Clear();

        std::lock_guard<std::mutex> lock(statsMutex_);
        stats_.udpClients = unsigned(udpClients_.size());
        stats_.tcpConfigClients = unsigned(std::count_if(tcpClients_.begin(), tcpClients_.end(),
                                                         [](const auto& c) { return !c->data; }));
        stats_.tcpDataClients = unsigned(tcpClients_.size()) - stats_.tcpConfigClients;
        stats_.threadCpuSeconds = ThreadCpuSeconds() - cpuStart;
        stats_.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        stats_.maxLagTicks = maxLag;
    }
}

} // namespace paxsim
