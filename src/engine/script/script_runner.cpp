#include "engine/script/script_runner.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <lua.hpp>

#include "engine/quick_send.h"
#include "engine/terminal_engine.h"
#include "logic/codec/hex_list.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/poll_request.h"
#include "logic/modbus/value_format.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/quicksend/checksum.h"
#include "logic/quicksend/escapes.h"
#include "logic/serial/port_map.h"

namespace varnok::engine {

namespace {

// A mistake the script made, raised as a Lua error at the script's line once every C++ object
// of the call is gone (a Lua error unwinds with longjmp).
struct ScriptError : std::exception {
    explicit ScriptError(std::string text) : text(std::move(text)) {}
    const char* what() const noexcept override { return text.c_str(); }
    std::string text;
};

constexpr int kYield = -1;       // a binding's answer: suspend the script, call again on resume
constexpr int kHookCount = 1000; // instructions between two looks at the clock and at Stop
constexpr int kWriteBlock = 4096;

QByteArray luaBytes(lua_State* L, int index) {
    std::size_t n = 0;
    const char* s = lua_tolstring(L, index, &n);
    return QByteArray(s, static_cast<qsizetype>(n));
}

std::string argText(lua_State* L, int index, const char* what) {
    if (lua_type(L, index) != LUA_TSTRING && lua_type(L, index) != LUA_TNUMBER)
        throw ScriptError(std::string(what) + " wants a text");
    std::size_t n = 0;
    const char* s = lua_tolstring(L, index, &n);
    return std::string(s, n);
}

lua_Integer argInt(lua_State* L, int index, const char* what) {
    int isNumber = 0;
    const lua_Integer v = lua_tointegerx(L, index, &isNumber);
    if (!isNumber)
        throw ScriptError(std::string(what) + " wants a whole number");
    return v;
}

lua_Integer optInt(lua_State* L, int index, lua_Integer fallback, const char* what) {
    return lua_isnoneornil(L, index) ? fallback : argInt(L, index, what);
}

void pushBytes(lua_State* L, const std::vector<std::uint8_t>& bytes) {
    lua_pushlstring(L, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

int pushFailure(lua_State* L, const char* why) {
    lua_pushnil(L);
    lua_pushstring(L, why);
    return 2;
}

} // namespace

// The functions a script calls. Each body returns its number of results or kYield; it
// throws ScriptError (or a Failure from below) for a mistake.
struct ScriptApi {
    using Body = int (*)(ScriptRunner&, lua_State*, bool resumed);

    static ScriptRunner& runner(lua_State* L) {
        return **static_cast<ScriptRunner**>(lua_getextraspace(L));
    }

    template <Body body> static int call(lua_State* L) { return step<body>(L, LUA_OK, 0); }

    template <Body body> static int step(lua_State* L, int status, lua_KContext) {
        int n = 0;
        bool failed = false;
        try {
            ScriptRunner& r = runner(L);
            if (r.stopWanted_)
                throw ScriptError("stopped");
            n = body(r, L, status == LUA_YIELD);
        } catch (const Failure& e) {
            pushError(L, e.description().c_str());
            failed = true;
        } catch (const std::exception& e) {
            pushError(L, e.what());
            failed = true;
        }
        if (failed)
            return lua_error(L);
        if (n == kYield) {
            // In a coroutine of the script's own, the script's coroutine.resume hands the
            // wait on up to the event loop.
            runner(L).innerWait_ = L != runner(L).thread_;
            return lua_yieldk(L, 0, 0, &step<body>);
        }
        return n;
    }

    // "file:line: text", at the script's own line (not the line of a function inside it).
    static void pushError(lua_State* L, const char* text) {
        const ScriptRunner& r = runner(L);
        lua_Debug ar;
        for (int level = 1; lua_getstack(L, level, &ar); ++level) {
            lua_getinfo(L, "Sl", &ar);
            if (ar.currentline > 0 && r.chunkName_ == ar.source) {
                lua_pushfstring(L, "%s:%d: %s", ar.short_src, ar.currentline, text);
                return;
            }
        }
        luaL_where(L, 1);
        lua_pushstring(L, text);
        lua_concat(L, 2);
    }

    // A wait suspends the script, which Lua cannot do across a C call (a sort's comparison,
    // a metamethod called from C).
    static void mayWait(ScriptRunner&, lua_State* L, const char* what) {
        if (!lua_isyieldable(L))
            throw ScriptError(std::string(what) + " cannot wait here (inside a function that " +
                              "Lua calls from C, such as a sort's comparison)");
    }

    // Arms the wait's timer for what is left until `deadline` (ms on the runner's clock).
    static void armUntil(ScriptRunner& r, double deadlineMs) {
        const double left = deadlineMs - r.nowMs();
        r.timer_.start(std::max(0, static_cast<int>(std::ceil(left))));
    }

    // The line for writing: false when the script waits for it (the lease comes later).
    static bool haveLine(ScriptRunner& r, lua_State* L, const char* what) {
        if (!r.terminal_.isOpen())
            throw ScriptError(std::string(what) + ": the port is not open (call open{} first)");
        if (r.lease_)
            return true;
        mayWait(r, L, what);
        r.askLine();
        if (r.lease_)
            return true;
        r.wait_ = ScriptRunner::Wait::Line;
        return false;
    }

    static void refuseWhileListening(ScriptRunner& r) {
        if (const Outcome refused = r.terminal_.checkListenOnly(); !refused)
            throw ScriptError(refused.failure().toStdString());
    }

    // ---- bytes ----

    // Queues pendingOut_ as the output takes it; kYield while the far end is not reading.
    static int pump(ScriptRunner& r, lua_State* L) {
        serial::Link& port = r.terminal_.port();
        while (!r.pendingOut_.isEmpty()) {
            const qsizetype n = std::min<qsizetype>(r.pendingOut_.size(), kWriteBlock);
            if (port.queuedOutput() >= ScriptRunner::kOutputQueued || !port.canQueue(n)) {
                mayWait(r, L, "send");
                if (!r.outputLeft_)
                    r.outputLeft_ = port.onOutputLeft(&r, [&r] { r.wakeSoon(); });
                r.wait_ = ScriptRunner::Wait::Output;
                return kYield;
            }
            r.lease_.write(r.pendingOut_.first(n));
            r.pendingOut_.remove(0, n);
        }
        QObject::disconnect(r.outputLeft_);
        r.outputLeft_ = {};
        lua_pushinteger(L, r.sentCount_);
        return 1;
    }

    static int startSend(ScriptRunner& r, lua_State* L, QByteArray bytes, bool resumed) {
        if (!resumed) {
            refuseWhileListening(r);
            r.pendingOut_ = std::move(bytes);
            r.sentCount_ = r.pendingOut_.size();
            r.sendStarted_ = false;
        }
        if (!r.sendStarted_) {
            if (!haveLine(r, L, "send"))
                return kYield;
            r.sendStarted_ = true;
        }
        if (!r.terminal_.isOpen()) {
            r.pendingOut_.clear();
            throw ScriptError("send: the port closed with bytes not sent");
        }
        return pump(r, L);
    }

    static int send(ScriptRunner& r, lua_State* L, bool resumed) {
        QByteArray bytes;
        if (!resumed) {
            if (lua_type(L, 1) != LUA_TSTRING && lua_type(L, 1) != LUA_TNUMBER)
                throw ScriptError("send wants a text");
            bytes = luaBytes(L, 1);
            // Text without a backslash goes as it is: a long block is not parsed for nothing.
            if (bytes.contains('\\')) {
                const auto parsed =
                    quicksend::parseEscapes(QString::fromLatin1(bytes).toStdU16String());
                if (!parsed.ok())
                    throw ScriptError("send: " + parsed.error);
                bytes = QByteArray(reinterpret_cast<const char*>(parsed.bytes.data()),
                                   static_cast<qsizetype>(parsed.bytes.size()));
            }
        }
        return startSend(r, L, std::move(bytes), resumed);
    }

    static std::vector<std::uint8_t> hexBytes(lua_State* L, int index, const char* what) {
        const std::string text = argText(L, index, what);
        const auto list = codec::parseHexList(QString::fromLatin1(text).toStdU16String());
        if (list.error != codec::HexListError::None)
            throw ScriptError(std::string(what) + ": \"" + text +
                              "\" is not a list of hex bytes such as \"01 03 00 00 00 01\"");
        return list.bytes;
    }

    static int sendhex(ScriptRunner& r, lua_State* L, bool resumed) {
        QByteArray bytes;
        if (!resumed) {
            const auto list = hexBytes(L, 1, "sendhex");
            bytes = QByteArray(reinterpret_cast<const char*>(list.data()),
                               static_cast<qsizetype>(list.size()));
        }
        return startSend(r, L, std::move(bytes), resumed);
    }

    // The timeout argument at `index`; the deadline is set at the first call only.
    static void startWait(ScriptRunner& r, lua_State* L, int index, bool resumed) {
        if (!resumed) {
            const lua_Integer ms =
                optInt(L, index, ScriptRunner::kDefaultTimeoutMs, "the timeout (ms)");
            r.deadlineMs_ = r.nowMs() + static_cast<double>(std::max<lua_Integer>(0, ms));
        }
    }

    // Waits for input until the deadline: kYield, or the results of a timeout or a closed port.
    static int waitInput(ScriptRunner& r, lua_State* L, const char* what) {
        if (!r.terminal_.isOpen())
            return pushFailure(L, "port closed");
        if (r.nowMs() >= r.deadlineMs_)
            return pushFailure(L, "timeout");
        mayWait(r, L, what);
        armUntil(r, r.deadlineMs_);
        r.wait_ = ScriptRunner::Wait::Input;
        return kYield;
    }

    static int read(ScriptRunner& r, lua_State* L, bool resumed) {
        if (lua_isnoneornil(L, 1)) {
            lua_pushlstring(L, r.input_.constData(), static_cast<std::size_t>(r.input_.size()));
            r.input_.clear();
            return 1;
        }
        const lua_Integer n = argInt(L, 1, "read");
        if (n < 1)
            throw ScriptError("read wants a count of 1 or more");
        startWait(r, L, 2, resumed);
        // What came is taken whole once there, or at the timeout or the port's closing.
        const bool over = r.nowMs() >= r.deadlineMs_ || !r.terminal_.isOpen();
        if (r.input_.size() >= n || (!r.input_.isEmpty() && over)) {
            const qsizetype take = std::min<qsizetype>(r.input_.size(), n);
            lua_pushlstring(L, r.input_.constData(), static_cast<std::size_t>(take));
            r.input_.remove(0, take);
            return 1;
        }
        return waitInput(r, L, "read");
    }

    static int readline(ScriptRunner& r, lua_State* L, bool resumed) {
        startWait(r, L, 1, resumed);
        if (const qsizetype end = r.input_.indexOf('\n'); end >= 0) {
            qsizetype length = end;
            if (length > 0 && r.input_.at(length - 1) == '\r')
                --length;
            lua_pushlstring(L, r.input_.constData(), static_cast<std::size_t>(length));
            r.input_.remove(0, end + 1);
            return 1;
        }
        return waitInput(r, L, "readline");
    }

    // Where the pattern on the stack top matches the input (a string at kInputAt): the match's
    // end (1-based) with the match on the stack top in the pattern's place, or 0 with the
    // pattern gone. Runs string.find protected, so a bad pattern is the script's mistake.
    static constexpr int kInputAt = 3;
    static lua_Integer find(ScriptRunner& r, lua_State* L) {
        lua_getglobal(L, "string");
        lua_getfield(L, -1, "find");
        lua_remove(L, -2);
        lua_pushvalue(L, kInputAt);
        lua_pushvalue(L, -3); // the pattern
        if (lua_pcall(L, 2, 2, 0) != LUA_OK) {
            std::string why = lua_tostring(L, -1) ? lua_tostring(L, -1) : "bad pattern";
            lua_pop(L, 1);
            throw ScriptError("expect: " + why);
        }
        if (lua_isnil(L, -2)) {
            lua_pop(L, 3);
            return 0;
        }
        const lua_Integer first = lua_tointeger(L, -2), last = lua_tointeger(L, -1);
        lua_pop(L, 3);
        lua_pushlstring(L, r.input_.constData() + first - 1,
                        static_cast<std::size_t>(std::max<lua_Integer>(0, last - first + 1)));
        return last;
    }

    static int expect(ScriptRunner& r, lua_State* L, bool resumed) {
        lua_settop(L, 2);
        const bool many = lua_istable(L, 1);
        if (!many && lua_type(L, 1) != LUA_TSTRING)
            throw ScriptError("expect wants a pattern or a table of patterns");
        startWait(r, L, 2, resumed);
        const lua_Integer count = many ? static_cast<lua_Integer>(lua_rawlen(L, 1)) : 1;
        if (count < 1)
            throw ScriptError("expect wants at least one pattern");
        // The input once for every pattern; the best match so far above it.
        lua_pushlstring(L, r.input_.constData(), static_cast<std::size_t>(r.input_.size()));
        // The earliest match wins; of two ending alike, the first pattern listed.
        lua_Integer bestEnd = 0, bestIndex = 0;
        for (lua_Integer i = 1; i <= count; ++i) {
            if (many) {
                if (lua_rawgeti(L, 1, i) != LUA_TSTRING)
                    throw ScriptError("expect: pattern " + std::to_string(i) + " is not a text");
            } else {
                lua_pushvalue(L, 1);
            }
            const lua_Integer end = find(r, L);
            if (end > 0 && (bestEnd == 0 || end < bestEnd)) {
                if (bestEnd > 0)
                    lua_remove(L, kInputAt + 1); // the earlier best match
                bestEnd = end;
                bestIndex = i;
            } else if (end > 0) {
                lua_pop(L, 1);
            }
        }
        if (bestEnd > 0) {
            r.input_.remove(0, static_cast<qsizetype>(bestEnd));
            lua_pushinteger(L, bestIndex);
            return 2;
        }
        lua_settop(L, 2);
        return waitInput(r, L, "expect");
    }

    static int flush(ScriptRunner& r, lua_State* L, bool) {
        lua_pushinteger(L, r.input_.size());
        r.input_.clear();
        return 1;
    }

    // ---- the line ----

    static int portNumberOf(lua_State* L, int index) {
        if (lua_isnoneornil(L, index))
            return 1;
        if (lua_type(L, index) == LUA_TNUMBER) {
            const lua_Integer n = argInt(L, index, "open's port");
            if (n < serial::kFirstPort || n > serial::kLastPort)
                throw ScriptError("open: port " + std::to_string(n) + " is not from 1 to 255");
            return static_cast<int>(n);
        }
        const QString text = QString::fromStdString(argText(L, index, "open's port"));
        static const QRegularExpression com(QStringLiteral("^com(\\d{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
        if (const auto m = com.match(text); m.hasMatch()) {
            lua_pushinteger(L, m.captured(1).toInt());
            lua_replace(L, index);
            return portNumberOf(L, index);
        }
        const std::string path = text.toStdString();
        if (path.empty())
            throw ScriptError("open: the port is empty");
        for (const auto& [number, bound] : serial::portBindings())
            if (bound == path)
                return number;
        // A path of its own gets the highest free number, away from those a user picks.
        for (int n = serial::kLastPort; n >= serial::kFirstPort; --n) {
            if (!serial::isPortBound(n)) {
                serial::bindPort(n, path, serial::Binding::ForThisRun);
                return n;
            }
        }
        throw ScriptError("open: every port number is bound");
    }

    static serial::Handshaking flowOf(const std::string& flow) {
        const QString f = QString::fromStdString(flow).toLower();
        if (f.isEmpty() || f == u"none")
            return serial::Handshaking::None;
        if (f == u"rtscts" || f == u"rts/cts" || f == u"hardware")
            return serial::Handshaking::RtsCts;
        if (f == u"xonxoff" || f == u"xon/xoff" || f == u"software")
            return serial::Handshaking::XonXoff;
        throw ScriptError("open: flow \"" + flow + "\" is not none, rtscts or xonxoff");
    }

    static std::string optField(lua_State* L, const char* name, const char* fallback) {
        lua_getfield(L, 1, name);
        std::string v = lua_isnil(L, -1) ? fallback : argText(L, -1, name);
        lua_pop(L, 1);
        return v;
    }

    [[noreturn]] static void failOpen(ScriptRunner& r, const QString& why) {
        const QString text = why.isEmpty() ? QStringLiteral("the port could not be opened") : why;
        r.openFailure_ = text;
        throw ScriptError("open: " + text.toStdString());
    }

    static int open(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!resumed) {
            if (!lua_isnoneornil(L, 1) && !lua_istable(L, 1))
                throw ScriptError("open wants a table: open{port=1, baud=9600}");
            lua_settop(L, 1);
            if (lua_isnil(L, 1)) {
                lua_newtable(L);
                lua_replace(L, 1);
            }
            lua_getfield(L, 1, "port");
            const int number = portNumberOf(L, lua_gettop(L));
            lua_pop(L, 1);
            OpenRequest request;
            request.portNumber = number;
            request.baud = QString::fromStdString(optField(L, "baud", "115200"));
            request.lineControl = QString::fromStdString(optField(L, "line", "n,8,1"));
            request.handshaking = flowOf(optField(L, "flow", "none"));
            lua_getfield(L, 1, "dtr");
            request.dtrAsserted = lua_isnil(L, -1) || lua_toboolean(L, -1);
            lua_pop(L, 1);
            if (r.terminal_.isOpen() || r.terminal_.connecting()) {
                const QScopedValueRollback closing(r.closing_, true);
                r.terminal_.close();
            }
            r.lastMessage_.clear();
            r.watchMessages_ = true;
            const Outcome opened = r.terminal_.open(request);
            if (!opened) {
                r.watchMessages_ = false;
                failOpen(r, opened.failure().isEmpty() ? r.lastMessage_ : opened.failure());
            }
        }
        if (r.terminal_.connecting()) {
            mayWait(r, L, "open");
            r.wait_ = ScriptRunner::Wait::Open;
            return kYield;
        }
        r.watchMessages_ = false;
        if (!r.terminal_.isOpen())
            failOpen(r, r.lastMessage_);
        r.askLine();
        lua_pushboolean(L, 1);
        return 1;
    }

    static int close(ScriptRunner& r, lua_State*, bool) {
        r.lease_.release();
        const QScopedValueRollback closing(r.closing_, true);
        r.terminal_.close();
        return 0;
    }

    // True when the line has a DTR to set; a link without modem lines keeps it for nothing.
    static int dtr(ScriptRunner& r, lua_State* L, bool) {
        r.terminal_.setDtrAsserted(lua_toboolean(L, 1));
        bool real = false;
        try {
            real = r.terminal_.isOpen() && r.terminal_.port().hasModemLines();
        } catch (const Failure&) {
            real = false;
        }
        lua_pushboolean(L, real);
        return 1;
    }

    static int rts(ScriptRunner& r, lua_State* L, bool) {
        if (!r.terminal_.isOpen())
            throw ScriptError("rts: the port is not open (call open{} first)");
        if (const Outcome set = r.quickSend_.setRts(lua_toboolean(L, 1)); !set)
            throw ScriptError(set.failure().toStdString());
        return 0;
    }

    static int brk(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!resumed) {
            const lua_Integer ms = optInt(L, 1, QuickSender::kBreakMs, "brk");
            if (ms < 1 || ms > 60000)
                throw ScriptError("brk wants 1 to 60000 ms");
            refuseWhileListening(r);
            if (!r.terminal_.isOpen())
                throw ScriptError("brk: the port is not open (call open{} first)");
            mayWait(r, L, "brk");
            r.terminal_.port().setBreak(true);
            r.breakOn_ = true;
            r.deadlineMs_ = r.nowMs() + static_cast<double>(ms);
        }
        if (r.nowMs() < r.deadlineMs_) {
            armUntil(r, r.deadlineMs_);
            r.wait_ = ScriptRunner::Wait::Sleep;
            return kYield;
        }
        r.endBreak();
        return 0;
    }

    static int lines(ScriptRunner& r, lua_State* L, bool) {
        if (!r.terminal_.isOpen())
            throw ScriptError("lines: the port is not open (call open{} first)");
        const serial::ModemLines m = r.terminal_.port().modemLines();
        lua_createtable(L, 0, 3);
        lua_pushboolean(L, m.cts);
        lua_setfield(L, -2, "cts");
        lua_pushboolean(L, m.dsr);
        lua_setfield(L, -2, "dsr");
        lua_pushboolean(L, m.dcd);
        lua_setfield(L, -2, "dcd");
        return 1;
    }

    static int settings(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!lua_istable(L, 1))
            throw ScriptError("settings wants a table: settings{baud=9600, line=\"e,8,1\"}");
        if (!haveLine(r, L, "settings"))
            return kYield;
        (void)resumed;
        const serial::LineSettings now = r.terminal_.lineSettings();
        const std::string baud = optField(L, "baud", std::to_string(now.baud).c_str());
        const std::string line = optField(L, "line", serial::lineControlText(now).c_str());
        const serial::LineSettings wanted = serial::parseSettings(baud, line);
        if (const Outcome changed = r.lease_.changeLineSettings(wanted); !changed)
            throw ScriptError("settings: " + changed.failure().toStdString());
        return 0;
    }

    // ---- Modbus ----

    static int transact(ScriptRunner& r, lua_State* L, bool resumed, bool isRead) {
        if (!resumed) {
            refuseWhileListening(r);
            r.modbusStarted_ = false;
        }
        if (!r.modbusStarted_) {
            if (!haveLine(r, L, isRead ? "modbus.read" : "modbus.write"))
                return kYield;
            r.modbusStarted_ = true;
            r.modbusLost_ = false;
            r.hold_ = r.lease_.holdSends();
            r.tx_.start(r.lease_, r.pollRequest_, r.frame_, r.modbusTimeoutMs_, 0,
                        r.terminal_.lineSettings(), framingOf(r.terminal_.port().kind()));
        }
        if (r.tx_.running()) {
            r.wait_ = ScriptRunner::Wait::Modbus;
            return kYield;
        }
        r.hold_.release();
        if (r.modbusLost_ || !r.terminal_.isOpen())
            return pushFailure(L, "port closed");
        const modbus::ReplyCheck& check = r.tx_.rules().check();
        if (check.status != modbus::ReplyStatus::Ok) {
            if (r.tx_.rules().timedOut())
                return pushFailure(L, "timeout");
            if (check.status == modbus::ReplyStatus::Exception) {
                // "exception 02: illegal data address": the code, then what it means.
                const std::string name = monitor::exceptionName(check.exceptionCode);
                char code[8];
                std::snprintf(code, sizeof code, "%02X", check.exceptionCode);
                lua_pushnil(L);
                lua_pushfstring(L, "exception %s%s%s", code, name.empty() ? "" : ": ",
                                name.c_str());
                return 2;
            }
            return pushFailure(L, check.text.empty() ? "no valid reply" : check.text.c_str());
        }
        if (!isRead) {
            lua_pushboolean(L, 1);
            return 1;
        }
        if (!check.bits.empty()) {
            lua_createtable(L, static_cast<int>(check.bits.size()), 0);
            for (std::size_t i = 0; i < check.bits.size(); ++i) {
                lua_pushboolean(L, check.bits[i]);
                lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
            }
        } else {
            lua_createtable(L, static_cast<int>(check.registers.size()), 0);
            for (std::size_t i = 0; i < check.registers.size(); ++i) {
                lua_pushinteger(L, check.registers[i]);
                lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
            }
        }
        return 1;
    }

    static void prepare(ScriptRunner& r, modbus::PollRequest request, lua_Integer timeoutMs) {
        if (timeoutMs < 1 || timeoutMs > 60000)
            throw ScriptError("the Modbus timeout wants 1 to 60000 ms");
        const std::vector<std::uint8_t> frame = modbus::buildRequest(request); // throws naming
        r.frame_ = QByteArray(reinterpret_cast<const char*>(frame.data()),     // the field
                              static_cast<qsizetype>(frame.size()));
        r.pollRequest_ = std::move(request);
        r.modbusTimeoutMs_ = static_cast<int>(timeoutMs);
    }

    static int modbusRead(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!resumed) {
            modbus::PollRequest q;
            q.station = static_cast<int>(argInt(L, 1, "modbus.read's station"));
            q.function = static_cast<int>(argInt(L, 2, "modbus.read's function"));
            if (q.function < 1 || q.function > 4)
                throw ScriptError("modbus.read wants function 1, 2, 3 or 4");
            q.address = static_cast<int>(argInt(L, 3, "modbus.read's address"));
            q.count = static_cast<int>(optInt(L, 4, 1, "modbus.read's count"));
            prepare(r, std::move(q), optInt(L, 5, ScriptRunner::kDefaultTimeoutMs, "timeout"));
        }
        return transact(r, L, resumed, true);
    }

    static int modbusWrite(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!resumed) {
            modbus::PollRequest q;
            q.station = static_cast<int>(argInt(L, 1, "modbus.write's station"));
            q.address = static_cast<int>(argInt(L, 2, "modbus.write's address"));
            const auto reg = [L](int index) {
                const lua_Integer v = argInt(L, index, "modbus.write's value");
                if (v < -32768 || v > 65535)
                    throw ScriptError("modbus.write: " + std::to_string(v) +
                                      " does not fit a register (-32768 to 65535)");
                return static_cast<std::uint16_t>(v);
            };
            if (lua_isboolean(L, 3)) {
                q.function = 5;
                q.bits = {static_cast<bool>(lua_toboolean(L, 3))};
            } else if (lua_istable(L, 3)) {
                const auto n = static_cast<lua_Integer>(lua_rawlen(L, 3));
                if (n < 1)
                    throw ScriptError("modbus.write wants at least one value");
                lua_rawgeti(L, 3, 1);
                const bool bits = lua_isboolean(L, -1);
                lua_pop(L, 1);
                q.function = bits ? 15 : 16;
                for (lua_Integer i = 1; i <= n; ++i) {
                    lua_rawgeti(L, 3, i);
                    if (bits)
                        q.bits.push_back(lua_toboolean(L, -1));
                    else
                        q.registers.push_back(reg(lua_gettop(L)));
                    lua_pop(L, 1);
                }
            } else {
                q.function = 6;
                q.registers = {reg(3)};
            }
            q.count = static_cast<int>(q.bits.empty() ? q.registers.size() : q.bits.size());
            prepare(r, std::move(q), optInt(L, 4, ScriptRunner::kDefaultTimeoutMs, "timeout"));
        }
        return transact(r, L, resumed, false);
    }

    static int modbusDecode(ScriptRunner&, lua_State* L, bool) {
        if (!lua_istable(L, 1))
            throw ScriptError("modbus.decode wants a table of register values");
        std::string name = lua_isnoneornil(L, 2) ? "uint16" : argText(L, 2, "modbus.decode");
        auto format = modbus::parseFormatName(name);
        if (format && !lua_isnoneornil(L, 3) && modbus::hasOrder(format->type))
            format = modbus::parseFormatName(name + " " + argText(L, 3, "modbus.decode's order"));
        if (!format)
            throw ScriptError("modbus.decode: \"" + name + "\" is no value format");
        const lua_Integer first = optInt(L, 4, 1, "modbus.decode's first");
        const int need = modbus::registerCount(format->type);
        std::vector<std::uint16_t> regs;
        for (lua_Integer i = first; i < first + need; ++i) {
            lua_rawgeti(L, 1, i);
            int isNumber = 0;
            const lua_Integer v = lua_tointegerx(L, -1, &isNumber);
            lua_pop(L, 1);
            if (!isNumber)
                throw ScriptError("modbus.decode: value " + std::to_string(i) +
                                  " is missing or not a register");
            regs.push_back(static_cast<std::uint16_t>(v));
        }
        const std::string text = modbus::formatValue(*format, regs);
        using T = modbus::ValueType;
        switch (format->type) {
        case T::Hex16:
        case T::Bin16:
        case T::AsciiHiFirst:
        case T::AsciiLoFirst:
            lua_pushlstring(L, text.data(), text.size());
            break;
        case T::Float32:
        case T::Float64:
            if (const auto v = modbus::numericValue(*format, regs))
                lua_pushnumber(L, *v);
            else
                lua_pushnumber(L, text == "inf" ? HUGE_VAL : text == "-inf" ? -HUGE_VAL : NAN);
            break;
        default:
            // Integers stay exact; a uint64 past the signed range reads as a float.
            lua_pushlstring(L, text.data(), text.size());
            if (!lua_stringtonumber(L, text.c_str()))
                lua_pushnil(L);
            lua_remove(L, -2);
            break;
        }
        return 1;
    }

    static int crc16(ScriptRunner&, lua_State* L, bool) {
        const std::string bytes = argText(L, 1, "crc16");
        const auto crc = modbus::Calc_CRC16(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                            static_cast<int>(bytes.size()));
        // The register called hi goes first on the wire: it is the value's low byte.
        const char wire[2] = {static_cast<char>(crc.hi), static_cast<char>(crc.lo)};
        lua_pushlstring(L, wire, 2);
        lua_pushinteger(L, crc.hi | (crc.lo << 8));
        return 2;
    }

    static int checksum(ScriptRunner&, lua_State* L, bool) {
        const std::string key = argText(L, 1, "checksum");
        const std::string bytes = argText(L, 2, "checksum");
        for (const auto& info : quicksend::checksumCatalogue()) {
            if (info.key == key) {
                pushBytes(L, quicksend::checksumOf(
                                 info.kind, {reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size()}));
                return 1;
            }
        }
        std::string known;
        for (const auto& info : quicksend::checksumCatalogue())
            if (info.kind != quicksend::Checksum::None)
                known += (known.empty() ? "" : ", ") + std::string(info.key);
        throw ScriptError("checksum: \"" + key + "\" is not one of " + known);
    }

    static int hex(ScriptRunner&, lua_State* L, bool) {
        const std::string bytes = argText(L, 1, "hex");
        const std::string text = quicksend::hexText({bytes.begin(), bytes.end()});
        lua_pushlstring(L, text.data(), text.size());
        return 1;
    }

    static int unhex(ScriptRunner&, lua_State* L, bool) {
        pushBytes(L, hexBytes(L, 1, "unhex"));
        return 1;
    }

    // ---- time and output ----

    static int sleep(ScriptRunner& r, lua_State* L, bool resumed) {
        if (!resumed) {
            const lua_Integer ms = argInt(L, 1, "sleep");
            mayWait(r, L, "sleep");
            r.deadlineMs_ = r.nowMs() + static_cast<double>(std::max<lua_Integer>(0, ms));
        }
        if (r.nowMs() < r.deadlineMs_) {
            armUntil(r, r.deadlineMs_);
            r.wait_ = ScriptRunner::Wait::Sleep;
            return kYield;
        }
        return 0;
    }

    static int now(ScriptRunner& r, lua_State* L, bool) {
        lua_pushnumber(L, r.nowMs());
        return 1;
    }

    static int print(ScriptRunner& r, lua_State* L, bool) {
        const int n = lua_gettop(L);
        QByteArray line;
        for (int i = 1; i <= n; ++i) {
            // tostring protected: a __tostring that fails is the script's mistake.
            lua_getglobal(L, "tostring");
            lua_pushvalue(L, i);
            if (lua_pcall(L, 1, 1, 0) != LUA_OK || !lua_isstring(L, -1)) {
                lua_pop(L, 1);
                throw ScriptError("print: a value cannot be turned into text");
            }
            std::size_t length = 0;
            const char* s = lua_tolstring(L, -1, &length);
            if (i > 1)
                line += '\t';
            line.append(s, static_cast<qsizetype>(length));
            lua_pop(L, 1);
        }
        line += '\n';
        emit r.output(QString::fromUtf8(line));
        return 0;
    }

    static int mark(ScriptRunner& r, lua_State* L, bool) {
        emit r.marked(QString::fromUtf8(luaBytes(L, 1)));
        return 0;
    }

    static int check(ScriptRunner& r, lua_State* L, bool) {
        const bool passed = lua_toboolean(L, 1);
        const QString text = lua_isnoneornil(L, 2) ? QString() : QString::fromUtf8(luaBytes(L, 2));
        ++r.result_.checks;
        if (!passed)
            ++r.result_.failedChecks;
        emit r.checked(passed, text, r.result_.checks);
        lua_pushboolean(L, passed);
        return 1;
    }

    static int exit(ScriptRunner& r, lua_State* L, bool) {
        const lua_Integer code =
            lua_isboolean(L, 1) ? (lua_toboolean(L, 1) ? 0 : 1) : optInt(L, 1, 0, "exit");
        r.exitCode_ = static_cast<int>(std::clamp<lua_Integer>(code, 0, 255));
        if (lua_isyieldable(L)) {
            r.wait_ = ScriptRunner::Wait::Exit;
            return kYield;
        }
        throw ScriptError("exit"); // inside a coroutine of its own: ends as asked all the same
    }

    static int refuseExec(ScriptRunner&, lua_State* L, bool) {
        lua_Debug ar;
        const char* name = "os.execute";
        if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "n", &ar) && ar.name &&
            std::string(ar.name) == "popen")
            name = "io.popen";
        throw ScriptError(std::string(name) + " is not allowed: the script runs programs only " +
                          "with --allow-exec");
    }

    static void hook(lua_State* L, lua_Debug* ar) {
        ScriptRunner& r = runner(L);
        if (!lua_isyieldable(L)) {
            if (r.stopWanted_)
                luaL_error(L, "stopped");
            return;
        }
        if (r.stopWanted_ || r.nowMs() - r.sliceStartMs_ >= ScriptRunner::kSliceMs) {
            // The line is read here: once yielded, Lua reports the instruction before.
            lua_getinfo(L, "Sl", ar);
            r.sliceLine_ = L == r.thread_ && r.chunkName_ == ar->source ? ar->currentline : 0;
            r.wait_ = ScriptRunner::Wait::Slice;
            r.innerWait_ = L != r.thread_;
            lua_yield(L, 0);
        }
    }

    // coroutine.resume as Lua's, except that a coroutine suspended by a wait of the runner
    // (or a slice of computing) suspends its resumer too, up to the event loop; once the
    // script goes on, the coroutine is resumed where it waited. Only C frames here: a Lua
    // error may unwind through them.
    static int coResume(lua_State* L) { return coStep(L, LUA_OK, 0); }

    static int coStep(lua_State* L, int status, lua_KContext) {
        lua_State* co = lua_tothread(L, 1);
        luaL_argexpected(L, co, 1, "coroutine");
        int nargs = 0;
        if (status == LUA_OK) {
            nargs = lua_gettop(L) - 1;
            lua_Debug ar;
            const bool fresh = lua_status(co) == LUA_OK && !lua_getstack(co, 0, &ar);
            if (co == L || (lua_status(co) != LUA_YIELD && !fresh) ||
                (fresh && lua_gettop(co) == 0)) {
                const bool dead = co != L && (lua_status(co) > LUA_YIELD || fresh);
                lua_pushboolean(L, 0);
                lua_pushstring(L, dead ? "cannot resume dead coroutine"
                                       : "cannot resume non-suspended coroutine");
                return 2;
            }
            if (!lua_checkstack(co, nargs)) {
                lua_pushboolean(L, 0);
                lua_pushliteral(L, "too many arguments to resume");
                return 2;
            }
            lua_xmove(L, co, nargs);
        } else {
            lua_settop(L, 1);
        }
        int results = 0;
        const int resumed = lua_resume(co, L, nargs, &results);
        if (resumed == LUA_YIELD && runner(L).innerWait_) {
            lua_pop(co, results);
            if (!lua_isyieldable(L))
                return luaL_error(L, "a coroutine waits where its resumer cannot");
            runner(L).innerWait_ = L != runner(L).thread_;
            return lua_yieldk(L, 0, 0, &coStep);
        }
        if (resumed == LUA_OK || resumed == LUA_YIELD) {
            if (!lua_checkstack(L, results + 1)) {
                lua_pop(co, results);
                return luaL_error(L, "too many results to resume");
            }
            lua_pushboolean(L, 1);
            lua_xmove(co, L, results);
            return results + 1;
        }
        lua_pushboolean(L, 0);
        lua_xmove(co, L, 1); // the error
        return 2;
    }

    static void install(ScriptRunner& r, lua_State* L, bool allowExec) {
        *static_cast<ScriptRunner**>(lua_getextraspace(L)) = &r;
        luaL_openlibs(L);
        const luaL_Reg globals[] = {{"send", &call<send>},         {"sendhex", &call<sendhex>},
                                    {"read", &call<read>},         {"readline", &call<readline>},
                                    {"expect", &call<expect>},     {"flush", &call<flush>},
                                    {"open", &call<open>},         {"close", &call<close>},
                                    {"dtr", &call<dtr>},           {"rts", &call<rts>},
                                    {"brk", &call<brk>},           {"lines", &call<lines>},
                                    {"settings", &call<settings>}, {"crc16", &call<crc16>},
                                    {"checksum", &call<checksum>}, {"hex", &call<hex>},
                                    {"unhex", &call<unhex>},       {"sleep", &call<sleep>},
                                    {"now", &call<now>},           {"print", &call<print>},
                                    {"mark", &call<mark>},         {"check", &call<check>},
                                    {"exit", &call<exit>},         {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, globals, 0);
        lua_pop(L, 1);
        const luaL_Reg modbusFunctions[] = {{"read", &call<modbusRead>},
                                            {"write", &call<modbusWrite>},
                                            {"decode", &call<modbusDecode>},
                                            {nullptr, nullptr}};
        luaL_newlib(L, modbusFunctions);
        lua_setglobal(L, "modbus");
        lua_getglobal(L, "coroutine");
        lua_pushcfunction(L, &coResume);
        lua_setfield(L, -2, "resume");
        lua_pop(L, 1);
        // wrap on top of that resume, so that a wrapped coroutine may wait as well.
        luaL_dostring(L, "local resume, create, pack, unpack = coroutine.resume, "
                         "coroutine.create, table.pack, table.unpack\n"
                         "coroutine.wrap = function(f)\n"
                         "  local co = create(f)\n"
                         "  return function(...)\n"
                         "    local r = pack(resume(co, ...))\n"
                         "    if not r[1] then error(r[2], 0) end\n"
                         "    return unpack(r, 2, r.n)\n"
                         "  end\n"
                         "end");
        // os.exit would end the whole program: it ends the script instead.
        lua_getglobal(L, "os");
        lua_pushcfunction(L, &call<exit>);
        lua_setfield(L, -2, "exit");
        if (!allowExec) {
            lua_pushcfunction(L, &call<refuseExec>);
            lua_setfield(L, -2, "execute");
        }
        lua_pop(L, 1);
        if (!allowExec) {
            lua_getglobal(L, "io");
            lua_pushcfunction(L, &call<refuseExec>);
            lua_setfield(L, -2, "popen");
            lua_pop(L, 1);
            // Loading a C library runs its code as surely as os.execute does.
            lua_getglobal(L, "package");
            lua_pushnil(L);
            lua_setfield(L, -2, "loadlib");
            lua_pushliteral(L, "");
            lua_setfield(L, -2, "cpath");
            lua_pop(L, 1);
        }
    }
};

ScriptRunner::ScriptRunner(TerminalEngine& terminal, QuickSender& quickSend, QObject* parent)
    : QObject(parent), terminal_(terminal), quickSend_(quickSend) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (running() && wait_ != Wait::None)
            resume();
    });
    connect(&terminal_, &TerminalEngine::arrived, this, &ScriptRunner::onArrived);
    connect(&terminal_, &TerminalEngine::portOpenChanged, this, &ScriptRunner::onPortOpen);
    connect(&terminal_, &TerminalEngine::connectingChanged, this, [this](bool connecting) {
        if (!connecting && wait_ == Wait::Open)
            wakeSoon();
    });
    connect(&terminal_, &TerminalEngine::message, this, [this](const QString& text) {
        if (watchMessages_)
            lastMessage_ = text;
    });
    connect(&tx_, &ModbusTransaction::ended, this, [this] {
        if (wait_ == Wait::Modbus)
            wakeSoon();
    });
    connect(&tx_, &ModbusTransaction::lost, this, [this] {
        modbusLost_ = true;
        if (wait_ == Wait::Modbus)
            wakeSoon();
    });
}

ScriptRunner::~ScriptRunner() {
    if (state_)
        teardown();
}

double ScriptRunner::nowMs() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e6;
}

Outcome ScriptRunner::runFile(const QString& path, const QStringList& args) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Outcome::failed(
            QStringLiteral("The script %1 cannot be read: %2").arg(path, file.errorString()));
    return run(file.readAll(), path, args);
}

Outcome ScriptRunner::run(const QByteArray& source, const QString& name, const QStringList& args) {
    if (running())
        return Outcome::failed(
            QStringLiteral("The script %1 is running: stop it first.").arg(name_));
    lua_State* L = luaL_newstate();
    if (!L)
        return Outcome::failed(QStringLiteral("No memory for a script."));
    ScriptApi::install(*this, L, allowExec_);
    const QByteArray chunk = '@' + name.toUtf8();
    lua_State* thread = lua_newthread(L);
    luaL_ref(L, LUA_REGISTRYINDEX); // kept from the collector
    // Text only: a precompiled chunk can crash the interpreter on purpose.
    if (luaL_loadbufferx(thread, source.constData(), static_cast<std::size_t>(source.size()),
                         chunk.constData(), "t") != LUA_OK) {
        const QString error = QString::fromUtf8(lua_tostring(thread, -1));
        lua_close(L);
        return Outcome::failed(error);
    }
    lua_createtable(L, static_cast<int>(args.size()), 1);
    lua_pushstring(L, name.toUtf8().constData());
    lua_rawseti(L, -2, 0);
    for (qsizetype i = 0; i < args.size(); ++i) {
        lua_pushstring(L, args[i].toUtf8().constData());
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
    }
    lua_setglobal(L, "arg");
    lua_sethook(thread, &ScriptApi::hook, LUA_MASKCOUNT, kHookCount);

    state_ = L;
    thread_ = thread;
    name_ = name;
    chunkName_ = chunk;
    line_ = 0;
    result_ = {};
    exitCode_ = -1;
    stopWanted_ = false;
    openFailure_.clear();
    input_.clear();
    clock_.start();
    askLine();
    emit started(name_);
    wait_ = Wait::Start;
    wakeSoon();
    return {};
}

void ScriptRunner::wakeSoon() {
    if (wakePosted_)
        return;
    wakePosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            wakePosted_ = false;
            if (running() && wait_ != Wait::None)
                resume();
        },
        Qt::QueuedConnection);
}

void ScriptRunner::resume() {
    timer_.stop();
    wait_ = Wait::None;
    sliceStartMs_ = nowMs();
    int results = 0;
    resuming_ = true;
    const int status = lua_resume(thread_, state_, 0, &results);
    resuming_ = false;
    innerWait_ = false;
    if (status == LUA_YIELD) {
        lua_pop(thread_, results);
        if (stopWanted_) {
            finishStopped();
            return;
        }
        if (wait_ == Wait::Exit) {
            ScriptResult r = result_;
            r.status = exitStatus();
            end(r);
            return;
        }
        if (wait_ == Wait::Slice || wait_ == Wait::None) {
            wait_ = Wait::Slice;
            timer_.start(0); // the event loop goes on first
        }
        tellLine();
        return;
    }
    ScriptResult r = result_;
    if (status == LUA_OK) {
        r.status = r.failedChecks > 0 ? kStatusFailed : kStatusOk;
    } else if (stopWanted_) {
        finishStopped();
        return;
    } else if (exitCode_ >= 0) {
        r.status = exitStatus();
    } else {
        std::size_t n = 0;
        const char* text = luaL_tolstring(thread_, -1, &n);
        r.error = QString::fromUtf8(text, static_cast<qsizetype>(n));
        r.errorLine = lineOfError(r.error, name_);
        r.status = !openFailure_.isEmpty() && r.error.endsWith(openFailure_) ? kStatusNoPort
                                                                             : kStatusError;
    }
    end(r);
}

// The line the script stands on: the innermost level of its own chunk.
void ScriptRunner::tellLine() {
    const auto tell = [this](int line) {
        if (line != line_) {
            line_ = line;
            emit lineChanged(line_);
        }
    };
    if (wait_ == Wait::Slice && sliceLine_ > 0) {
        tell(std::exchange(sliceLine_, 0));
        return;
    }
    lua_Debug ar;
    for (int level = 0; lua_getstack(thread_, level, &ar); ++level) {
        lua_getinfo(thread_, "Sl", &ar);
        if (ar.currentline > 0 && chunkName_ == ar.source) {
            tell(ar.currentline);
            return;
        }
    }
}

void ScriptRunner::stop() {
    if (!running())
        return;
    if (resuming_) {
        stopWanted_ = true; // the script yields at its next instruction count or call
        return;
    }
    finishStopped();
}

// exit(0) after a failed check still tells the failure.
int ScriptRunner::exitStatus() const {
    return exitCode_ == 0 && result_.failedChecks > 0 ? kStatusFailed : exitCode_;
}

void ScriptRunner::finishStopped(const QString& why) {
    ScriptResult r = result_;
    r.status = kStatusError;
    r.stopped = true;
    r.error = line_ > 0 ? QStringLiteral("%1:%2: %3").arg(name_, QString::number(line_), why)
                        : QStringLiteral("%1: %2").arg(name_, why);
    end(r);
}

void ScriptRunner::end(ScriptResult result) {
    teardown();
    emit finished(result);
}

void ScriptRunner::endBreak() {
    if (!breakOn_)
        return;
    breakOn_ = false;
    try {
        terminal_.port().setBreak(false);
    } catch (const Failure&) {
        // the line went with the port
    }
}

void ScriptRunner::teardown() {
    timer_.stop();
    wait_ = Wait::None;
    tx_.cancel();
    hold_.release();
    endBreak();
    QObject::disconnect(outputLeft_);
    outputLeft_ = {};
    pendingOut_.clear();
    input_.clear();
    if (asking_) {
        terminal_.withdrawAsk(ask_);
        asking_ = false;
    }
    lease_.release();
    lua_close(state_); // closes the files the script left open
    state_ = nullptr;
    thread_ = nullptr;
    stopWanted_ = false;
}

void ScriptRunner::askLine() {
    if (!running() || lease_ || asking_ || !terminal_.isOpen())
        return;
    asking_ = true;
    // The terminal keeps receiving: it shows what arrives and the script sees the same bytes.
    ask_ = terminal_.askForLine(LineUse(QStringLiteral("Script"), false, false), this,
                                [this](LineLease lease) {
                                    asking_ = false;
                                    lease_ = std::move(lease);
                                    if (wait_ == Wait::Line)
                                        wakeSoon();
                                });
}

void ScriptRunner::onArrived(const QByteArray& bytes) {
    if (!running())
        return;
    if (tx_.running()) {
        tx_.feed(bytes);
        return;
    }
    input_ += bytes;
    if (wait_ == Wait::Input)
        wakeSoon();
}

void ScriptRunner::onPortOpen(bool open) {
    if (!running())
        return;
    if (open) {
        askLine();
    } else {
        asking_ = false; // closing drops every ask
        breakOn_ = false;
        // Close COM by the user ends the script: one that never gives the line back must not
        // lock the user out. A device that vanished is the script's to handle.
        if (!closing_ && !terminal_.closedByLoss()) {
            if (resuming_)
                stopWanted_ = true;
            else
                finishStopped(QStringLiteral("the port was closed"));
            return;
        }
    }
    if (wait_ == Wait::Input || wait_ == Wait::Output || wait_ == Wait::Open ||
        (wait_ == Wait::Line && !open))
        wakeSoon();
}

int ScriptRunner::lineOfError(const QString& error, const QString& name) {
    // "name:12: ..."; Lua shortens a long name from the front: "...end/of/name.lua:12: ...".
    static const QRegularExpression place(QStringLiteral("^(.*?):(\\d+):"));
    const auto m = place.match(error);
    if (!m.hasMatch())
        return 0;
    const QString source = m.captured(1);
    const bool ours = source == name || (source.startsWith(QLatin1String("...")) &&
                                         name.endsWith(QStringView(source).mid(3)));
    return ours ? m.captured(2).toInt() : 0;
}

} // namespace varnok::engine
