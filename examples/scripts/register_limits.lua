-- register_limits.lua: reads the live holding registers of ten Modbus RTU stations and checks
-- each value against its limits; a station that does not answer or a value out of its limits
-- is a failed check (status 1).
--
-- Run, all stations on one RS-485 line on Com1:
--   varnok-binary --script examples/scripts/register_limits.lua --port Com1=/dev/ttyUSB0 --tap
-- Run, station N on its own port ComN (ten simulators, `varnok-devsim --station N` each,
-- bound with --port Com1=/dev/pts/A ... --port Com10=/dev/pts/J):
--   varnok-binary --script examples/scripts/register_limits.lua --port Com1=... -- apart
-- arg[2] gives another number of stations.

local apart = arg[1] == "apart"
local stations = tonumber(arg[2]) or 10

-- Registers 51 to 53: a sine (int16) and pi as float32 ABCD; `first` counts from 1 and a
-- 16-bit value has no word order.
local limits = {
    { name = "sine", kind = "int16", first = 1, low = -1000, high = 1000 },
    { name = "pi", kind = "float32", order = "ABCD", first = 2, low = 3.14159, high = 3.1416 },
}

if not apart then open { port = 1, baud = 19200 } end
for station = 1, stations do
    if apart then open { port = station, baud = 19200 } end
    local values, why = modbus.read(station, 3, 51, 3, 500)
    if check(values ~= nil, string.format("station %d answers%s", station,
            why and (": " .. why) or "")) then
        local seen = {}
        for _, l in ipairs(limits) do
            local v = modbus.decode(values, l.kind, l.order, l.first)
            check(v >= l.low and v <= l.high,
                string.format("station %d %s %s within %s..%s", station, l.name, v, l.low, l.high))
            seen[#seen + 1] = string.format("%s=%s", l.name, v)
        end
        print(string.format("station %2d  %s", station, table.concat(seen, "  ")))
    end
    if apart then close() end
end
