-- Wireshark dissector for the sorter configuration record: the 128-byte
-- UDP datagram sorters broadcast to port 50003 and vormcfg sends back (to
-- the sorter's port, or to 50004 in firewall mode).
--
-- Install: copy into Wireshark's Lua plugin folder (Help > About >
-- Folders), or load it once with: tshark -X lua_script:vormcfg.lua

local RECORD_SIZE = 128
local MAGIC = "SNDP_CFG"

local sndp = Proto("sndp_cfg", "Sorter configuration record")

local message_types = { [3] = "Configuration reply" }

local f = {
    magic = ProtoField.string("sndp_cfg.magic", "Magic"),
    msg_type = ProtoField.uint32("sndp_cfg.msg_type", "Message type", base.DEC, message_types),
    serial = ProtoField.string("sndp_cfg.serial", "Serial number"),
    ip_address = ProtoField.string("sndp_cfg.ip_address", "IP address"),
    subnet_mask = ProtoField.string("sndp_cfg.subnet_mask", "Subnet mask"),
    reserved_a = ProtoField.bytes("sndp_cfg.reserved_a", "Reserved A"),
    dhcp = ProtoField.uint8("sndp_cfg.dhcp", "DHCP", base.DEC),
    reserved_b = ProtoField.bytes("sndp_cfg.reserved_b", "Reserved B"),
    timestamp = ProtoField.string("sndp_cfg.timestamp", "Time stamp (UTC)"),
    year = ProtoField.uint16("sndp_cfg.timestamp.year", "Year"),
    month = ProtoField.uint8("sndp_cfg.timestamp.month", "Month"),
    day_of_week = ProtoField.uint8("sndp_cfg.timestamp.day_of_week", "Day of week", base.DEC,
        { [0] = "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" }),
    day = ProtoField.uint8("sndp_cfg.timestamp.day", "Day"),
    hour = ProtoField.uint8("sndp_cfg.timestamp.hour", "Hour"),
    minute = ProtoField.uint8("sndp_cfg.timestamp.minute", "Minute"),
    second = ProtoField.uint8("sndp_cfg.timestamp.second", "Second"),
    milliseconds = ProtoField.uint16("sndp_cfg.timestamp.milliseconds", "Milliseconds"),
    reserved_c = ProtoField.bytes("sndp_cfg.reserved_c", "Reserved C"),
    gateway = ProtoField.ipv4("sndp_cfg.gateway", "Gateway"),
    reserved_d = ProtoField.bytes("sndp_cfg.reserved_d", "Reserved D"),
}
sndp.fields = {
    f.magic, f.msg_type, f.serial, f.ip_address, f.subnet_mask, f.reserved_a, f.dhcp, f.reserved_b,
    f.timestamp, f.year, f.month, f.day_of_week, f.day, f.hour, f.minute, f.second, f.milliseconds,
    f.reserved_c, f.gateway, f.reserved_d,
}

local e = {
    length = ProtoExpert.new("sndp_cfg.wrong_length", "Not 128 bytes: not a configuration record",
        expert.group.MALFORMED, expert.severity.ERROR),
    magic = ProtoExpert.new("sndp_cfg.no_magic", "No \"SNDP_CFG\" magic: not a configuration record",
        expert.group.MALFORMED, expert.severity.ERROR),
    unterminated = ProtoExpert.new("sndp_cfg.unterminated", "Text without its NUL: readers run on into the next field",
        expert.group.MALFORMED, expert.severity.WARN),
}
sndp.experts = { e.length, e.magic, e.unterminated }

-- A text field ends at its first NUL; one without a NUL is flagged.
local function add_text(tree, field, buffer, offset, size)
    local range = buffer(offset, size)
    local bytes = range:bytes()
    local length = size
    for i = 0, size - 1 do
        if bytes:get_index(i) == 0 then
            length = i
            break
        end
    end
    local text = range:raw(0, length)
    local item = tree:add(field, range, text)
    if length == size then item:add_proto_expert_info(e.unterminated) end
    return text
end

local function add_timestamp(tree, buffer)
    local stamp = buffer(104, 10)
    local text = string.format("%04d-%02d-%02d %02d:%02d:%02d.%03d UTC",
        stamp(0, 2):le_uint(), stamp(2, 1):uint(), stamp(4, 1):uint(), stamp(5, 1):uint(),
        stamp(6, 1):uint(), stamp(7, 1):uint(), stamp(8, 2):le_uint())
    local subtree = tree:add(f.timestamp, stamp, text)
    subtree:add_le(f.year, stamp(0, 2))
    subtree:add(f.month, stamp(2, 1))
    subtree:add(f.day_of_week, stamp(3, 1))
    subtree:add(f.day, stamp(4, 1))
    subtree:add(f.hour, stamp(5, 1))
    subtree:add(f.minute, stamp(6, 1))
    subtree:add(f.second, stamp(7, 1))
    subtree:add_le(f.milliseconds, stamp(8, 2))
end

function sndp.dissector(buffer, pinfo, tree)
    pinfo.cols.protocol = "SNDP_CFG"
    local root = tree:add(sndp, buffer(), "Sorter configuration record")
    if buffer:len() ~= RECORD_SIZE then
        root:add_proto_expert_info(e.length)
        pinfo.cols.info = string.format("Malformed: %d bytes", buffer:len())
        return
    end
    local magic = root:add(f.magic, buffer(0, 9), buffer(0, 8):string())
    if buffer(0, 8):string() ~= MAGIC or buffer(8, 1):uint() ~= 0 then
        magic:add_proto_expert_info(e.magic)
        pinfo.cols.info = "Malformed: no magic"
        return
    end
    root:add_le(f.msg_type, buffer(9, 4))
    local serial = add_text(root, f.serial, buffer, 13, 28)
    add_text(root, f.ip_address, buffer, 41, 16)
    add_text(root, f.subnet_mask, buffer, 57, 16)
    root:add(f.reserved_a, buffer(73, 10))
    local dhcp = root:add(f.dhcp, buffer(83, 1))
    dhcp:append_text(buffer(83, 1):uint() ~= 0 and " (On)" or " (Off)")
    root:add(f.reserved_b, buffer(84, 20))
    add_timestamp(root, buffer)
    root:add(f.reserved_c, buffer(114, 3))
    root:add(f.gateway, buffer(117, 4))
    root:add(f.reserved_d, buffer(121, 7))
    pinfo.cols.info = string.format("Serial %s, type %d", serial, buffer(9, 4):le_uint())
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(50003, sndp)
udp_port:add(50004, sndp)
