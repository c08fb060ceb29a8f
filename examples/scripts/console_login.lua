-- console_login.lua: logs in on a device's serial console (login:, Password:, the prompt),
-- asks for its version and logs out again.
--
-- Run (user and password as the script's arguments):
--   varnok-binary --script examples/scripts/console_login.lua --port Com1=/dev/ttyUSB0 \
--       admin varnok
-- Against the simulator: `varnok-devsim --mode login` (user admin, password varnok).
-- Status: 0 logged in and out, 1 the login was refused or an answer did not come.

local user = arg[1] or "admin"
local password = arg[2] or "varnok"

open { port = 1, baud = 115200 }
flush()
send("\r")
if not check(expect("login: ", 2000), "login prompt") then exit(1) end
send(user .. "\r")
if not check(expect("Password: "), "password prompt") then exit(1) end
send(password .. "\r")
local _, which = expect({ "\n> ", "Login incorrect" }, 2000)
if not check(which == 1, "logged in as " .. user) then exit(1) end

send("version\r")
local version = readline(1000)
check(version ~= nil and version ~= "", "version told")
print("version: " .. tostring(version))
expect("> ")

send("logout\r")
check(expect("login: "), "logged out")
