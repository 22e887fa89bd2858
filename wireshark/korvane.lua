-- korvane.lua: Wireshark dissector for the console link of Korvane.
--
-- A console and its partner exchange Ember messages over TCP: trees of BER
-- elements, each element an outer tag wrapping a universal type, under a
-- root container (application 4294946012, a Sequence of indefinite length)
-- whose 9 header octets 7F 8F FF FE D9 5C 80 30 80 begin every message.
--
-- The dissector reads each direction of a connection the way Korvane's
-- stream reader does, octet by octet: it skips octets until the start
-- sequence, follows the framing (messages split over segments and several
-- messages in one segment alike), raises the reader's error codes and
-- texts as expert info and then waits for the next start sequence, and
-- shows every message as a tree of its elements with the parameter reports
-- the service would send to its partner ("1,2,3,4,5,100"): the first 10,000
-- of each, the rest counted. What it keeps grows with the octets of the
-- messages that span segments, not with their elements.
--
-- Install: copy this file into the personal Lua plugin folder
-- (~/.local/lib/wireshark/plugins on Linux, %APPDATA%\Wireshark\plugins on
-- Windows) or run wireshark/tshark with -X lua_script:korvane.lua.
-- TCP port 9000 is decoded by default; "Decode As..." selects other ports,
-- and a heuristic takes any TCP connection on which the start sequence is
-- seen. See docs/WIRESHARK.md.

local korvane = Proto("korvane", "Korvane console link")
-- Reads the segments TCP does not hand over (see its dissector below).
local korvane_late = Proto("korvane_late", "Korvane console link, octets of retransmissions")

-- ---------------------------------------------------------------------------
-- Facts of the octet format
-- ---------------------------------------------------------------------------

local START = { 0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80 }
local START_TEXT = "\127\143\255\254\217\092\128\048\128"
local INDEFINITE = 4294967295
local TWO32 = 4294967296

local CLASS_UNIVERSAL, CLASS_APPLICATION, CLASS_CONTEXT, CLASS_PRIVATE = 0x00, 0x40, 0x80, 0xC0
local CONSTRUCTED = 0x20
local ROOT_NUMBER = 4294946012 -- application tag of every message's root
local ASIDE_NUMBER = 4294946013 -- a root's child with this application tag is held aside
local TYPE_SEQUENCE, TYPE_SET = 16, 17
local TAG_VALUE, TAG_NO_INTEGER_REPORT = 3, 34

-- Reader limits, as the library enforces them.
local MAX_IDENTIFIER_OCTETS = 7
local MAX_LENGTH_OCTETS = 5
local MAX_DEPTH = 256
local MAX_CONTENT = 16 * 1048576
local MAX_MESSAGE_OCTETS = 64 * 1048576
local MAX_MESSAGE_NODES = 1048576
local MAX_BER_TYPE = 30
local LINE_SIZE = 64 -- a report line and its terminating NUL

-- What the tree shows of one message: Wireshark refuses a frame of more
-- than a million tree items, and a message of many small elements holds
-- far more; the elements and reports past these are counted, not shown.
local MAX_SHOWN_ELEMENTS = 10000
local MAX_SHOWN_REPORTS = 10000

local TYPE_NAMES = {
    [1] = "Boolean", [2] = "Integer", [3] = "Bitstring", [4] = "OctetString", [5] = "Null",
    [6] = "ObjectIdentifier", [7] = "ObjectDescriptor", [8] = "External", [9] = "Real",
    [10] = "Enumerated", [11] = "EmbeddedPdv", [12] = "UTF8", [13] = "RelativeObject",
    [16] = "Sequence", [17] = "Set", [18] = "NumericString", [19] = "PrintableString",
    [20] = "TeletexString", [21] = "VideotexString", [22] = "IA5String", [23] = "UTCTime",
    [24] = "GeneralizedTime", [25] = "GraphicString", [26] = "VisibleString",
    [27] = "GeneralString", [28] = "UniversalString", [29] = "UnspecifiedString", [30] = "BMPString",
}

local ERRORS = {
    [1] = "EOF",
    [3] = "Not a container",
    [101] = "Non-zero byte in terminator",
    [102] = "Zero outer length encountered",
    [103] = "Number of tag octets out of bounds",
    [104] = "Number of length octets out of bounds",
    [105] = "Unexpected terminator",
    [106] = "Unexpected end of container",
    [107] = "Universal outer tag encountered",
    [108] = "Primitive outer tag encountered",
    [109] = "Invalid BER type encountered",
    [110] = "Non-universal inner tag encountered",
    [111] = "Nesting depth out of bounds",
    [112] = "Indefinite length on a primitive element",
    [113] = "Content length out of bounds",
    [114] = "Message size out of bounds",
    [115] = "Value element outside any container",
    [201] = "Invalid Boolean encoding",
    [202] = "Invalid Integer encoding",
    [203] = "Invalid Integer encoding",
    [204] = "Invalid Real encoding",
    [205] = "Invalid String encoding",
    [206] = "Invalid OctetString encoding",
    [207] = "Invalid ObjectIdentifier encoding",
    [208] = "Invalid GeneralizedTime encoding",
    [1001] = "A node with the specified tag already exists in this container",
}

local band = bit32.band

local CLASS_LETTERS = { [0x00] = "U", [0x40] = "A", [0x80] = "C", [0xC0] = "P" }

-- The text form of a tag: A-3, C-1, U-16!C.
local function tag_text(octet, number)
    local text = CLASS_LETTERS[band(octet, 0xC0)] .. "-" .. string.format("%.0f", number)
    if band(octet, CONSTRUCTED) ~= 0 then
        text = text .. "!C"
    end
    return text
end

-- A number as C's "%d" prints its 32-bit pattern.
local function signed32(number)
    if number >= 2147483648 then
        return number - TWO32
    end
    return number
end

-- ---------------------------------------------------------------------------
-- Protocol fields
-- ---------------------------------------------------------------------------

local pf = {
    direction = ProtoField.string("korvane.direction", "Direction"),
    message = ProtoField.uint32("korvane.message", "Message", base.DEC),
    kind = ProtoField.string("korvane.kind", "Kind"),
    report = ProtoField.string("korvane.report", "Report"),
    path = ProtoField.string("korvane.path", "Path"),
    value = ProtoField.string("korvane.value", "Value"),
    value_type = ProtoField.string("korvane.value_type", "Value type"),
    element = ProtoField.string("korvane.element", "Element"),
    tag = ProtoField.string("korvane.element.tag", "Outer tag"),
    outer_length = ProtoField.uint32("korvane.element.outer_length", "Outer length", base.DEC),
    type = ProtoField.uint8("korvane.element.type", "Inner type", base.DEC, TYPE_NAMES),
    constructed = ProtoField.bool("korvane.element.constructed", "Constructed"),
    length = ProtoField.uint32("korvane.element.length", "Inner length", base.DEC),
    element_value = ProtoField.string("korvane.element.value", "Value"),
    held = ProtoField.string("korvane.element.held", "Held"),
    terminator = ProtoField.bytes("korvane.terminator", "Terminator"),
    skipped = ProtoField.bytes("korvane.skipped", "Skipped octets"),
    fragment = ProtoField.bytes("korvane.fragment", "Message octets"),
    error_code = ProtoField.uint32("korvane.error.code", "Error code", base.DEC),
    error_message = ProtoField.string("korvane.error.message", "Error"),
    not_shown = ProtoField.uint32("korvane.not_shown", "Not shown", base.DEC),
}
korvane.fields = {
    pf.direction, pf.message, pf.kind, pf.report, pf.path, pf.value, pf.value_type, pf.element,
    pf.tag, pf.outer_length, pf.type, pf.constructed, pf.length, pf.element_value, pf.held,
    pf.terminator, pf.skipped, pf.fragment, pf.error_code, pf.error_message, pf.not_shown,
}

local ef = {
    error = ProtoExpert.new("korvane.error.expert", "Ember decoding error",
        expert.group.MALFORMED, expert.severity.ERROR),
    skipped = ProtoExpert.new("korvane.skipped.expert", "Octets outside any message",
        expert.group.SEQUENCE, expert.severity.NOTE),
    gap = ProtoExpert.new("korvane.gap.expert", "Octets of the stream are missing",
        expert.group.SEQUENCE, expert.severity.WARN),
}
korvane.experts = { ef.error, ef.skipped, ef.gap }

local f_tcp_stream = Field.new("tcp.stream")
local f_tcp_seq = Field.new("tcp.seq")
local f_tcp_len = Field.new("tcp.len")
local f_tcp_payload = Field.new("tcp.payload")

korvane.prefs.port = Pref.uint("TCP port", 9000, "The console's TCP port")
korvane.prefs.heuristic = Pref.bool("Find the start sequence on other ports", true,
    "Take any TCP connection on which an Ember message start is seen")

-- ---------------------------------------------------------------------------
-- Values of the leaves, as the tree model makes and the dumps render them
-- ---------------------------------------------------------------------------

-- A thrown reader error: code and text; located errors carry the path of
-- the open containers and the current outer tag.
local function raise(reader, code, located)
    local message = ERRORS[code]
    if located then
        local pieces = {}
        for i = 1, #reader.stack do
            local open = reader.stack[i]
            pieces[#pieces + 1] = tag_text(open.octet, open.number) .. "/"
        end
        local current = "U-0"
        if reader.outer_octet then
            current = tag_text(reader.outer_octet, reader.outer_number)
        end
        message = "@" .. table.concat(pieces) .. current .. ": " .. message
    end
    error({ korvane_error = true, code = code, message = message }, 0)
end

-- Unsigned decimal of a 64-bit value given as eight octets.
local function u64_decimal(octets)
    local limbs = {}
    for i = 1, 8, 2 do
        limbs[#limbs + 1] = octets[i] * 256 + octets[i + 1]
    end
    local digits = {}
    repeat
        local remainder, zero = 0, true
        for i = 1, #limbs do
            local current = remainder * 65536 + limbs[i]
            limbs[i] = math.floor(current / 10)
            remainder = current % 10
            if limbs[i] ~= 0 then
                zero = false
            end
        end
        digits[#digits + 1] = tostring(remainder)
    until zero
    return string.reverse(table.concat(digits))
end

-- The low 64 bits of a big-endian two's complement number (first octet
-- signed), as eight octets.
local function low64(content, first, count)
    local octets = {}
    local fill = (count > 0 and content:byte(first) >= 0x80) and 0xFF or 0x00
    for i = 1, 8 do
        local at = count - 8 + i -- 1-based index into the number's octets
        if at >= 1 then
            octets[i] = content:byte(first + at - 1)
        else
            octets[i] = fill
        end
    end
    return octets
end

local function i64_decimal(octets)
    if octets[1] < 0x80 then
        return u64_decimal(octets)
    end
    local negated, carry = {}, 1
    for i = 8, 1, -1 do
        local v = 255 - octets[i] + carry
        negated[i] = v % 256
        carry = v >= 256 and 1 or 0
    end
    return "-" .. u64_decimal(negated)
end

local function bit_length(number)
    local bits = 0
    while number >= 1 do
        number = math.floor(number / 2)
        bits = bits + 1
    end
    return bits
end

-- Signed value of `count` octets (count <= 4: exact in a Lua number).
local function small_signed(content, first, count)
    local value = 0
    for i = 0, count - 1 do
        local octet = content:byte(first + i)
        if i == 0 and octet >= 0x80 then
            octet = octet - 256
        end
        value = value * 256 + octet
    end
    return value
end

local function positive_nan()
    local nan = 0 / 0
    if string.format("%f", nan):sub(1, 1) == "-" then
        nan = -nan
    end
    return nan
end

-- REAL content: the binary form, base 2, the mantissa's top bit weighted
-- 2^exponent.
local function decode_real(reader, content)
    local length = #content
    if length == 0 then
        return 0.0
    end
    local first = content:byte(1)
    if length == 1 then
        if first == 0x40 then
            return math.huge
        end
        if first == 0x41 then
            return -math.huge
        end
    end
    local k = band(first, 0x03) + 1
    local negative = band(first, 0x40) ~= 0
    if length < k + 1 then
        raise(reader, 1, false)
    end
    local exponent = small_signed(content, 2, k)
    local mantissa_octets = length - k - 1
    local octets = low64(content, k + 2, mantissa_octets)
    local high = ((octets[1] * 256 + octets[2]) * 256 + octets[3]) * 256 + octets[4]
    local low = ((octets[5] * 256 + octets[6]) * 256 + octets[7]) * 256 + octets[8]
    local width = high > 0 and 32 + bit_length(high) or bit_length(low)
    if width == 0 or width > 53 then
        raise(reader, 204, true)
    end
    if exponent < -1023 or exponent > 1024 then
        raise(reader, 204, true)
    end
    local mantissa = high * TWO32 + low
    local normal = mantissa * 2 ^ (53 - width) -- 2^52 <= normal < 2^53
    local fraction = normal - 2 ^ 52
    local value
    if exponent == -1023 then
        value = math.ldexp(fraction, -1074)
    elseif exponent == 1024 then
        value = fraction == 0 and math.huge or positive_nan()
    else
        value = math.ldexp(normal, exponent - 52)
    end
    if negative then
        value = -value
    end
    return value
end

-- Base-128 number of a relative object; wraps at 32 bits.
local function read_base128(reader, content, at)
    local number = 0
    while true do
        if at > #content then
            raise(reader, 1, false)
        end
        local octet = content:byte(at)
        at = at + 1
        number = (number * 128 + band(octet, 0x7F)) % TWO32
        if octet < 0x80 then
            return number, at
        end
    end
end

local function is_leap(year)
    return (year % 4 == 0 and year % 100 ~= 0) or year % 400 == 0
end

local DAYS_IN_MONTH = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 }

-- The time text "%04d%02d%02d%02d%02d%02d.%dZ" read the way scanf reads it;
-- a time that names no valid UTC time reads as 0 (1601-01-01).
local function render_time(content)
    local text = content:sub(1, 31)
    local nul = text:find("\0", 1, true)
    if nul then
        text = text:sub(1, nul - 1)
    end
    local at = 1
    local function integer(width)
        while true do
            local c = text:sub(at, at)
            if c == " " or c == "\t" or c == "\n" or c == "\v" or c == "\f" or c == "\r" then
                at = at + 1
            else
                break
            end
        end
        local taken, negative = 0, false
        local sign = text:sub(at, at)
        if sign == "+" or sign == "-" then
            negative = sign == "-"
            at = at + 1
            taken = 1
        end
        local number, digits = 0, 0
        while width == 0 or taken < width do
            local c = text:byte(at)
            if not c or c < 48 or c > 57 then
                break
            end
            if number < 100000000000 then
                number = number * 10 + (c - 48)
            end
            at = at + 1
            taken = taken + 1
            digits = digits + 1
        end
        if digits == 0 then
            return nil
        end
        if number > 2147483647 then
            number = 2147483647
        end
        return negative and -number or number
    end
    local function literal(c)
        if text:sub(at, at) ~= c then
            return false
        end
        at = at + 1
        return true
    end
    local f = { 0, 0, 0, 0, 0, 0, 0 }
    local widths = { 4, 2, 2, 2, 2, 2 }
    local parsed = true
    for i = 1, 6 do
        local v = integer(widths[i])
        if v == nil then
            parsed = false
            break
        end
        f[i] = v
    end
    if parsed and literal(".") then
        local v = integer(0)
        if v ~= nil then
            f[7] = v
            literal("Z")
        end
    end
    local year, month, day, hour, minute, second, ms = f[1], f[2], f[3], f[4], f[5], f[6], f[7]
    local valid = year >= 1601 and year <= 30827 and month >= 1 and month <= 12 and day >= 1 and
        hour >= 0 and hour <= 23 and minute >= 0 and minute <= 59 and second >= 0 and
        second <= 59 and ms >= 0 and ms <= 999
    if valid then
        local days = DAYS_IN_MONTH[month]
        if month == 2 and is_leap(year) then
            days = 29
        end
        valid = day <= days
    end
    if not valid then
        year, month, day, hour, minute, second, ms = 1601, 1, 1, 0, 0, 0, 0
    end
    return string.format("%04d-%02d-%02dT%02d:%02d:%02d.%dZ", year, month, day, hour, minute,
        second, ms)
end

local HEX = {}
for octet = 0, 255 do
    HEX[string.char(octet)] = string.format("%02X", octet)
end

local function hex_text(content)
    return (content:gsub(".", HEX))
end

-- Makes the leaf of a value element: sets el.value (the value as a dump
-- writes it, without line breaks), el.text (a UTF8String's text) and
-- el.integer (a 32-bit Integer). False for a type the tree does not keep.
local function make_leaf(reader, el, content)
    local t = el.type
    local n = #content
    if t == 1 then
        if n == 0 then
            raise(reader, 201, true)
        end
        el.value = content:byte(1) ~= 0 and "true" or "false"
    elseif t == 2 then
        if n == 0 then
            raise(reader, 202, true)
        end
        if n <= 4 then
            el.integer = small_signed(content, 1, n)
            el.value = string.format("%d", el.integer)
        else
            el.value = i64_decimal(low64(content, 1, n))
        end
    elseif t == 4 then
        el.value = hex_text(content)
    elseif t == 9 then
        el.value = string.format("%f", decode_real(reader, content))
    elseif t == 12 then
        local nul = content:find("\0", 1, true)
        el.text = nul and content:sub(1, nul - 1) or content
        el.value = el.text
    elseif t == 13 then
        if n == 0 then
            raise(reader, 207, true)
        end
        local high, at = read_base128(reader, content, 1)
        local low = read_base128(reader, content, at)
        el.value = string.format("%08X%08X", high, low)
    elseif t == 24 then
        if n == 0 then
            raise(reader, 208, true)
        end
        el.value = render_time(content)
    else
        return false
    end
    return true
end

-- ---------------------------------------------------------------------------
-- What the reader keeps of a message: the elements the tree shows (at most
-- MAX_SHOWN_ELEMENTS, the rest counted) and, for the reports, only the open
-- containers. The reports are made as the elements arrive, in the order a
-- walk of the finished tree makes them: Set levels are counted from the
-- top, depth first, and the first one fills slot 1, which no report
-- carries.
-- ---------------------------------------------------------------------------

local MODE_WALK, MODE_SEARCH = 1, 2 -- how the reports look into a container

local function tag_key(octet, number)
    return band(octet, 0xC0) * TWO32 + number
end

-- A report of the open container `container`, for its first child with the
-- value tag, if that child is a leaf of the type `want`.
local function send_report(reader, container, want)
    local child = container.first_value
    if not child or child.container or child.type ~= want then
        return
    end
    local slots = reader.slots
    local numbers, value, kind
    if want == 2 then
        if child.integer == nil or container.under_no_integer then
            return
        end
        slots[6] = container.number
        numbers = { slots[2], slots[3], slots[4], slots[5], slots[6] }
        value, kind = string.format("%d", child.integer), "integer"
    else
        if child.text == nil then
            return
        end
        local number = container.number
        numbers = { slots[2], slots[3], slots[4], slots[5], number }
        if slots[2] ~= 0 and slots[3] ~= 0 and slots[4] == 0 then
            numbers[3], numbers[4], numbers[5] = number, 0, 0
        end
        slots[6] = numbers[5]
        value, kind = child.text:gsub(" ", "~"), "text"
    end
    local pieces = {}
    for i = 1, 5 do
        pieces[i] = string.format("%d", signed32(numbers[i]))
    end
    local path = table.concat(pieces, ",")
    local line = path .. "," .. value
    if kind == "text" then
        line = line .. " \n"
    end
    if #line < LINE_SIZE then
        reader.report_count = reader.report_count + 1
        if #reader.reports < MAX_SHOWN_REPORTS then
            reader.reports[#reader.reports + 1] = { line = line, path = path, value = value, kind = kind }
        end
    end
end

-- The reports' view of a node just linked into the open container
-- `parent`: counts a Set level, makes the report of a value, and returns
-- how the node's own children are looked at (nil: not at all).
local function report_step(reader, parent, node)
    local mode = parent.mode
    if mode == MODE_WALK and (node.octet == CLASS_APPLICATION or node.octet == CLASS_CONTEXT) then
        if not node.container then
            return nil
        end
        if node.type ~= TYPE_SEQUENCE then
            reader.set_count = reader.set_count + 1
            if reader.set_count <= 6 then
                reader.slots[reader.set_count] = node.number
            end
        end
        return MODE_WALK
    end
    if mode == nil or (mode == MODE_WALK and node.octet ~= CLASS_PRIVATE) then
        return nil
    end
    -- A private node under a walked container, or any node under a
    -- private one: a value search.
    if node.octet == CLASS_PRIVATE then
        return node.container and MODE_SEARCH or nil
    end
    if node.octet == CLASS_APPLICATION and node.number == TAG_VALUE and not node.container then
        if node.type == 2 or node.type == 12 then
            send_report(reader, parent, node.type)
        end
    end
    return nil
end

-- Shows element `el` (nil when not kept) under the open container.
local function show(reader, parent, el)
    local shown = parent.el
    if not shown then
        return
    end
    shown.count = shown.count + 1
    if el then
        shown.items[#shown.items + 1] = el
    else
        shown.hidden = shown.hidden + 1
    end
end

-- Links a new node into the open container: a root holds a child with the
-- aside tag out of its list; a Set refuses a second child of a tag. Returns
-- how the reports look into the node's children.
local function link_node(reader, node, el)
    reader.node_count = reader.node_count + 1
    if reader.node_count > MAX_MESSAGE_NODES then
        raise(reader, 114, true)
    end
    local parent = reader:top()
    show(reader, parent, el)
    if parent.is_root and node.octet == CLASS_APPLICATION and node.number == ASIDE_NUMBER then
        if el then
            el.held = "aside"
        end
        return nil
    end
    if parent.keys then
        local key = tag_key(node.octet, node.number)
        if parent.keys[key] then
            if el then
                el.held = "refused"
            end
            raise(reader, 1001, false)
        end
        parent.keys[key] = true
    end
    if node.octet == CLASS_APPLICATION and node.number == TAG_VALUE and not parent.first_value then
        parent.first_value = node
    end
    return report_step(reader, parent, node)
end

-- ---------------------------------------------------------------------------
-- The reader: one per direction of a connection
-- ---------------------------------------------------------------------------

local STATE_IDENTIFIER, STATE_LENGTH, STATE_CONTENT, STATE_TERMINATOR = 0, 1, 2, 3

local Reader = {}
Reader.__index = Reader

local function new_reader()
    local reader = setmetatable({}, Reader)
    reader.pos = -1 -- stream offset of the octet being read
    reader.match = 0
    reader.messages = 0
    reader:reset()
    return reader
end

-- Forgets everything read so far (after an error or a gap).
function Reader:reset()
    self.stack = {}
    self:reset_item()
    self:start_field(STATE_IDENTIFIER)
    self.message_octets = 0
    self.root = nil
    self.node_count = 0
    self.shown = 0
    self.message = nil
    self.reports, self.report_count = {}, 0
    self.slots, self.set_count = { 0, 0, 0, 0, 0, 0 }, 0
    -- The octets of the message read so far: pieces of earlier segments
    -- (`chunks`, each starting at stream offset `bases[k]`) and of the
    -- current segment from index `fed_from` of `payload` on.
    self.chunks, self.bases = {}, {}
    self.fed_from = 1
end

function Reader:reset_item()
    self.outer_octet = nil
    self.outer_number = nil
    self.type = 0
    self.constructed = false
    self.content_length = 0
    self.item = nil
end

function Reader:start_field(state)
    self.field = {}
    self.state = state
    self.count = 0
    self.expected = 0
    self.field_start = self.pos + 1
end

-- The message's octets from stream offset `from` to `to` (in the segment
-- being read).
function Reader:octets(from, to)
    local payload_base = self.payload_offset - 1
    local tail = self.payload:sub(math.max(from - payload_base, self.fed_from), to - payload_base)
    if from >= payload_base + self.fed_from then
        return tail
    end
    local pieces = { tail }
    for k = #self.chunks, 1, -1 do
        local base = self.bases[k]
        if base <= from then
            pieces[#pieces + 1] = self.chunks[k]:sub(from - base + 1)
            break
        end
        pieces[#pieces + 1] = self.chunks[k]
    end
    local count = #pieces
    for k = 1, math.floor(count / 2) do
        pieces[k], pieces[count - k + 1] = pieces[count - k + 1], pieces[k]
    end
    return table.concat(pieces)
end

-- Keeps the current segment's octets of an open message for later ones.
function Reader:keep_segment()
    local n = #self.payload
    if self.fed_from <= n then
        self.chunks[#self.chunks + 1] = self.payload:sub(self.fed_from)
        self.bases[#self.bases + 1] = self.payload_offset + self.fed_from - 1
    end
end

local function identifier_of(field)
    local first = field[1]
    local number = band(first, 0x1F)
    if number == 0x1F then
        number = 0
        for i = 2, #field do
            number = (number * 128 + band(field[i], 0x7F)) % TWO32
        end
    end
    return band(first, 0xE0), number
end

local function length_of(field)
    local first = field[1]
    if first < 0x80 then
        return first
    end
    if first == 0x80 then
        return INDEFINITE
    end
    local length = 0
    for i = 2, #field do
        length = (length * 256 + field[i]) % TWO32
    end
    return length
end

function Reader:top()
    return self.stack[#self.stack]
end

function Reader:check_fits(needed)
    local top = self:top()
    if top and top.declared ~= INDEFINITE and top.consumed + needed > top.declared then
        raise(self, 106, true)
    end
end

function Reader:on_identifier(octet)
    if octet == 0 and self.count == 0 and not self.outer_octet then
        self:start_field(STATE_TERMINATOR)
        self.terminator_start = self.pos
        return false
    end
    if self.count >= MAX_IDENTIFIER_OCTETS then
        raise(self, 103, true)
    end
    local complete
    if self.count == 0 then
        complete = band(octet, 0x1F) ~= 0x1F
    else
        complete = octet < 0x80
    end
    if not complete then
        self.count = self.count + 1
        return false
    end
    local bits, number = identifier_of(self.field)
    local item = self.item
    if not self.outer_octet then
        item = { start = self.field_start, id_end = self.pos }
        self.item = item
        self.outer_octet, self.outer_number = bits, number
        if band(bits, 0xC0) == CLASS_UNIVERSAL then
            raise(self, 107, true)
        end
        if band(bits, CONSTRUCTED) == 0 then
            raise(self, 108, true)
        end
        self.outer_octet = band(bits, 0xC0)
    else
        item.type_start, item.type_end = self.field_start, self.pos
        self.type = number
        self.constructed = band(bits, CONSTRUCTED) ~= 0
        if band(bits, 0xC0) ~= CLASS_UNIVERSAL then
            raise(self, 110, true)
        end
        if number == 0 or number > MAX_BER_TYPE then
            raise(self, 109, true)
        end
    end
    self:start_field(STATE_LENGTH)
    return false
end

-- The element just read, as the tree shows it; nil once the message shows
-- MAX_SHOWN_ELEMENTS below its root.
local function new_element(reader, container)
    if reader.root then
        if reader.shown >= MAX_SHOWN_ELEMENTS then
            return nil
        end
        reader.shown = reader.shown + 1
    end
    local item = reader.item
    return {
        octet = reader.outer_octet, number = reader.outer_number, type = reader.type,
        constructed = reader.constructed, container = container,
        start = item.start, id_end = item.id_end,
        outer_length = item.outer_length, outer_length_start = item.outer_length_start,
        outer_length_end = item.outer_length_end, type_start = item.type_start,
        type_end = item.type_end, length = reader.content_length,
        length_start = item.length_start, length_end = item.length_end,
    }
end

-- Opens a container; what the stack keeps of it is all the reader needs.
function Reader:on_container_opened(length)
    local octet, number, kind = self.outer_octet, self.outer_number, self.type
    local el = new_element(self, true)
    if el then
        el.items, el.count, el.hidden = {}, 0, 0
    end
    local open = {
        octet = octet, number = number, type = kind, declared = length, consumed = 0, el = el,
        is_root = kind == TYPE_SEQUENCE and octet == CLASS_APPLICATION and number == ROOT_NUMBER,
    }
    if kind ~= TYPE_SEQUENCE then
        open.keys = {}
    end
    if el then
        el.is_root = open.is_root
    end
    if not self.root then
        self.root = el
        self.node_count = 1
        open.mode = MODE_WALK
    else
        local parent = self:top()
        open.under_no_integer = parent.octet == CLASS_APPLICATION and parent.number == TAG_NO_INTEGER_REPORT
        open.mode = link_node(self, { octet = octet, number = number, type = kind, container = true }, el)
    end
    self.stack[#self.stack + 1] = open
end

function Reader:on_length(octet)
    if self.expected == 0 then
        self.expected = octet >= 0x80 and (octet - 0x80 + 1) or 1
        if self.expected > MAX_LENGTH_OCTETS then
            raise(self, 104, true)
        end
    end
    self.count = self.count + 1
    if self.count ~= self.expected then
        return false
    end
    local length = length_of(self.field)
    local item = self.item
    if self.type == 0 then
        item.outer_length, item.outer_length_start, item.outer_length_end = length, self.field_start, self.pos
        if length == 0 then
            raise(self, 102, true)
        end
        self:start_field(STATE_IDENTIFIER)
        return false
    end
    item.length_start, item.length_end = self.field_start, self.pos
    self.content_length = length
    if self.constructed then
        self:check_fits(length == INDEFINITE and 4 or length)
        if #self.stack >= MAX_DEPTH then
            raise(self, 111, true)
        end
        self:start_field(STATE_IDENTIFIER)
        self:on_container_opened(length)
        self:reset_item()
        return length == 0
    end
    if length == 0 then
        return self:complete_value()
    end
    if length == INDEFINITE then
        raise(self, 112, true)
    end
    if length > MAX_CONTENT then
        raise(self, 113, true)
    end
    self:check_fits(length)
    self:start_field(STATE_CONTENT)
    self.expected = length
    return false
end

function Reader:complete_value()
    local content = ""
    local content_start = nil
    if self.content_length > 0 then
        content_start = self.pos - self.content_length + 1
        content = self:octets(content_start, self.pos)
    end
    local node = { octet = self.outer_octet, number = self.outer_number, type = self.type, container = false }
    local el = new_element(self, false)
    if el then
        el.content_start = content_start
        el.finish = self.pos
    end
    self.state = STATE_IDENTIFIER
    self.count, self.expected = 0, 0
    if make_leaf(self, node, content) then
        if el then
            el.value = node.value
        end
        node.value = nil
        link_node(self, node, el)
    else
        if el then
            el.held = "not kept"
        end
        show(self, self:top(), el)
    end
    self:reset_item()
    self:start_field(STATE_IDENTIFIER)
    return true
end

function Reader:on_terminator(octet)
    local top = self:top()
    if not top or top.declared ~= INDEFINITE then
        raise(self, 105, true)
    end
    if octet ~= 0 then
        raise(self, 101, true)
    end
    self.count = self.count + 1
    if self.count < 3 then
        return false
    end
    top.declared = top.consumed
    if top.el then
        top.el.terminator = self.terminator_start
    end
    return true
end

-- Closes the top container; true when it was the message's root.
function Reader:close_top()
    self:start_field(STATE_IDENTIFIER)
    local closed = table.remove(self.stack)
    self.outer_octet, self.outer_number = closed.octet, closed.number
    self.type = closed.type
    self.content_length = closed.declared
    self.constructed = true
    local parent = self:top()
    if parent and parent.declared ~= INDEFINITE and parent.consumed + closed.declared > parent.declared then
        raise(self, 106, true)
    end
    if closed.el then
        closed.el.finish = self.pos
    end
    if parent then
        parent.consumed = parent.consumed + closed.declared
    else
        self.message_octets = 0
    end
    self:reset_item()
    return parent == nil
end

-- One octet for the octet machine; true when it completed the message.
function Reader:feed(octet)
    local state, done = self.state, false
    if state ~= STATE_CONTENT then
        self.field[#self.field + 1] = octet
    end
    local top = self:top()
    if top then
        top.consumed = top.consumed + 1
        self.message_octets = self.message_octets + 1
        if self.message_octets > MAX_MESSAGE_OCTETS then
            raise(self, 114, true)
        end
    end
    if state == STATE_IDENTIFIER then
        done = self:on_identifier(octet)
    elseif state == STATE_LENGTH then
        done = self:on_length(octet)
    elseif state == STATE_CONTENT then
        self.count = self.count + 1
        if self.count == self.expected then
            done = self:complete_value()
        end
    else
        done = self:on_terminator(octet)
    end
    top = self:top()
    if not done and top and top.consumed >= top.declared then
        raise(self, 106, true)
    end
    local finished = false
    while true do
        top = self:top()
        if not top or top.consumed < top.declared then
            break
        end
        if self:close_top() then
            finished = true
        end
    end
    return finished
end

-- Takes up to `available` octets of a value's content at once but its last
-- one, which `feed` reads; returns how many. The octets only count: the
-- content was checked to fit its container when its length was read.
function Reader:skip_content(available)
    local take = math.min(self.expected - self.count - 1, available)
    take = math.min(take, MAX_MESSAGE_OCTETS - self.message_octets)
    if take <= 0 then
        return 0
    end
    local top = self:top()
    top.consumed = top.consumed + take
    self.message_octets = self.message_octets + take
    self.count = self.count + take
    return take
end

-- ---------------------------------------------------------------------------
-- Streams: per connection and direction, the reader and what each frame
-- holds
-- ---------------------------------------------------------------------------

local streams = {} -- connection and direction -> { reader, next_seq, offset }
local frames = {} -- frame number -> what the frame holds
local waiting = {} -- connection and direction -> start octets matched by the heuristic

-- A message or broken-off message just read: what a frame keeps of it is
-- small; the tree and the reports are kept only until the frame has been
-- shown once (a later showing reads the message's octets again). The octets
-- are kept only for a message that began in an earlier segment.
local function finish_message(reader, kind, at)
    local message = reader.message
    message.finish = at
    message.kind = kind
    message.root = reader.root
    message.reports, message.report_count = reader.reports, reader.report_count
    if message.start < reader.payload_offset then
        message.octets = reader:octets(message.start, at)
    end
    return message
end

-- Feeds a segment's octets (the stream offset of the first is `offset`) and
-- returns the records of this segment, in stream order.
local function feed_segment(reader, payload, offset)
    local records = {}
    local n = #payload
    reader.payload, reader.payload_offset = payload, offset
    reader.fed_from = 1
    local skipped_from = nil

    local function note_skipped(to)
        if skipped_from and skipped_from <= to then
            records[#records + 1] = { kind = "skipped", start = skipped_from, finish = to }
        end
        skipped_from = nil
    end

    local i = 1
    while i <= n do
        local ok, err = pcall(function()
            while i <= n do
                if reader.match < 0 and reader.state == STATE_CONTENT then
                    i = i + reader:skip_content(n - i)
                end
                local octet = payload:byte(i)
                local at = offset + i - 1
                i = i + 1
                if reader.match >= 0 then
                    if octet ~= START[reader.match + 1] then
                        -- the octets of a broken match and this one are skipped
                        local from = at - reader.match
                        if from < offset then
                            from = offset
                        end
                        skipped_from = skipped_from or from
                        reader.match = 0
                    else
                        reader.match = reader.match + 1
                        if reader.match == #START then
                            reader.match = -1
                            local start = at - #START + 1
                            note_skipped(start - 1)
                            reader.messages = reader.messages + 1
                            reader.message = { number = reader.messages, start = start }
                            reader.chunks, reader.bases = { START_TEXT }, { start }
                            reader.fed_from = i
                            reader.pos = start - 1
                            reader:start_field(STATE_IDENTIFIER)
                            for k = 1, #START do
                                reader.pos = start + k - 1
                                reader:feed(START[k])
                            end
                        end
                    end
                else
                    reader.pos = at
                    if reader:feed(octet) then
                        local message = finish_message(reader, "message", at)
                        records[#records + 1] = message
                        reader:reset()
                        reader.match = 0
                    end
                end
            end
        end)
        if not ok then
            if type(err) ~= "table" or not err.korvane_error then
                error(err, 0)
            end
            local message = finish_message(reader, "error", reader.pos)
            message.code, message.text = err.code, err.message
            records[#records + 1] = message
            reader:reset()
            reader.match = 0
        end
    end
    -- What is left open at the end of the segment.
    local tail = offset + n - 1
    if reader.match > 0 then
        note_skipped(tail - reader.match)
        local from = math.max(offset, tail - reader.match + 1)
        records[#records + 1] = { kind = "prefix", start = from, finish = tail, matched = reader.match }
    elseif reader.match == 0 then
        note_skipped(tail)
    else
        local message = reader.message
        records[#records + 1] = {
            kind = "partial", number = message.number, start = message.start, finish = tail,
        }
        reader:keep_segment()
    end
    reader.payload = nil
    table.sort(records, function(a, b)
        return a.start < b.start
    end)
    return records
end

-- Reads one message again from its octets, for a frame shown once more:
-- its tree and reports.
local function reread(record, octets)
    local reader = new_reader()
    for _, again in ipairs(feed_segment(reader, octets, record.start)) do
        if again.kind == record.kind and again.finish == record.finish then
            return again.root, again.reports
        end
    end
    return nil, {}
end
-- ---------------------------------------------------------------------------
-- Display
-- ---------------------------------------------------------------------------

local function length_text(length)
    if length == INDEFINITE then
        return "indefinite"
    end
    return string.format("definite, %d octets", length)
end

-- A length field: its value, or "indefinite" (kept as 4294967295).
local function add_length(tree, field, name, range, length)
    local item = tree:add(field, range, length)
    if length == INDEFINITE then
        item:set_text(name .. ": indefinite")
    end
end

local function element_label(el)
    local tag = tag_text(el.octet, el.number)
    local name = TYPE_NAMES[el.type] or "?"
    local label
    if el.is_root and el.finish and el.count == 0 then
        label = tag .. " Sequence: empty root"
    elseif el.container then
        label = string.format("%s %s (%d element%s, %s)", tag, name, el.count,
            el.count == 1 and "" or "s", length_text(el.length))
    else
        label = string.format("%s %s: %s", tag, name, el.value or "")
    end
    if el.held then
        label = label .. " [" .. el.held .. "]"
    end
    return label
end

local function add_element(parent_tree, mtvb, base, el, limit)
    local first = el.start - base
    local last = (el.finish or limit) - base
    local tree = parent_tree:add(pf.element, mtvb:range(first, last - first + 1), tag_text(el.octet, el.number))
    tree:set_text(element_label(el))
    tree:add(pf.tag, mtvb:range(first, el.id_end - el.start + 1), tag_text(el.octet, el.number))
    if el.outer_length_start then
        add_length(tree, pf.outer_length, "Outer length", mtvb:range(el.outer_length_start - base,
            el.outer_length_end - el.outer_length_start + 1), el.outer_length)
    end
    if el.type_start then
        local t = tree:add(pf.type, mtvb:range(el.type_start - base, el.type_end - el.type_start + 1), el.type)
        t:append_text(el.constructed and ", constructed" or ", primitive")
        tree:add(pf.constructed, mtvb:range(el.type_start - base, 1), el.constructed)
    end
    if el.length_start then
        add_length(tree, pf.length, "Inner length",
            mtvb:range(el.length_start - base, el.length_end - el.length_start + 1), el.length)
    end
    if el.held then
        tree:add(pf.held, mtvb:range(first, last - first + 1), el.held)
    end
    if el.container then
        for _, child in ipairs(el.items) do
            add_element(tree, mtvb, base, child, limit)
        end
        if el.hidden > 0 then
            local item = tree:add(pf.not_shown, mtvb:range(first, last - first + 1), el.hidden)
            item:set_text(string.format("%d more element%s not shown (a message shows %d)", el.hidden,
                el.hidden == 1 and "" or "s", MAX_SHOWN_ELEMENTS))
        end
        if el.terminator then
            tree:add(pf.terminator, mtvb:range(el.terminator - base, 4))
        end
    elseif el.value then
        local range
        if el.content_start then
            range = mtvb:range(el.content_start - base, el.finish - el.content_start + 1)
        else
            range = mtvb:range(el.length_start - base, el.length_end - el.length_start + 1)
        end
        tree:add(pf.element_value, range, el.value)
    end
end

-- The tvb holding a whole message: the frame's own octets when the message
-- lies in this segment, else the reassembled octets.
local function message_tvb(tvb, record, offset)
    local first = record.start - offset
    if first >= 0 and record.finish - offset < tvb:len() then
        return tvb:range(first, record.finish - record.start + 1):tvb(), true
    end
    return ByteArray.new(record.octets, true):tvb("Korvane message " .. record.number), false
end

local function clip_range(tvb, record, offset)
    local first = math.max(record.start, offset) - offset
    local last = math.min(record.finish, offset + tvb:len() - 1) - offset
    return tvb:range(first, last - first + 1)
end

local function show_record(tvb, pinfo, tree, record, offset, keepalive_side, infos)
    if record.kind == "skipped" then
        local item = tree:add(pf.skipped, clip_range(tvb, record, offset))
        item:add_proto_expert_info(ef.skipped,
            string.format("%d octets outside any message (skipped until a message start)",
                record.finish - record.start + 1))
        infos[#infos + 1] = string.format("[%d octets skipped]", record.finish - record.start + 1)
        return
    end
    if record.kind == "prefix" then
        local item = tree:add(pf.fragment, clip_range(tvb, record, offset))
        item:set_text(string.format("Message start sequence, %d of 9 octets so far", record.matched))
        infos[#infos + 1] = "[message start]"
        return
    end
    if record.kind == "partial" then
        local item = tree:add(pf.fragment, clip_range(tvb, record, offset))
        item:set_text(string.format("Message %d continues: octets %d to %d of it", record.number,
            math.max(record.start, offset) - record.start, record.finish - record.start))
        infos[#infos + 1] = string.format("[message %d continues]", record.number)
        return
    end

    local mtvb, local_octets = message_tvb(tvb, record, offset)
    local root, reports = record.root, record.reports
    if not root then
        root, reports = reread(record, mtvb:raw())
    end
    local whole = record.kind == "message"
    local empty = whole and root ~= nil and root.count == 0
    local kind
    if not whole then
        kind = "broken off"
    elseif empty then
        kind = keepalive_side and "keep-alive" or "empty root"
    else
        kind = "message"
    end
    local range = local_octets and mtvb:range() or clip_range(tvb, record, offset)
    local mtree = tree:add(pf.message, range, record.number)
    local title
    if kind == "keep-alive" then
        title = string.format("Message %d: keep-alive (empty root, 13 octets)", record.number)
    elseif kind == "empty root" then
        title = string.format("Message %d: empty root (13 octets)", record.number)
    elseif whole then
        title = string.format("Message %d: %d octets, %d report%s", record.number, record.finish - record.start + 1,
            record.report_count, record.report_count == 1 and "" or "s")
    else
        title = string.format("Message %d: broken off after %d octets, error %d", record.number,
            record.finish - record.start + 1, record.code)
    end
    if not local_octets then
        title = title .. " (reassembled)"
    end
    mtree:set_text(title)
    mtree:add(pf.kind, range, kind)

    if root then
        add_element(mtree, mtvb, record.start, root, record.finish)
    end
    if whole then
        for _, report in ipairs(reports) do
            local rtree = mtree:add(pf.report, mtvb:range(), report.line)
            rtree:set_text("Report: " .. report.line:gsub("\n", "\\n"))
            rtree:add(pf.path, mtvb:range(), report.path)
            rtree:add(pf.value, mtvb:range(), report.value)
            rtree:add(pf.value_type, mtvb:range(), report.kind)
            infos[#infos + 1] = report.line:gsub("\n", "\\n")
        end
        if #reports < record.report_count then
            local hidden = record.report_count - #reports
            local item = mtree:add(pf.not_shown, mtvb:range(), hidden)
            item:set_text(string.format("%d more report%s not shown (a message shows %d)", hidden,
                hidden == 1 and "" or "s", MAX_SHOWN_REPORTS))
            infos[#infos + 1] = string.format("[%d more reports]", hidden)
        end
        if empty then
            infos[#infos + 1] = kind == "keep-alive" and "Keep-alive" or "Empty root"
        elseif record.report_count == 0 then
            infos[#infos + 1] = "Message (no report)"
        end
    else
        local at = mtvb:range(record.finish - record.start, 1)
        local etree = mtree:add(pf.error_code, at, record.code)
        etree:set_text(string.format("Error %d: %s", record.code, record.text))
        etree:add(pf.error_message, at, record.text)
        etree:add_proto_expert_info(ef.error, string.format("Error %d: %s", record.code, record.text))
        infos[#infos + 1] = string.format("Error %d: %s", record.code, record.text)
    end
end

local function stream_key(pinfo, stream)
    return string.format("%s|%s:%d>%s:%d", tostring(stream), tostring(pinfo.src), pinfo.src_port,
        tostring(pinfo.dst), pinfo.dst_port)
end

-- Which side is the console: the side on the configured port, else the
-- side on the lower port (the partner connects from an ephemeral one).
local function from_console(pinfo)
    if pinfo.src_port == korvane.prefs.port then
        return true
    end
    if pinfo.dst_port == korvane.prefs.port then
        return false
    end
    return pinfo.src_port < pinfo.dst_port
end

-- The state of one direction of a connection; made when it is first read.
local function stream_state(key)
    local state = streams[key]
    if not state then
        state = { reader = new_reader(), next_seq = nil, offset = 0 }
        streams[key] = state
        -- Start octets the heuristic met in earlier segments.
        state.reader.match = waiting[key] or 0
    end
    return state
end

-- Reads a segment of a direction: `payload` holds its captured octets,
-- `seq` is the sequence number of the first (nil without one), `reported`
-- how many octets it had on the wire. Octets read before (a retransmission,
-- also one that overlaps what was read) are skipped, missing ones reported.
local function read_segment(state, payload, seq, reported)
    local captured = #payload
    local frame = { offset = nil, records = {}, gap = nil }
    local skip = 0
    if seq and state.next_seq then
        if seq + captured <= state.next_seq then
            skip = captured -- a retransmission of octets already read
        elseif seq < state.next_seq then
            skip = state.next_seq - seq
        elseif seq > state.next_seq then
            frame.gap = seq - state.next_seq
        end
    end
    if frame.gap then
        -- Octets are missing: whatever was being read cannot be completed.
        state.reader:reset()
        state.reader.match = 0
        state.offset = state.offset + frame.gap
    end
    frame.offset = state.offset - skip
    if skip < captured then
        frame.records = feed_segment(state.reader, skip > 0 and payload:sub(skip + 1) or payload, state.offset)
        state.offset = state.offset + captured - skip
    end
    if captured < reported then
        -- The rest of the segment was not captured: drop what was read.
        frame.truncated = reported - captured
        state.reader:reset()
        state.reader.match = 0
        state.offset = state.offset + frame.truncated
    end
    if seq and (not state.next_seq or seq + reported > state.next_seq) then
        state.next_seq = seq + reported
    end
    return frame
end

-- Shows what a frame holds; the trees and reports of its messages are
-- dropped afterwards (they are read again if the frame is shown again).
local function show_frame(tvb, pinfo, tree, frame, console_side)
    local captured = tvb:len()
    local ptree = tree:add(korvane, tvb:range(0, captured))
    ptree:add(pf.direction, tvb:range(0, captured), console_side and "console to partner" or "partner to console")
    if frame.gap then
        ptree:add_proto_expert_info(ef.gap,
            string.format("%d octets of the stream are missing before this segment; the message being read is dropped", frame.gap))
    end
    local infos = {}
    for _, record in ipairs(frame.records) do
        show_record(tvb, pinfo, ptree, record, frame.offset, console_side, infos)
        record.root, record.reports = nil, nil
    end
    if frame.truncated then
        ptree:add_proto_expert_info(ef.gap,
            string.format("%d octets of this segment were not captured; the message being read is dropped", frame.truncated))
        infos[#infos + 1] = "[segment not fully captured]"
    end
    return (console_side and "Console: " or "Partner: ") .. table.concat(infos, " | ")
end

function korvane.dissector(tvb, pinfo, tree)
    local field = f_tcp_stream()
    local stream = field and field.value or 0
    local console_side = from_console(pinfo)
    local captured = tvb:len()
    if captured == 0 then
        return 0
    end
    pinfo.cols.protocol = "Korvane"

    local frame = frames[pinfo.number]
    if not pinfo.visited and frame == nil then
        local state = stream_state(stream_key(pinfo, stream))
        local seq_field, length_field = f_tcp_seq(), f_tcp_len()
        local seq = seq_field and seq_field.value or nil
        if seq and length_field and length_field.value > tvb:reported_len() then
            -- TCP handed over the segment's end only (octets it had seen)
            seq = seq + length_field.value - tvb:reported_len()
        end
        frame = read_segment(state, tvb:raw(0, captured), seq, tvb:reported_len())
        frames[pinfo.number] = frame
    end
    if frame == nil or frame.late then
        return captured
    end
    pinfo.cols.info = show_frame(tvb, pinfo, tree, frame, console_side)
    return captured
end

-- A segment that repeats octets already seen but also brings new ones is
-- not handed to the dissector by TCP's sequence analysis; its new octets
-- are read here, from the TCP payload, after the frame.
function korvane_late.dissector(tvb, pinfo, tree)
    local frame = frames[pinfo.number]
    if not pinfo.visited and frame == nil then
        local payload, seq, length = f_tcp_payload(), f_tcp_seq(), f_tcp_len()
        local field = f_tcp_stream()
        if not (payload and seq and length) or length.value == 0 then
            return
        end
        local state = streams[stream_key(pinfo, field and field.value or 0)]
        if not state or not state.next_seq or seq.value + length.value <= state.next_seq then
            return
        end
        local range = payload.range
        frame = read_segment(state, range:raw(), seq.value, length.value)
        frame.late = { first = range:offset(), length = range:len() }
        frames[pinfo.number] = frame
    end
    if frame == nil or not frame.late then
        return
    end
    local range = tvb:range(frame.late.first, frame.late.length)
    pinfo.cols.protocol = "Korvane"
    pinfo.cols.info:append(" " .. show_frame(range:tvb(), pinfo, tree, frame, from_console(pinfo)))
end

function korvane.init()
    streams = {}
    frames = {}
    waiting = {}
end

-- Takes a connection once the start sequence has been seen on it (also when
-- it came in pieces over several segments), the way the reader waits for it.
local function heuristic(tvb, pinfo, tree)
    if not korvane.prefs.heuristic or tvb:len() == 0 then
        return false
    end
    local field = f_tcp_stream()
    local key = stream_key(pinfo, field and field.value or 0)
    if pinfo.visited then
        if frames[pinfo.number] == nil then
            return false
        end
    elseif streams[key] == nil then
        local matched = waiting[key] or 0
        local payload = tvb:raw(0, tvb:len())
        local found = false
        for i = 1, #payload do
            if payload:byte(i) ~= START[matched + 1] then
                matched = 0
            else
                matched = matched + 1
                if matched == #START then
                    found = true
                    break
                end
            end
        end
        if not found then
            waiting[key] = matched
            return false
        end
    end
    pinfo.conversation = korvane
    korvane.dissector(tvb, pinfo, tree)
    return true
end

local tcp_port = DissectorTable.get("tcp.port")
local registered_port = nil

local function register_port()
    if registered_port then
        tcp_port:remove(registered_port, korvane)
    end
    registered_port = korvane.prefs.port
    tcp_port:add(registered_port, korvane)
end

function korvane.prefs_changed()
    if korvane.prefs.port ~= registered_port then
        register_port()
    end
end

register_port()
tcp_port:add_for_decode_as(korvane)
korvane:register_heuristic("tcp", heuristic)
register_postdissector(korvane_late)
