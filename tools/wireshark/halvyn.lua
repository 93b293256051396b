-- Wireshark dissector for Halvyn's datagrams.
--
--   halvyn      the relay protocol: "pr" packets on the relay port (7002, or
--               the ports in the preference) and the "w" probe on the slot
--               ports 14367-14398; found by their "pr" on other ports too
--   halvyn_dev  the device link on UDP 4440: register writes ("veltrw",
--               address, length, block) and the 70-byte set-up datagram
--   halvyn_ann  device announcements on UDP 9887 (group 224.0.0.222)
--
-- Load it for one run:   wireshark -X lua_script:tools/wireshark/halvyn.lua
--                        tshark -X lua_script:tools/wireshark/halvyn.lua -r capture.pcap
-- or for good: copy it into ~/.local/lib/wireshark/plugins/.
--
-- Byte orders as on the wire: addresses in network order; the ports and
-- last_seen inside a client record and the ports and tx_param inside a route
-- record least significant byte first; device registers high byte first.

local bit = bit32 or bit

local RELAY_PORT = 7002
local SLOT_PORT_FIRST = 14367
local SLOT_PORT_LAST = 14398
local DEVICE_PORT = 4440
local ANNOUNCE_PORT = 9887

local RECORD_FORM = 120  -- header and one client record
local ROUTE_FORM = 228   -- header, record area and a route record
local RECORD_SIZE = 116
local ROUTE_SIZE = 108

local COMMANDS = {
  [0x65] = "Login",
  [0x66] = "Logout",
  [0x67] = "Login accepted",
  [0x68] = "Client list",
  [0x69] = "Peer-to-peer info",
  [0x6B] = "Keep-alive",
  [0x70] = "Connect request",
  [0x72] = "Route request",
  [0x73] = "Route released (to Rx device)",
  [0x74] = "Route released (to Tx device)",
  [0x75] = "Route reply (to Tx device)",
  [0x76] = "Route reply (to Rx device)",
  [0x77] = "Port probe",
  [0x78] = "Route release",
}
local COMMAND_NAMES = {}
for code, name in pairs(COMMANDS) do
  COMMAND_NAMES[code] = string.format("%s (%s)", name, string.char(code))
end

-- The text in range up to its first zero byte (all of it when there is none).
local function zero_ended(range)
  local bytes = range:bytes()
  for i = 0, bytes:len() - 1 do
    if bytes:get_index(i) == 0 then
      return i == 0 and "" or range(0, i):string()
    end
  end
  return range:string()
end

-- "02:aa:bb:cc:dd:07": a MAC as bytes, without the vendor names Wireshark may add.
local function mac_text(range)
  local parts = {}
  for i = 0, range:len() - 1 do parts[#parts + 1] = string.format("%02x", range(i, 1):uint()) end
  return table.concat(parts, ":")
end

-- A Tvb of the given byte values, for fields that do not lie contiguous on the wire.
local function composed(values, name)
  local hex = {}
  for _, value in ipairs(values) do hex[#hex + 1] = string.format("%02x", value) end
  return ByteArray.new(table.concat(hex)):tvb(name)
end

---------------------------------------------------------------------------
-- The relay protocol.

local relay = Proto("halvyn", "Halvyn relay protocol")
local rf = relay.fields
rf.magic = ProtoField.string("halvyn.magic", "Magic")
rf.command = ProtoField.uint8("halvyn.command", "Command", base.HEX, COMMAND_NAMES)
rf.count = ProtoField.uint8("halvyn.count", "Count byte")
rf.records = ProtoField.uint32("halvyn.list.records", "Records in the list")
rf.name = ProtoField.string("halvyn.record.name", "Name")
rf.ip = ProtoField.ipv4("halvyn.record.ip", "Public address")
rf.port = ProtoField.uint16("halvyn.record.port", "Public port")
rf.p2p_ip = ProtoField.ipv4("halvyn.record.p2p_ip", "Peer-to-peer address")
rf.p2p_port = ProtoField.uint16("halvyn.record.p2p_port", "Peer-to-peer port")
rf.last_seen = ProtoField.uint32("halvyn.record.last_seen", "Last seen (server ms)")
rf.client_bytes = ProtoField.bytes("halvyn.record.client_bytes", "Client bytes")
rf.record_area = ProtoField.bytes("halvyn.record_area", "Record area")
rf.target = ProtoField.string("halvyn.target", "Target name")
rf.slot_port = ProtoField.uint16("halvyn.route.slot_port", "Slot port")
rf.slot = ProtoField.uint8("halvyn.route.slot", "Slot")
rf.tx_param = ProtoField.uint16("halvyn.route.tx_param", "Tx parameter", base.HEX)
rf.tx_ip = ProtoField.ipv4("halvyn.route.tx_ip", "Tx device address")
rf.tx_port = ProtoField.uint16("halvyn.route.tx_port", "Tx device port")
rf.tx_chan_count = ProtoField.uint8("halvyn.route.tx_chan_count", "Tx channel count")
rf.tx_chans = ProtoField.bytes("halvyn.route.tx_chans", "Tx channels")
rf.tx_chan = ProtoField.uint8("halvyn.route.tx_chan", "Channel")
rf.rx_ip = ProtoField.ipv4("halvyn.route.rx_ip", "Rx device address")
rf.rx_port = ProtoField.uint16("halvyn.route.rx_port", "Rx device port")
rf.rx_chan_count = ProtoField.uint8("halvyn.route.rx_chan_count", "Rx channel count")
rf.tx_name = ProtoField.string("halvyn.route.tx_name", "Tx device name")
rf.rx_name = ProtoField.string("halvyn.route.rx_name", "Rx device name")
rf.uninterpreted = ProtoField.bytes("halvyn.route.uninterpreted", "Not interpreted")

local relay_experts = {
  dropped = ProtoExpert.new("halvyn.dropped", "Not a relay packet: the server drops it",
                            expert.group.MALFORMED, expert.severity.WARN),
  ignored = ProtoExpert.new("halvyn.ignored", "The server ignores this command here",
                            expert.group.PROTOCOL, expert.severity.NOTE),
  refused = ProtoExpert.new("halvyn.refused", "Route refused (slot port 0)",
                            expert.group.RESPONSE_CODE, expert.severity.NOTE),
  short_route = ProtoExpert.new("halvyn.short_route", "Route packet shorter than 228 bytes: ignored",
                                expert.group.MALFORMED, expert.severity.WARN),
}
relay.experts = { relay_experts.dropped, relay_experts.ignored, relay_experts.refused,
                  relay_experts.short_route }

relay.prefs.relay_ports = Pref.range("Relay ports", tostring(RELAY_PORT),
                                     "UDP ports on which halvyn serves the relay protocol", 65535)
relay.prefs.heuristic = Pref.bool("Find relay packets on other ports", true,
                                  "Take any UDP datagram of 120 bytes or more that begins \"pr\" and a known command letter")

-- One 116-byte client record at offset; returns its name.
local function add_record(tree, buf, offset, label)
  local name = zero_ended(buf(offset, 32))
  local sub = tree:add(buf(offset, RECORD_SIZE), string.format("%s: %s", label, name))
  sub:add(rf.name, buf(offset, 32), name)
  sub:add(rf.client_bytes, buf(offset + 32, 16))
  sub:add(rf.ip, buf(offset + 48, 4))
  sub:add_le(rf.port, buf(offset + 52, 2))
  sub:add(rf.client_bytes, buf(offset + 54, 2))
  sub:add(rf.p2p_ip, buf(offset + 56, 4))
  sub:add_le(rf.p2p_port, buf(offset + 60, 2))
  sub:add(rf.client_bytes, buf(offset + 62, 2))
  sub:add_le(rf.last_seen, buf(offset + 64, 4))
  sub:add(rf.client_bytes, buf(offset + 68, 48))
  return name
end

-- The channel numbers of a route record's tx_chans (the zero bytes end the list).
local function channel_list(range)
  local channels = {}
  for i = 0, range:len() - 1 do
    local channel = range(i, 1):uint()
    if channel == 0 then break end
    channels[#channels + 1] = tostring(channel)
  end
  return channels
end

-- The 108-byte route record at offset 120.
local function add_route(tree, buf)
  local body = 120
  local route = tree:add(buf(body, ROUTE_SIZE), "Route record")
  route:add(rf.uninterpreted, buf(body, 2))
  route:add_le(rf.tx_param, buf(body + 2, 2))
  route:add(rf.tx_ip, buf(body + 4, 4))
  route:add_le(rf.tx_port, buf(body + 8, 2))
  route:add(rf.uninterpreted, buf(body + 10, 1))
  route:add(rf.tx_chan_count, buf(body + 11, 1))
  local chans = route:add(rf.tx_chans, buf(body + 12, 8))
  local channels = channel_list(buf(body + 12, 8))
  for i = 1, #channels do chans:add(rf.tx_chan, buf(body + 12 + i - 1, 1)) end
  route:add(rf.uninterpreted, buf(body + 20, 4))
  route:add(rf.rx_ip, buf(body + 24, 4))
  route:add_le(rf.rx_port, buf(body + 28, 2))
  route:add(rf.uninterpreted, buf(body + 30, 1))
  route:add(rf.rx_chan_count, buf(body + 31, 1))
  route:add(rf.uninterpreted, buf(body + 32, 12))
  local tx_name = zero_ended(buf(body + 44, 32))
  local rx_name = zero_ended(buf(body + 76, 32))
  route:add(rf.tx_name, buf(body + 44, 32), tx_name)
  route:add(rf.rx_name, buf(body + 76, 32), rx_name)
  return {
    tx_name = tx_name, rx_name = rx_name,
    tx_port = buf(body + 8, 2):le_uint(), rx_port = buf(body + 28, 2):le_uint(),
    tx_chan_count = buf(body + 11, 1):uint(), channels = channels,
  }
end

local function add_slot_port(tree, range, port, generated)
  local item
  if generated then
    item = tree:add(rf.slot_port, port)
    item:set_generated()
  else
    item = tree:add_le(rf.slot_port, range)
  end
  if port >= SLOT_PORT_FIRST and port <= SLOT_PORT_LAST then
    tree:add(rf.slot, port - SLOT_PORT_FIRST):set_generated()
  end
  return item
end

local function dissect_relay(buf, pinfo, tree)
  local length = buf:len()
  pinfo.cols.protocol:set("HALVYN")
  local t = tree:add(relay, buf())
  local letter = length > 2 and buf(2, 1):uint() or nil
  local on_slot_port = pinfo.dst_port >= SLOT_PORT_FIRST and pinfo.dst_port <= SLOT_PORT_LAST

  -- The probe: only its length, its letter and its source port count.
  if on_slot_port and letter == 0x77 and length >= RECORD_FORM then
    t:add(rf.command, buf(2, 1))
    add_slot_port(t, nil, pinfo.dst_port, true)
    pinfo.cols.info:set(string.format("Port probe to slot port %d from port %d", pinfo.dst_port,
                                      pinfo.src_port))
    return length
  end
  if length < RECORD_FORM or buf(0, 2):string() ~= "pr" then
    t:add_proto_expert_info(relay_experts.dropped)
    pinfo.cols.info:set(string.format("Not a relay packet (%d bytes)", length))
    return length
  end

  t:add(rf.magic, buf(0, 2))
  t:add(rf.command, buf(2, 1))
  t:add(rf.count, buf(3, 1))
  local command = COMMANDS[letter]
  local info = command or string.format("Unknown command %q", string.char(letter))
  if not command then t:add_proto_expert_info(relay_experts.ignored) end

  if letter == 0x68 then
    local records = math.floor(length / RECORD_FORM)
    t:add(rf.records, records):set_generated()
    local names = {}
    for k = 0, records - 1 do
      names[#names + 1] = add_record(t, buf, k * RECORD_FORM + 4, string.format("Client %d", k + 1))
    end
    info = string.format("%s (%d): %s", info, records, table.concat(names, ", "))
  elseif letter == 0x72 or letter == 0x75 or letter == 0x76 or letter == 0x74 or letter == 0x73 then
    if length < ROUTE_FORM then
      t:add_proto_expert_info(relay_experts.short_route)
      add_record(t, buf, 4, "Record area")
    else
      t:add(rf.record_area, buf(4, 116))
      local route = add_route(t, buf)
      local names = string.format("%s -> %s", route.tx_name, route.rx_name)
      if letter == 0x72 then
        info = string.format("%s %s, %d channels", info, names, route.tx_chan_count)
      elseif letter == 0x75 or letter == 0x76 then
        -- Each endpoint finds the slot port in the other endpoint's port field.
        local slot_port = letter == 0x75 and route.rx_port or route.tx_port
        local item = add_slot_port(t, nil, slot_port, true)
        if slot_port == 0 then
          item:add_proto_expert_info(relay_experts.refused)
          info = string.format("%s %s: refused", info, names)
        else
          info = string.format("%s %s: slot port %d", info, names, slot_port)
        end
      else
        info = string.format("%s %s, channels %s", info, names, table.concat(route.channels, ","))
      end
    end
  elseif letter == 0x78 then
    add_record(t, buf, 4, "Record area")
    if length >= 122 then
      local slot_port = buf(120, 2):le_uint()
      add_slot_port(t, buf(120, 2), slot_port, false)
      info = string.format("%s: slot port %d", info, slot_port)
    end
  else
    local name = add_record(t, buf, 4, "Client record")
    info = string.format("%s %s", info, name)
    if letter == 0x70 and length > RECORD_FORM then
      local target = zero_ended(buf(RECORD_FORM))
      t:add(rf.target, buf(RECORD_FORM), target)
      info = string.format("%s -> %s", info, target)
    end
  end
  pinfo.cols.info:set(info)
  return length
end

function relay.dissector(buf, pinfo, tree)
  return dissect_relay(buf, pinfo, tree)
end

local function relay_heuristic(buf, pinfo, tree)
  if not relay.prefs.heuristic or buf:len() < RECORD_FORM then return false end
  if buf(0, 2):string() ~= "pr" or not COMMANDS[buf(2, 1):uint()] then return false end
  dissect_relay(buf, pinfo, tree)
  return true
end

---------------------------------------------------------------------------
-- The device link: register writes and the set-up datagram on UDP 4440.

local device = Proto("halvyn_dev", "Halvyn device link")
local df = device.fields
df.magic = ProtoField.string("halvyn_dev.magic", "Magic")
df.kind = ProtoField.string("halvyn_dev.kind", "Datagram")
df.register = ProtoField.uint16("halvyn_dev.register", "First register", base.DEC_HEX)
df.flags = ProtoField.uint16("halvyn_dev.flags", "Block write flags", base.HEX, nil, 0xC000)
df.length = ProtoField.uint16("halvyn_dev.length", "Length (bytes)", base.DEC, nil, 0x0FFF)
df.reserved = ProtoField.bytes("halvyn_dev.reserved", "Reserved")
df.data = ProtoField.bytes("halvyn_dev.data", "Data")
df.block = ProtoField.string("halvyn_dev.block", "Block")
df.slot = ProtoField.uint8("halvyn_dev.slot", "Route slot")
df.slot_port = ProtoField.uint16("halvyn_dev.slot_port", "Slot port")
df.channel = ProtoField.uint8("halvyn_dev.channel", "Channel")
df.chan_count = ProtoField.uint8("halvyn_dev.chan_count", "Channel count")
df.tx_param = ProtoField.uint16("halvyn_dev.tx_param", "Tx parameter", base.HEX)
df.device_ip = ProtoField.ipv4("halvyn_dev.device_ip", "Device address")
df.tx_ip = ProtoField.ipv4("halvyn_dev.tx_ip", "Tx device address")
df.eth_dst = ProtoField.ether("halvyn_dev.eth_dst", "Ethernet destination")
df.eth_src = ProtoField.ether("halvyn_dev.eth_src", "Ethernet source")
df.ip_src = ProtoField.ipv4("halvyn_dev.ip_src", "IPv4 source")
df.ip_dst = ProtoField.ipv4("halvyn_dev.ip_dst", "IPv4 destination")
df.udp_src = ProtoField.uint16("halvyn_dev.udp_src", "UDP source port")
df.udp_dst = ProtoField.uint16("halvyn_dev.udp_dst", "UDP destination port")
df.ip_length = ProtoField.uint16("halvyn_dev.ip_length", "IPv4 total length")
df.udp_length = ProtoField.uint16("halvyn_dev.udp_length", "UDP length")
df.entry = ProtoField.bytes("halvyn_dev.setup.entry", "Entry")
df.entry_register = ProtoField.uint16("halvyn_dev.setup.register", "Register", base.HEX)
df.entry_value = ProtoField.uint16("halvyn_dev.setup.value", "Value", base.HEX)
df.pc_mac = ProtoField.ether("halvyn_dev.setup.pc_mac", "PC MAC")
df.pc_ip = ProtoField.ipv4("halvyn_dev.setup.pc_ip", "PC address")

local device_experts = {
  unknown = ProtoExpert.new("halvyn_dev.unknown", "Neither a register write nor the set-up datagram",
                            expert.group.MALFORMED, expert.severity.WARN),
}
device.experts = { device_experts.unknown }

local TEMPLATE_FIRST, TEMPLATE_END = 1024, 2048
local RECEIVE_FIRST = 2048
local SLOT_STRIDE = 32

-- Channel entries: 8 bytes sent as 4 registers, so entry i sits at byte i xor 1;
-- an entry 0xC0 | (channel - 1) names a channel, 0 is unused.
local function add_channel_entries(tree, range)
  local channels = {}
  for i = 0, 7 do
    local position = bit.bxor(i, 1)
    local entry = range(position, 1):uint()
    if entry ~= 0 and entry ~= 0xFF and bit.band(entry, 0xC0) == 0xC0 then
      local channel = bit.band(entry, 0x1F) + 1
      tree:add(df.channel, range(position, 1), channel)
      channels[#channels + 1] = tostring(channel)
    end
  end
  return channels
end

local function all_zero(range)
  local bytes = range:bytes()
  for i = 0, bytes:len() - 1 do
    if bytes:get_index(i) ~= 0 then return false end
  end
  return true
end

-- Names and decodes the route blocks; returns a summary for the Info column.
local function add_block(tree, register, data)
  local size = data:len()
  if register >= TEMPLATE_FIRST and register < TEMPLATE_END and size == 128 and
      (register - TEMPLATE_FIRST) % 64 == 0 then
    local first = (register - TEMPLATE_FIRST) / 32
    tree:add(df.block, "Transmit templates cleared"):set_generated()
    return string.format("clear transmit templates of slots %d-%d", first, first + 1)
  end
  local kind, slot
  if register >= TEMPLATE_FIRST and register < TEMPLATE_END and size == 64 and
      (register - TEMPLATE_FIRST) % SLOT_STRIDE == 0 then
    kind, slot = "Transmit template", (register - TEMPLATE_FIRST) / SLOT_STRIDE
  elseif register >= RECEIVE_FIRST and size == 24 and (register - RECEIVE_FIRST) % SLOT_STRIDE == 0 then
    kind, slot = "Receive block", (register - RECEIVE_FIRST) / SLOT_STRIDE
  elseif register >= RECEIVE_FIRST + 16 and size == 12 and
      (register - RECEIVE_FIRST - 16) % SLOT_STRIDE == 0 then
    kind, slot = "Route summary block", (register - RECEIVE_FIRST - 16) / SLOT_STRIDE
  else
    return string.format("%d bytes", size)
  end
  tree:add(df.block, kind):set_generated()
  tree:add(df.slot, slot):set_generated()
  if all_zero(data) then return string.format("%s of slot %d cleared", kind, slot) end

  local sub = tree:add(data, kind)
  if kind == "Transmit template" then
    local channels = add_channel_entries(sub, data(0, 8))
    sub:add(df.chan_count, data(59, 1))
    local header = 16
    sub:add(df.eth_dst, data(header, 6))
    sub:add(df.eth_src, data(header + 6, 6))
    sub:add(df.ip_length, data(header + 16, 2))
    sub:add(df.ip_src, data(header + 26, 4))
    sub:add(df.ip_dst, data(header + 30, 4))
    sub:add(df.udp_src, data(header + 34, 2))
    sub:add(df.udp_dst, data(header + 36, 2))
    sub:add(df.udp_length, data(header + 38, 2))
    return string.format("%s of slot %d: to %s:%d, channels %s", kind, slot,
                         tostring(data(header + 30, 4):ipv4()), data(header + 36, 2):uint(),
                         table.concat(channels, ","))
  elseif kind == "Receive block" then
    sub:add(df.slot_port, data(6, 2))
    local channels = add_channel_entries(sub, data(8, 8))
    sub:add(df.tx_param, data(22, 2))
    return string.format("%s of slot %d: slot port %d, channels %s", kind, slot, data(6, 2):uint(),
                         table.concat(channels, ","))
  else
    sub:add(df.chan_count, data(0, 1))
    sub:add(df.slot, data(1, 1))
    sub:add_le(df.slot_port, data(2, 2))
    sub:add(df.device_ip, data(4, 4))
    sub:add(df.tx_ip, data(8, 4))
    return string.format("%s of slot %d: %d channels from %s", kind, slot, data(0, 1):uint(),
                         tostring(data(8, 4):ipv4()))
  end
end

local SETUP_SIZE = 70
local SETUP_ENTRIES = 8

local function dissect_setup(buf, pinfo, t)
  t:add(df.kind, "Set-up"):set_generated()
  local values = {}
  for i = 0, SETUP_ENTRIES - 1 do
    local at = 6 + 8 * i
    local entry = t:add(df.entry, buf(at, 8))
    entry:add(df.entry_register, buf(at, 2))
    entry:add(df.entry_value, buf(at + 6, 2))
    values[buf(at, 2):uint()] = buf(at + 6, 2)
  end
  -- Registers 0x1A-0x1C carry the PC's MAC, 0x1D-0x1E its address, high byte first.
  local function bytes_of(registers)
    local out = {}
    for _, register in ipairs(registers) do
      local value = values[register]
      out[#out + 1] = value and value(0, 1):uint() or 0
      out[#out + 1] = value and value(1, 1):uint() or 0
    end
    return out
  end
  local mac = composed(bytes_of({ 0x1A, 0x1B, 0x1C }), "PC MAC")
  local ip = composed(bytes_of({ 0x1D, 0x1E }), "PC address")
  t:add(df.pc_mac, mac(0, 6)):set_generated()
  t:add(df.pc_ip, ip(0, 4)):set_generated()
  pinfo.cols.info:set(string.format("Set-up: PC %s at %s", mac_text(mac(0, 6)),
                                    tostring(ip(0, 4):ipv4())))
end

function device.dissector(buf, pinfo, tree)
  local length = buf:len()
  pinfo.cols.protocol:set("HALVYN-DEV")
  local t = tree:add(device, buf())
  if length < 12 or buf(0, 6):string() ~= "veltrw" then
    t:add_proto_expert_info(device_experts.unknown)
    pinfo.cols.info:set(string.format("Not a device datagram (%d bytes)", length))
    return length
  end
  t:add(df.magic, buf(0, 6))
  if length == SETUP_SIZE and buf(8, 1):uint() == 0x80 then
    dissect_setup(buf, pinfo, t)
    return length
  end
  if bit.band(buf(8, 1):uint(), 0xC0) ~= 0xC0 then
    t:add_proto_expert_info(device_experts.unknown)
    pinfo.cols.info:set(string.format("Unknown device datagram (%d bytes)", length))
    return length
  end
  t:add(df.kind, "Register write"):set_generated()
  local register = buf(6, 2):uint()
  t:add(df.register, buf(6, 2))
  t:add(df.flags, buf(8, 2))
  t:add(df.length, buf(8, 2))
  t:add(df.reserved, buf(10, 2))
  local declared = bit.band(buf(8, 2):uint(), 0x0FFF)
  local size = math.min(declared, length - 12)
  local summary = string.format("%d bytes", size)
  if size > 0 then
    t:add(df.data, buf(12, size))
    summary = add_block(t, register, buf(12, size))
  end
  pinfo.cols.info:set(string.format("Write register %d (0x%04X): %s", register, register, summary))
  return length
end

---------------------------------------------------------------------------
-- Device announcements on UDP 9887.

local announce = Proto("halvyn_ann", "Halvyn device announcement")
local af = announce.fields
af.magic = ProtoField.bytes("halvyn_ann.magic", "Magic")
af.following = ProtoField.uint16("halvyn_ann.following", "Bytes that follow")
af.mac = ProtoField.ether("halvyn_ann.mac", "Device MAC")
af.unread = ProtoField.bytes("halvyn_ann.unread", "Not read")
af.version_raw = ProtoField.uint16("halvyn_ann.version_raw", "FPGA version bytes", base.HEX)
af.version = ProtoField.string("halvyn_ann.version", "FPGA version")
af.byte18 = ProtoField.uint8("halvyn_ann.byte18", "Byte 18")
af.byte19 = ProtoField.uint8("halvyn_ann.byte19", "Byte 19")
af.id_length = ProtoField.uint8("halvyn_ann.id_length", "Device ID length")
af.id = ProtoField.string("halvyn_ann.id", "Device ID")
af.name_length = ProtoField.uint8("halvyn_ann.name_length", "Device name length")
af.name = ProtoField.string("halvyn_ann.name", "Device name")

local announce_experts = {
  ignored = ProtoExpert.new("halvyn_ann.ignored", "Not an 88-byte announcement: halvyn ignores it",
                            expert.group.MALFORMED, expert.severity.WARN),
}
announce.experts = { announce_experts.ignored }

local ANNOUNCE_SIZE = 88
local MAX_TEXT = 63

-- A text field as halvyn reads it: length bytes from offset, cut at the
-- datagram's end, at 63 characters and at the first zero byte.
local function announced_text(buf, offset, length)
  local available = math.max(buf:len() - offset, 0)
  local taken = math.min(length, MAX_TEXT, available)
  if taken == 0 then return "", nil end
  local range = buf(offset, taken)
  return zero_ended(range), range
end

function announce.dissector(buf, pinfo, tree)
  local length = buf:len()
  pinfo.cols.protocol:set("HALVYN-ANN")
  local t = tree:add(announce, buf())
  local valid = length == ANNOUNCE_SIZE and buf(0, 4):bytes():tohex() == "AB10F001" and
                buf(4, 2):uint() == 0x52
  if not valid then
    t:add_proto_expert_info(announce_experts.ignored)
    if length < 40 then
      pinfo.cols.info:set(string.format("Not a device announcement (%d bytes)", length))
      return length
    end
  end
  t:add(af.magic, buf(0, 4))
  t:add(af.following, buf(4, 2))
  t:add(af.mac, buf(6, 6))
  t:add(af.unread, buf(12, 4))
  t:add(af.version_raw, buf(16, 2))
  local version = ""
  for i = 0, 1 do
    local byte = buf(16 + i, 1):uint()
    version = version .. string.char(48 + bit.rshift(byte, 4), 48 + bit.band(byte, 0x0F))
  end
  t:add(af.version, buf(16, 2), version)
  t:add(af.byte18, buf(18, 1))
  t:add(af.byte19, buf(19, 1))
  t:add(af.id_length, buf(20, 1))
  local id, id_range = announced_text(buf, 21, buf(20, 1):uint())
  t:add(af.id, id_range or buf(21, 0), id)
  t:add(af.name_length, buf(39, 1))
  local name, name_range = announced_text(buf, 40, buf(39, 1):uint())
  t:add(af.name, name_range or buf(40, 0), name)
  pinfo.cols.info:set(string.format("%s \"%s\" (%s) MAC %s, FPGA %s", valid and "Device" or "Ignored",
                                    name, id, mac_text(buf(6, 6)), version))
  return length
end

---------------------------------------------------------------------------
-- Registration.

local udp_port = DissectorTable.get("udp.port")
local registered_relay_ports

local function register_relay_ports()
  if registered_relay_ports then udp_port:remove(registered_relay_ports, relay) end
  registered_relay_ports = relay.prefs.relay_ports
  udp_port:add(registered_relay_ports, relay)
end

function relay.prefs_changed()
  register_relay_ports()
end

register_relay_ports()
udp_port:add(string.format("%d-%d", SLOT_PORT_FIRST, SLOT_PORT_LAST), relay)
udp_port:add(DEVICE_PORT, device)
udp_port:add(ANNOUNCE_PORT, announce)
relay:register_heuristic("udp", relay_heuristic)
