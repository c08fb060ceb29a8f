// varnok-devsim: a stand-in device on a pseudo-terminal for trying the terminal without
// hardware. The first line on stdout names the device to open; requests are logged on stderr.
#include "login_console.h"
#include "modbus_slave.h"
#include "n500_console.h"
#include "sim_common.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: varnok-devsim [options]\n"
    "Opens a pseudo-terminal, prints 'DEVICE <path>' and answers on it until SIGINT/SIGTERM.\n"
    "  --mode modbus|n500|login   device kind (default modbus)\n"
    "  --link PATH          also make PATH a symlink to the device (removed on exit)\n"
    "  --silent             read requests or commands but never answer\n"
    "modbus mode:\n"
    "  --slave-id N, --station N   station number 1..247 (default 1); requests to any\n"
    "                       other station are ignored, as a station that is not there\n"
    "  --baud B             answer only while the terminal's end is at B baud, and\n"
    "                       garbled bytes at any other speed (default: any speed)\n"
    "  --framing 8E1        the same for the stop bits (the last digit); data bits and\n"
    "                       parity cannot be seen through a pseudo-terminal\n"
    "  --static             keep discrete inputs, input registers and live values fixed\n"
    "  --delay MS           send each reply MS milliseconds late\n"
    "  --tcp PORT           also serve Modbus TCP on 127.0.0.1:PORT (0: a free port) with\n"
    "                       the same data, answering the station's number and unit 255 with\n"
    "                       the request's MBAP header (transaction id echoed); prints\n"
    "                       'LISTEN modbus-tcp://127.0.0.1:PORT' after the DEVICE line\n"
    "  64 coils, inputs, holding and input registers from address 0; beyond them the\n"
    "  answer is exception 02 (illegal data address); live holding registers:\n"
    "  50 a counter (+1 every 200 ms), 51 a sine (int16, +-1000, 60 s period),\n"
    "  52-53 pi as float32 ABCD (0x4049 0x0FDB); the others are writable\n"
    "n500 mode:\n"
    "  --ip A --mask M --gateway G   start values (10.0.0.7, 255.0.0.0, 10.0.0.1)\n"
    "  --delay MS           answer MS milliseconds after the first command of a burst\n"
    "  --values N           answer only the first N of ip, mask, gateway (0..3)\n"
    "  --banner TEXT        write TEXT CR LF before every reply\n"
    "login mode (a console behind a login; no echo):\n"
    "  --user U --password P   the pair it takes (admin, varnok); a CR asks for\n"
    "                       'login: ', then 'Password: ', then the prompt '> ' takes\n"
    "                       version, logout and reboot (the boot text 300 ms later)\n"
    "  --help               this text\n";

struct Options {
    std::string mode = "modbus";
    std::string link;
    devsim::ModbusOptions modbus;
    devsim::NetValues net;
    int delayMs = 0;
    int values = 3;
    std::optional<std::string> banner;
    bool silent = false;
    int tcpPort = -1;
    std::string user = "admin", password = "varnok";
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "varnok-devsim: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

int toInt(const std::string& text, int low, int high, const char* option) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        usageError(std::string("bad value for ") + option + ": " + text);
    return static_cast<int>(v);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--mode") {
            o.mode = value();
            if (o.mode != "modbus" && o.mode != "n500" && o.mode != "login")
                usageError("unknown mode " + o.mode);
        } else if (arg == "--link") {
            o.link = value();
        } else if (arg == "--slave-id" || arg == "--station") {
            o.modbus.slaveId = toInt(value(), 1, 247, arg.c_str());
        } else if (arg == "--baud") {
            o.modbus.baud = toInt(value(), 1, 4000000, "--baud");
        } else if (arg == "--framing") {
            const std::string f = value();
            if (f.size() != 3 || f[0] < '5' || f[0] > '8' ||
                std::string("NEOMSneoms").find(f[1]) == std::string::npos ||
                (f[2] != '1' && f[2] != '2'))
                usageError("bad value for --framing: " + f + " (e.g. 8E1, 8N2)");
            o.modbus.stopBits = f[2] - '0';
        } else if (arg == "--tcp") {
            o.tcpPort = toInt(value(), 0, 65535, "--tcp");
        } else if (arg == "--static") {
            o.modbus.frozen = true;
        } else if (arg == "--ip") {
            o.net.ip = value();
        } else if (arg == "--mask") {
            o.net.mask = value();
        } else if (arg == "--gateway") {
            o.net.gateway = value();
        } else if (arg == "--delay") {
            o.delayMs = toInt(value(), 0, 600000, "--delay");
        } else if (arg == "--values") {
            o.values = toInt(value(), 0, 3, "--values");
        } else if (arg == "--banner") {
            o.banner = value();
        } else if (arg == "--user") {
            o.user = value();
        } else if (arg == "--password") {
            o.password = value();
        } else if (arg == "--silent") {
            o.silent = true;
        } else {
            usageError("unknown option " + arg);
        }
    }
    if (o.tcpPort >= 0 && o.mode != "modbus")
        usageError("--tcp needs --mode modbus");
    o.modbus.delayMs = o.delayMs;
    o.modbus.silent = o.silent;
    return o;
}

bool makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// A listening socket on 127.0.0.1:port (0: one the system picks); the port in `port`.
int listenOn(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int runConsole(int masterFd, const Options& o) {
    devsim::N500Console console(o.net, o.values, o.silent);
    std::string pending;
    std::optional<devsim::Clock::time_point> due;
    char buffer[4096];
    while (!devsim::stopRequested()) {
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {devsim::wakeFd(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, devsim::msUntil(due ? &*due : nullptr));
        if (rc < 0 && errno != EINTR) {
            std::perror("poll");
            break;
        }
        if (devsim::stopRequested())
            break;
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
            if (n > 0) {
                std::string reply =
                    console.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
                if (!reply.empty()) {
                    if (pending.empty() && o.banner)
                        pending = *o.banner + "\r\n";
                    pending += reply;
                    if (!due)
                        due = devsim::Clock::now() + std::chrono::milliseconds(o.delayMs);
                }
            }
        }
        if (due && devsim::Clock::now() >= *due) {
            devsim::writeAll(masterFd, pending.data(), pending.size());
            pending.clear();
            due.reset();
        }
    }
    return 0;
}

int runLogin(int masterFd, const Options& o) {
    devsim::LoginConsole console(o.user, o.password);
    std::optional<devsim::Clock::time_point> bootDue;
    char buffer[4096];
    while (!devsim::stopRequested()) {
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {devsim::wakeFd(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, devsim::msUntil(bootDue ? &*bootDue : nullptr));
        if (rc < 0 && errno != EINTR)
            break;
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
            bool rebooting = false;
            const std::string reply =
                n > 0 ? console.feed(std::string_view(buffer, std::size_t(n)), rebooting)
                      : std::string();
            devsim::writeAll(masterFd, reply.data(), reply.size());
            if (rebooting)
                bootDue = devsim::Clock::now() +
                          std::chrono::milliseconds(devsim::LoginConsole::kRebootMs);
        }
        if (bootDue && devsim::Clock::now() >= *bootDue) {
            const auto text = devsim::LoginConsole::kBootText;
            devsim::writeAll(masterFd, text.data(), text.size());
            bootDue.reset();
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    devsim::installStopHandlers();

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const char* name = ::ptsname(master);
    const std::string device = name ? name : "";
    // Our own slave descriptor stays open for the whole run: without it the master sees a
    // hang-up whenever the terminal closes the port, and the loop would spin on it.
    const int slave = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !makeRaw(slave) || !makeRaw(master)) {
        std::perror(device.c_str());
        return 1;
    }

    Options run = options;
    if (options.tcpPort >= 0) {
        int port = options.tcpPort;
        run.modbus.listenFd = listenOn(port);
        if (run.modbus.listenFd < 0) {
            std::fprintf(stderr, "varnok-devsim: 127.0.0.1:%d: %s\n", port, std::strerror(errno));
            return 1;
        }
        run.tcpPort = port;
    }

    if (!options.link.empty()) {
        struct stat st {};
        if (::lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(options.link.c_str()); // left over from a killed run
        if (::symlink(device.c_str(), options.link.c_str()) != 0) {
            std::fprintf(stderr, "symlink %s: %s\n", options.link.c_str(), std::strerror(errno));
            return 1;
        }
    }

    std::printf("DEVICE %s\n", device.c_str());
    if (run.tcpPort >= 0)
        std::printf("LISTEN modbus-tcp://127.0.0.1:%d\n", run.tcpPort);
    std::fflush(stdout);
    std::fprintf(stderr, "varnok-devsim: %s mode on %s\n", options.mode.c_str(), device.c_str());

    const int rc = options.mode == "n500"    ? runConsole(master, options)
                   : options.mode == "login" ? runLogin(master, options)
                                             : devsim::runModbusSlave(master, device, run.modbus);
    if (run.modbus.listenFd >= 0)
        ::close(run.modbus.listenFd);

    if (!options.link.empty())
        ::unlink(options.link.c_str());
    ::close(slave);
    ::close(master);
    std::fprintf(stderr, "varnok-devsim: stopped\n");
    return rc;
}
