#include "loopback/modbus_servers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VARNOK_PYMODBUS_SERVER
#error "VARNOK_PYMODBUS_SERVER names tools/loopback/pymodbus_server.py"
#endif

namespace varnok::test {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::string python() {
    const char* own = std::getenv("VARNOK_PYTHON");
    return own && *own ? own : "/usr/bin/python3";
}

// Runs `args` with no input and its output discarded; the child dies with its parent, so that
// a crashed test leaves no server behind.
// The child only calls what is safe after a fork in a process with threads: no allocation.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Ends `pid` and reaps it: SIGTERM, up to 2 s, then SIGKILL.
void end(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (auto until = Clock::now() + std::chrono::seconds(2); Clock::now() < until;) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void fillMapping(modbus_mapping_t* map) {
    for (int i = 0; i < kServerPoints; ++i) {
        map->tab_registers[i] = static_cast<std::uint16_t>(1000 + i);
        map->tab_input_registers[i] = static_cast<std::uint16_t>(2000 + i);
        map->tab_bits[i] = map->tab_input_bits[i] = static_cast<std::uint8_t>(i % 2);
    }
}

// libmodbus' reply for `query`, through a socket pair, with the MBAP header changed as
// `faults` say.
std::vector<std::uint8_t> faultyReply(const std::uint8_t* query, int length, modbus_mapping_t* map,
                                      const ServerFaults& faults) {
    std::vector<std::uint8_t> out;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return out;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
    std::uint8_t reply[MODBUS_TCP_MAX_ADU_LENGTH];
    ssize_t n = 0;
    if (ctx && modbus_set_socket(ctx, pair[0]) == 0 && modbus_reply(ctx, query, length, map) > 0)
        n = ::recv(pair[1], reply, sizeof reply, MSG_DONTWAIT);
    modbus_free(ctx);
    ::close(pair[0]);
    ::close(pair[1]);
    if (n < 7)
        return out;
    out.assign(reply, reply + n);
    const auto put = [&](int at, int value) {
        out[at] = static_cast<std::uint8_t>(value >> 8);
        out[at + 1] = static_cast<std::uint8_t>(value);
    };
    if (faults.wrongTransaction)
        put(0, ((out[0] << 8 | out[1]) + 1) & 0xFFFF);
    put(2, faults.protocolId);
    if (faults.length >= 0)
        put(4, faults.length);
    return out;
}

void serve(modbus_t* ctx, int listenFd, int wakeFd, ServerFaults faults,
           std::atomic<int>& requests) {
    modbus_mapping_t* map =
        modbus_mapping_new(kServerPoints, kServerPoints, kServerPoints, kServerPoints);
    fillMapping(map);
    const bool faulty = faults.wrongTransaction || faults.protocolId != 0 || faults.length >= 0;
    struct Client {
        int fd;
        int served;
    };
    std::vector<Client> clients;
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        std::vector<pollfd> fds{{wakeFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            int listening = listenFd; // modbus_tcp_accept takes the descriptor by pointer
            const int fd = modbus_tcp_accept(ctx, &listening);
            if (fd >= 0)
                clients.push_back({fd, 0});
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Client& c = clients[i - 2];
            modbus_set_socket(ctx, c.fd);
            const int length = modbus_receive(ctx, query);
            if (length > 0)
                ++requests;
            const bool closing =
                length > 0 && faults.closeAfter >= 0 && c.served >= faults.closeAfter;
            if (length < 0 || closing) {
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            if (length == 0)
                continue;
            ++c.served;
            if (!faulty) {
                modbus_reply(ctx, query, length, map);
            } else {
                const std::vector<std::uint8_t> reply = faultyReply(query, length, map, faults);
                if (::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) {
                    ::close(c.fd);
                    c.fd = -1;
                }
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (const Client& c : clients)
        ::close(c.fd);
    ::close(listenFd);
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
    modbus_mapping_free(map);
}

} // namespace

std::uint16_t freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool waitForListening(std::uint16_t port, int ms) {
    for (auto until = Clock::now() + std::chrono::milliseconds(ms);;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(port);
        const bool up = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (up)
            return true;
        if (Clock::now() >= until)
            return false;
        ::usleep(20000);
    }
}

std::string PymodbusServer::unavailable() {
    static const std::string why = [] {
        const std::string interpreter = python();
        if (::access(interpreter.c_str(), X_OK) != 0)
            return interpreter + " is missing";
        const pid_t pid = spawn({interpreter, "-c", "import pymodbus.server"});
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return interpreter + " cannot import pymodbus (python3-pymodbus, " +
                   "python3-serial-asyncio)";
        return std::string();
    }();
    return why;
}

bool PymodbusServer::start(Framing framing, const std::vector<int>& units) {
    stop();
    port_ = freeTcpPort();
    std::vector<std::string> args{python(), VARNOK_PYMODBUS_SERVER, std::to_string(port_),
                                  framing == Framing::Tcp ? "tcp" : "rtu"};
    if (!units.empty()) {
        std::string list;
        for (int u : units)
            list += (list.empty() ? "" : ",") + std::to_string(u);
        args.push_back(list);
    }
    pid_ = spawn(args);
    // Python and pymodbus take about a second to load; a child that died ends the wait.
    for (auto until = Clock::now() + std::chrono::seconds(15); pid_ > 0;) {
        if (waitForListening(port_, 100))
            return true;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_ || Clock::now() >= until)
            break;
    }
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0)
        end(pid_);
    pid_ = -1;
    return false;
}

void PymodbusServer::stop() {
    if (pid_ > 0)
        end(pid_);
    pid_ = -1;
}

bool LibmodbusServer::start(const ServerFaults& faults, std::uint16_t port) {
    stop();
    requests_ = 0;
    port_ = port ? port : freeTcpPort();
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port_);
    const int listenFd = ctx ? modbus_tcp_listen(ctx, 8) : -1;
    if (listenFd < 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        if (listenFd >= 0)
            ::close(listenFd);
        modbus_free(ctx);
        return false;
    }
    thread_ = std::thread(serve, ctx, listenFd, wake_[0], faults, std::ref(requests_));
    return true;
}

void LibmodbusServer::stop() {
    if (!thread_.joinable())
        return;
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &stop, 1);
    thread_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

} // namespace varnok::test
