-- Wireshark dissector for velta36 controller lines, as captured by
-- `velta36 run|scan|simulate|<command> --capture FILE.pcapng`.
--
-- Install: copy this file into Wireshark's personal Lua plug-in folder
-- (Help > About Wireshark > Folders, "Personal Lua Plugins"; usually
-- ~/.local/lib/wireshark/plugins/) and open the capture. Or, once:
--   wireshark -X lua_script:velta36.lua capture.pcapng
--   tshark -X lua_script:velta36.lua -r capture.pcapng -V
--
-- A packet is one chunk as the host (or the simulated controller) read or
-- wrote it. Frames are put together again per interface and direction, so
-- a reply split over several reads shows as one frame on the packet that
-- completes it. Every frame shows its direction, the address, what it asks
-- or answers, its checksum with a verdict and the value it should carry,
-- and for event replies each 23-byte record with its fields.

local velta36 = Proto("velta36", "velta36 controller line")

-- The link type the tool writes: LINKTYPE_USER3 (150).
local LINK_TYPE = wtap_encaps.USER3

local f = velta36.fields
f.direction = ProtoField.string("velta36.direction", "Direction")
f.kind = ProtoField.string("velta36.kind", "Kind")
f.frame = ProtoField.bytes("velta36.frame", "Frame bytes")
f.first_packet = ProtoField.framenum("velta36.first_packet", "Frame begins in packet")
f.noise = ProtoField.bytes("velta36.noise", "Noise before the frame")
f.address = ProtoField.uint8("velta36.address", "Address", base.DEC)
f.command = ProtoField.string("velta36.command", "Command bytes")
f.clock = ProtoField.string("velta36.clock", "Clock set to")
f.door = ProtoField.uint8("velta36.door", "Door", base.DEC)
f.setting = ProtoField.string("velta36.setting", "Setting")
f.slot = ProtoField.uint16("velta36.slot", "Card slot", base.DEC)
f.card_code = ProtoField.string("velta36.card_code", "Card code")
f.end_date = ProtoField.string("velta36.end_date", "Last valid day")
f.checksum = ProtoField.string("velta36.checksum", "Checksum")
f.checksum_expected = ProtoField.string("velta36.checksum.expected", "Checksum expected")
f.checksum_status = ProtoField.string("velta36.checksum.status", "Checksum verdict")
f.status = ProtoField.string("velta36.status", "Status character")
f.door1 = ProtoField.string("velta36.door1", "Door 1")
f.door2 = ProtoField.string("velta36.door2", "Door 2")
f.records = ProtoField.uint8("velta36.records", "Records", base.DEC)
f.extra = ProtoField.bytes("velta36.extra", "Bytes after the last whole record")
f.record = ProtoField.bytes("velta36.record", "Record")
f.rec_kind = ProtoField.string("velta36.record.kind", "Kind")
f.rec_channel = ProtoField.uint8("velta36.record.channel", "Channel", base.DEC)
f.rec_direction = ProtoField.string("velta36.record.direction", "Direction")
f.rec_state = ProtoField.string("velta36.record.state", "State")
f.rec_card = ProtoField.string("velta36.record.card", "Card digits")
f.rec_flags1 = ProtoField.uint8("velta36.record.flags1", "First flag byte", base.HEX)
f.rec_flags2 = ProtoField.uint8("velta36.record.flags2", "Second flag byte", base.HEX)
f.rec_time = ProtoField.string("velta36.record.time", "Time")
f.rec_tail = ProtoField.string("velta36.record.tail", "Tail")
f.partial = ProtoField.string("velta36.partial", "Part of a frame")

local e_checksum = ProtoExpert.new("velta36.checksum.wrong", "Wrong checksum",
                                   expert.group.CHECKSUM, expert.severity.ERROR)
local e_noise = ProtoExpert.new("velta36.noise.found", "Noise before the frame",
                                expert.group.MALFORMED, expert.severity.WARN)
local e_refusal = ProtoExpert.new("velta36.refusal", "The controller refused the command",
                                  expert.group.RESPONSE_CODE, expert.severity.WARN)
local e_record = ProtoExpert.new("velta36.record.skipped", "Record the driver skips",
                                 expert.group.MALFORMED, expert.severity.WARN)
local e_unknown = ProtoExpert.new("velta36.unknown", "Bytes that form no frame",
                                  expert.group.MALFORMED, expert.severity.WARN)
velta36.experts = { e_checksum, e_noise, e_refusal, e_record, e_unknown }

local fi_interface = Field.new("frame.interface_id")
local fi_direction = Field.new("frame.packet_flags_direction")

-- Reassembly state, built on the first pass in packet order and read back
-- whenever a packet is dissected again.
local pending = {}   -- per interface and direction: { bytes, first packet }
local results = {}   -- per packet number: { frames = {...}, partial = {...} }

function velta36.init()
    pending = {}
    results = {}
end

---------------------------------------------------------------------------
-- Checksums

local function sum16(s, from, to)
    local sum = 0
    for i = from, to do
        sum = (sum + s:byte(i)) % 65536
    end
    return sum
end

-- Four characters, most significant nibble first, each nibble + base.
local function nibbles(sum, base)
    local out = {}
    for shift = 12, 0, -4 do
        out[#out + 1] = string.char(base + math.floor(sum / 2 ^ shift) % 16)
    end
    return table.concat(out)
end

local function printable(s)
    return (s:gsub("[^\32-\126]", "."))
end

---------------------------------------------------------------------------
-- Where frames end

-- A '/' ends commands, acknowledgements and refusals. A data reply ends at
-- a '/' that closes a right checksum, or at a '/' that ends a chunk (which
-- is where the driver takes it as complete): a flag byte of a record can
-- be a '/' too.
local function frame_ends_at(s, chunk_ends_here)
    local c = s:byte(1)
    if chunk_ends_here or c == 0x40 or c == 0x68 or c == 0x6E then
        return true
    end
    local a = s:find("A", 1, true)
    if not a then
        return true
    end
    return #s - a + 1 >= 6 and s:sub(#s - 4, #s - 1) == nibbles(sum16(s, a, #s - 5), 0x60)
end

local function split_frames(bytes)
    local frames = {}
    local from = 1
    local i = bytes:find("/", from, true)
    while i do
        if frame_ends_at(bytes:sub(from, i), i == #bytes) then
            frames[#frames + 1] = { bytes = bytes:sub(from, i), ends = i }
            from = i + 1
        end
        i = bytes:find("/", i + 1, true)
    end
    return frames, bytes:sub(from)
end

local function reassemble(pinfo, data)
    local iface = fi_interface() and fi_interface().value or 0
    local dir = fi_direction() and fi_direction().value or 0
    local key = iface .. "/" .. dir
    -- A chunk the other way ends what was left unfinished here: the host
    -- has given up on that reply (it sends only after a reply or a
    -- time-out) and dropped its rest, and so does the dissector.
    for other_dir = 0, 2 do
        if other_dir ~= dir then
            pending[iface .. "/" .. other_dir] = nil
        end
    end
    local held = pending[key] or { bytes = "", first = pinfo.number }
    local bytes = held.bytes .. data
    local held_before = #held.bytes
    local frames, rest = split_frames(bytes)
    local result = { frames = {} }
    for n, frame in ipairs(frames) do
        local begins_here = frame.ends - #frame.bytes >= held_before
        result.frames[n] = {
            bytes = frame.bytes,
            first = (n == 1 and held_before > 0) and held.first or pinfo.number,
            -- offset within this packet when the whole frame lies in it
            offset = begins_here and (frame.ends - #frame.bytes - held_before) or nil,
        }
    end
    if #rest > 0 then
        local first = (#frames == 0 and held_before > 0) and held.first or pinfo.number
        pending[key] = { bytes = rest, first = first }
        result.partial = { length = #rest, first = first, command = rest:byte(1) == 0x40 }
    else
        pending[key] = nil
    end
    results[pinfo.number] = result
    return result
end

---------------------------------------------------------------------------
-- Frames the host sends

local WEEKDAYS = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" }

local function two(s, at)
    local d = s:sub(at, at + 1)
    if not d:match("^%d%d$") then
        return nil
    end
    return tonumber(d)
end

local DAYS_IN_MONTH = { 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 }

local function valid_date(year, month, day)
    if not (year and month and day) or month < 1 or month > 12 or day < 1 then
        return false
    end
    local last = DAYS_IN_MONTH[month]
    if month == 2 and (year % 4 ~= 0 or (year % 100 == 0 and year % 400 ~= 0)) then
        last = 28
    end
    return day <= last
end

-- Command bytes (after '@' and the address): the kind of command (a fixed
-- text to filter on) and what it asks for in words.
local function describe_command(tree, range, cmd)
    local code2 = cmd:sub(1, 2)
    if cmd == "{" then
        return "status request", "status request"
    elseif code2 == "01" and #cmd == 13 then
        local hh, mm, dd, mo, yy = two(cmd, 3), two(cmd, 5), two(cmd, 7), two(cmd, 9), two(cmd, 11)
        local wd = tonumber(cmd:sub(13, 13))
        local text
        if valid_date(yy and 2000 + yy, mo, dd) and hh and hh < 24 and mm and mm < 60 then
            text = string.format("20%02d-%02d-%02d %02d:%02d", yy, mo, dd, hh, mm)
        else
            text = "not a valid time (" .. cmd:sub(3, 12) .. ")"
        end
        text = text .. ", " .. ((wd and WEEKDAYS[wd]) or ("weekday " .. cmd:sub(13, 13)))
        tree:add(f.clock, range(4, 11), text)
        return "clock set", "clock set " .. text
    elseif cmd == "v0" then
        return "acknowledge batch", "acknowledge the batch (v0)"
    elseif cmd == "v3" then
        return "end of read", "end of event read (v3)"
    elseif (code2 == "22" or code2 == "23") and #cmd == 4 and cmd:sub(3, 3) == "0" then
        local door = cmd:byte(4) - 0x30
        tree:add(f.door, range(5, 1), door)
        local kind = code2 == "22" and "open door" or "close door"
        return kind, kind .. " " .. door
    elseif cmd == "00" then
        return "configuration", "configuration: start"
    elseif code2 == "02" and #cmd == 3 then
        tree:add(f.setting, range(2, 3), "doors " .. cmd:sub(3, 3))
        return "configuration", "configuration: doors " .. cmd:sub(3, 3)
    elseif (cmd:sub(1, 4) == "1210" or cmd:sub(1, 4) == "1220") and #cmd == 5 then
        local text = "door " .. cmd:sub(3, 3) .. " relay delay " .. (cmd:byte(5) - 0x30)
        tree:add(f.setting, range(2, 5), text)
        return "configuration", "configuration: " .. text
    elseif cmd:sub(1, 7) == "0400000" and #cmd == 18 then
        local text = "card type " .. (cmd:byte(8) - 0x30)
        tree:add(f.setting, range(2, 18), text)
        return "configuration", "configuration: " .. text
    elseif cmd == "791" or cmd == "190" or cmd:match("^14[12]0000$") or cmd:match("^45[12]000$")
        or cmd:match("^430[1-4][01]$") or cmd:match("^3[12]01%d+$") then
        tree:add(f.setting, range(2, #cmd), cmd)
        return "configuration", "configuration: " .. cmd
    elseif cmd:match("^%d%d%d%d%d%d") and (code2 == "09" or code2 == "35" or code2 == "33"
        or code2 == "36" or code2 == "16" or code2 == "17") then
        local slot = tonumber(cmd:sub(3, 6))
        tree:add(f.slot, range(4, 4), slot)
        local value = cmd:sub(7)
        if code2 == "09" and #cmd == 14 then
            tree:add(f.card_code, range(8, 8), value)
            if value == "00000000" then
                return "card", "card slot " .. slot .. ": clear the code"
            end
            return "card", "card slot " .. slot .. ": code " .. value
        elseif code2 == "35" and #cmd == 12 then
            local dd, mo, yy = two(value, 1), two(value, 3), two(value, 5)
            local text = valid_date(yy and 2000 + yy, mo, dd)
                and string.format("20%02d-%02d-%02d", yy, mo, dd) or ("no date (" .. value .. ")")
            tree:add(f.end_date, range(8, 6), text)
            return "card", "card slot " .. slot .. ": last valid day " .. text
        end
        return "card", "card slot " .. slot .. ": command " .. code2 .. " " .. value
    end
    return "command", "command " .. printable(cmd)
end

local function dissect_command(tree, range, s)
    tree:add(f.direction, "host to controller")
    tree:add(f.address, range(1, 1), s:byte(2) - 0x30)
    if #s == 6 and s:sub(3, 5) == "q0;" then
        -- The event read is sent as it stands, without a checksum.
        tree:add(f.kind, range(2, 3), "event read")
        return "event read"
    end
    if #s < 7 then
        tree:add(f.kind, range, "command too short for a checksum")
        return "command too short: " .. printable(s)
    end
    local cmd = s:sub(3, #s - 5)
    tree:add(f.command, range(2, #cmd), cmd)
    local kind, what = describe_command(tree, range, cmd)
    tree:add(f.kind, range(2, #cmd), kind)
    local got = s:sub(#s - 4, #s - 1)
    local want = nibbles(sum16(s, 3, #s - 5), 0x30)
    tree:add(f.checksum, range(#s - 5, 4), got)
    tree:add(f.checksum_expected, want)
    local verdict = tree:add(f.checksum_status, got == want and "right" or "wrong")
    if got ~= want then
        verdict:add_proto_expert_info(e_checksum, "Wrong checksum: " .. got .. ", expected " .. want)
        what = what .. " [wrong checksum]"
    end
    return what
end

---------------------------------------------------------------------------
-- Frames the controller sends

local RECORD_KINDS = {
    ["0"] = "card event with restriction flags",
    ["1"] = "unknown card",
    ["2"] = "granted card",
    ["3"] = "door, button or controller event",
}

local CHANNELS = { [0] = "controller", "door 1", "door 2", "exit button 1", "exit button 2" }

local FLAGS1 = { "anti-passback", "card not valid at this reader", "site code not ok",
                 "not allowed by the controller (validity, credit)" }
local FLAGS2 = { "tailgating", "wrong PIN", "door did not answer", "outside the time zone" }

local function flag_text(byte, names)
    local set = {}
    for bit = 0, 3 do
        if math.floor(byte / 2 ^ bit) % 2 == 1 then
            set[#set + 1] = names[bit + 1]
        end
    end
    return #set > 0 and table.concat(set, ", ") or "none"
end

local function dissect_record(tree, range, r, n)
    local kind = r:sub(1, 1)
    local rtree = tree:add(f.record, range)
    rtree:set_text("Record " .. n .. ": " .. (RECORD_KINDS[kind] or "unknown kind"))
    rtree:add(f.rec_kind, range(0, 1), kind .. " " .. (RECORD_KINDS[kind] or "unknown kind, the driver skips it"))
    local f1, f2 = r:byte(9), r:byte(10)
    if kind == "3" then
        local c = r:byte(4) - 0x30
        rtree:add(f.rec_channel, range(3, 1), c, "Channel: " .. c .. " (" .. (CHANNELS[c] or "none") .. ")")
        local state = ({ ["1"] = "active or opened", ["0"] = "ended or closed" })[r:sub(10, 10)]
        rtree:add(f.rec_state, range(9, 1), state or ("other (" .. printable(r:sub(10, 10)) .. ")"))
    else
        local reader = r:sub(2, 2) == "0" and 1 or 2
        rtree:add(f.rec_channel, range(1, 1), reader, "Reader: " .. printable(r:sub(2, 2)) .. " (channel " .. reader .. ")")
        local dir = ({ ["0:"] = "entry", ["0;"] = "exit" })[r:sub(3, 4)]
        rtree:add(f.rec_direction, range(2, 2), dir or ("neither (" .. printable(r:sub(3, 4)) .. ")"))
    end
    rtree:add(f.rec_card, range(4, 4), printable(r:sub(5, 8)))
    local names1 = FLAGS1
    if kind == "3" then
        names1 = { "-", "-", "power off", "power on" }
    end
    rtree:add(f.rec_flags1, range(8, 1), f1, string.format("First flag byte: 0x%02x (%s)", f1,
              flag_text(f1, names1)))
    rtree:add(f.rec_flags2, range(9, 1), f2, string.format("Second flag byte: 0x%02x (%s)", f2,
              kind == "3" and "the state" or flag_text(f2, FLAGS2)))
    local hh, mm, dd, mo, yy = two(r, 11), two(r, 13), two(r, 15), two(r, 18), two(r, 20)
    local time
    if valid_date(yy and 2000 + yy, mo, dd) and hh and hh < 24 and mm and mm < 60 then
        time = string.format("20%02d-%02d-%02d %02d:%02d", yy, mo, dd, hh, mm)
    else
        time = "not a valid time (" .. printable(r:sub(11, 21)) .. "), stored without one"
    end
    rtree:add(f.rec_time, range(10, 11), time)
    local tail_right = r:sub(22, 23) == "8\n"
    local tail = rtree:add(f.rec_tail, range(21, 2), tail_right and "right" or "wrong")
    if not tail_right then
        tail:add_proto_expert_info(e_record, "The record does not end in '8' and a line feed: the driver skips it")
    elseif not RECORD_KINDS[kind] then
        rtree:add_proto_expert_info(e_record, "Unknown record kind: the driver skips it")
    end
    rtree:append_text(", " .. time)
end

local function dissect_data_reply(tree, range, s)
    tree:add(f.direction, "controller to host")
    local len = #s
    local what
    if len == 8 then
        what = "door status"
        tree:add(f.kind, range(0, 1), what)
        tree:add(f.address, range(1, 1), s:byte(2) - 0x30)
        local status = s:byte(3) - 0x30
        tree:add(f.status, range(2, 1), s:sub(3, 3))
        local door1 = status % 2 == 1 and "closed" or "open"
        local door2 = math.floor(status / 2) % 2 == 1 and "closed" or "open"
        tree:add(f.door1, range(2, 1), door1)
        tree:add(f.door2, range(2, 1), door2)
        what = what .. ": door 1 " .. door1 .. ", door 2 " .. door2
    elseif len >= 6 then
        local count = math.floor((len - 6) / 23)
        what = "event reply, " .. count .. (count == 1 and " record" or " records")
        tree:add(f.kind, range(0, 1), "event reply")
        tree:add(f.records, count)
        for n = 1, count do
            local at = 1 + 23 * (n - 1)
            dissect_record(tree, range(at, 23), s:sub(at + 1, at + 23), n)
        end
        local extra = (len - 6) % 23
        if extra > 0 then
            tree:add(f.extra, range(1 + 23 * count, extra))
        end
    else
        tree:add(f.kind, range, "data reply too short for a checksum")
        return "short data reply"
    end
    local got = s:sub(len - 4, len - 1)
    local want = nibbles(sum16(s, 1, len - 5), 0x60)
    tree:add(f.checksum, range(len - 5, 4), got)
    tree:add(f.checksum_expected, want)
    local verdict = tree:add(f.checksum_status, got == want and "right" or "wrong")
    if got ~= want then
        verdict:add_proto_expert_info(e_checksum, "Wrong checksum: " .. got .. ", expected " .. want ..
                                      " (the driver discards the reply)")
        what = what .. " [wrong checksum]"
    end
    return what
end

---------------------------------------------------------------------------

-- Where the frame proper starts, after noise: a data reply at the first
-- 'A' (where the driver starts it), an acknowledgement or refusal three
-- bytes before the end.
local function frame_start(s)
    local c = s:byte(1)
    if c == 0x40 or c == 0x41 or c == 0x68 or c == 0x6E then
        return 1
    end
    local a = s:find("A", 1, true)
    if a and #s - a + 1 >= 6 then
        return a
    end
    if #s >= 3 and (s:byte(#s - 2) == 0x68 or s:byte(#s - 2) == 0x6E) then
        return #s - 2
    end
    return nil
end

local function dissect_frame(tvb_range, root, pinfo, first)
    local s = tvb_range:raw()
    local tree = root:add(velta36, tvb_range)
    tree:add(f.frame, tvb_range)
    if first ~= pinfo.number then
        tree:add(f.first_packet, first)
    end
    local start = frame_start(s)
    if not start then
        tree:add(f.kind, tvb_range, "unknown bytes")
        tree:add_proto_expert_info(e_unknown)
        return "unknown bytes " .. printable(s)
    end
    local note = ""
    if start > 1 then
        tree:add(f.noise, tvb_range(0, start - 1)):add_proto_expert_info(e_noise)
        note = " (after " .. (start - 1) .. (start == 2 and " byte" or " bytes") .. " of noise)"
        s = s:sub(start)
        tvb_range = tvb_range(start - 1)
    end
    local c = s:byte(1)
    local what
    if c == 0x40 then
        pinfo.cols.src = "host"
        pinfo.cols.dst = "controller " .. (s:byte(2) - 0x30)
        what = "to " .. (s:byte(2) - 0x30) .. ": " .. dissect_command(tree, tvb_range, s)
    elseif c == 0x41 then
        pinfo.cols.src = "controller"
        pinfo.cols.dst = "host"
        what = dissect_data_reply(tree, tvb_range, s)
        if #s == 8 then
            pinfo.cols.src = "controller " .. (s:byte(2) - 0x30)
            what = "from " .. (s:byte(2) - 0x30) .. ": " .. what
        end
    else
        pinfo.cols.src = "controller" .. (#s >= 3 and (" " .. (s:byte(2) - 0x30)) or "")
        pinfo.cols.dst = "host"
        tree:add(f.direction, "controller to host")
        what = c == 0x68 and "acknowledgement" or "refusal"
        tree:add(f.kind, tvb_range(0, 1), what)
        if #s >= 3 then
            tree:add(f.address, tvb_range(1, 1), s:byte(2) - 0x30)
            what = "from " .. (s:byte(2) - 0x30) .. ": " .. what
        end
        if c ~= 0x68 then
            tree:add_proto_expert_info(e_refusal)
        elseif start > 1 then
            -- The driver checks the first byte it holds: noise turns an
            -- acknowledgement into a refusal.
            what = what .. ", read by the driver as a refusal"
        end
    end
    tree:append_text(": " .. what .. note)
    return what .. note
end

function velta36.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "velta36"
    local result = results[pinfo.number]
    if not result then
        result = reassemble(pinfo, tvb:raw())
    end
    local info = {}
    for _, frame in ipairs(result.frames) do
        local range
        if frame.offset then
            range = tvb(frame.offset, #frame.bytes)
        else
            range = ByteArray.new(frame.bytes, true):tvb("velta36 frame"):range()
        end
        info[#info + 1] = dissect_frame(range, root, pinfo, frame.first)
    end
    if result.partial then
        local tree = root:add(velta36, tvb(tvb:len() - math.min(result.partial.length, tvb:len())))
        tree:add(f.partial, string.format("%d bytes so far, begun in packet %d",
                                          result.partial.length, result.partial.first))
        tree:append_text(": part of a frame")
        if #info == 0 then
            info[#info + 1] = "part of a frame"
            pinfo.cols.src = result.partial.command and "host" or "controller"
            pinfo.cols.dst = result.partial.command and "controller" or "host"
        end
    end
    pinfo.cols.info = table.concat(info, "; ")
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(LINK_TYPE, velta36)
