-- dtr_reset.lua: resets a device by taking DTR low for a moment, then waits for its boot
-- banner and tells how long the boot took.
--
-- Run:
--   varnok-binary --script examples/scripts/dtr_reset.lua --port Com1=/dev/ttyUSB0 [BANNER]
-- BANNER is a Lua pattern the boot text contains ("booted" when not given).
-- A pseudo-terminal (the simulator, `varnok-devsim --mode login`) has no modem lines: there
-- the script logs in (arg[2], arg[3]: user and password, admin and varnok when not given)
-- and asks the console to reboot instead.
-- Status: 0 the banner came within 5 s, 1 it did not.

local banner = arg[1] or "booted"

open { port = 1, baud = 115200, dtr = true }
flush()

-- A line without modem lines (a pseudo-terminal) refuses RTS; it has no DTR to reset with
-- either.
local started = now()
if pcall(rts, true) then
    dtr(false)
    sleep(250) -- long enough for the device's reset circuit
    dtr(true)
else
    print("no DTR on this line: rebooting through the console")
    send("\r")
    expect("login: ")
    send((arg[2] or "admin") .. "\r")
    expect("Password: ")
    send((arg[3] or "varnok") .. "\r")
    if not check(expect("> "), "logged in to reboot") then exit(1) end
    send("reboot\r")
end

if check(expect(banner, 5000), "boot banner within 5 s") then
    print(string.format("booted after %.0f ms", now() - started))
end
