-- n500_address.lua: reads the N500 network module's IP address, mask and gateway through its
-- serial console, as the N500 dialog's GET does; given three new values it writes them (SET)
-- and reads them back to check that the module kept them.
--
-- Run (the module on Com1; without values it only reads):
--   varnok-binary --script examples/scripts/n500_address.lua --port Com1=/dev/ttyUSB0
--   varnok-binary --script examples/scripts/n500_address.lua --port Com1=/dev/ttyUSB0 \
--       192.168.0.50 255.255.255.0 192.168.0.1
-- Against the simulator: `varnok-devsim --mode n500` prints "DEVICE /dev/pts/N"; bind that
-- path with --port Com1=/dev/pts/N.
-- Status: 0 read (and written) as asked, 1 a value missing or not kept, 2 a bad value given.

local names = { "IP", "MASK", "GATEWAY" }

-- Four whole numbers from 0 to 255, as the dialog's boxes take them.
local function dotted(text)
    local parts = { (text or ""):match("^(%d+)%.(%d+)%.(%d+)%.(%d+)$") }
    if #parts ~= 4 then return false end
    for _, p in ipairs(parts) do
        if tonumber(p) > 255 then return false end
    end
    return true
end

-- "ip\rmask\rgateway\r" answers one "NAME=value" line each.
local function read_values()
    flush()
    send("ip\rmask\rgateway\r")
    local values = {}
    while not values.GATEWAY do
        local line = readline(1000)
        if not line then break end
        local name, value = line:match("^(%u+)=(.*)$")
        if name then values[name] = value end
    end
    return values
end

local wanted = { arg[1], arg[2], arg[3] }
if #wanted > 0 then
    for i, name in ipairs(names) do
        if not dotted(wanted[i]) then
            error(string.format("%s \"%s\" is not four numbers from 0 to 255", name,
                tostring(wanted[i])), 0)
        end
    end
end

open { port = 1, baud = 9600 }
local before = read_values()
for _, name in ipairs(names) do
    check(before[name] ~= nil, name .. " read")
    print(string.format("%-8s %s", name, before[name] or "(no answer)"))
end

if #wanted == 3 then
    send(string.format("ip %s\rmask %s\rgateway %s\r", wanted[1], wanted[2], wanted[3]))
    for _, name in ipairs(names) do
        check(readline(1000) == "OK", name .. " written")
    end
    local after = read_values()
    for i, name in ipairs(names) do
        check(after[name] == wanted[i], string.format("%s kept as %s", name, wanted[i]))
    end
    print("written: " .. table.concat(wanted, " "))
end
