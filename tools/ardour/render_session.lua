-- Renders a stereo WAV through one plugin on a track of a new Ardour session,
-- bounced with the track's processing, for ardour7-lua (dummy backend, no
-- display, no sound card):
--
--   ardour7-lua render_session.lua key=value...
--
--   input=IN.wav       stereo 32-bit float WAV; the session runs at its rate
--   output=OUT.wav     the track's output from where the input starts, 32-bit float WAV
--   session=DIR        the new session's folder (must not exist)
--   type=LV2|LXVST|VST3
--   plugin=ID          LV2 URI, or the name Ardour lists for a VST 2.x / VST3 plugin
--   preset=LABEL       optional: the preset (program) to load, as Ardour labels it
--   param=NAME=VALUE   optional, repeatable: a control by its label, as Ardour
--                      takes it: 0..1 for VST 2.x, the plain value for VST3
--                      (Ardour normalises it with the controller), the port
--                      value for LV2
--   block=N            engine block size (default 1024); the bounce runs in chunks of 8192
--   lead=SECONDS       silence through the plugin before the input (default 2)
--   tail=SECONDS       rendered after the input ends (default 2)
--   describe=1         list the plugin's controls and presets as Ardour sees them
--
-- Prints "block N", "loaded URI" and "param LABEL VALUE" lines for the caller;
-- with describe=1 "control INDEX LOWER UPPER DEFAULT FLAGS LABEL" for every
-- input control (flags: t toggled, e enumeration, i integer, l logarithmic,
-- - none) and "listed URI<TAB>LABEL" for every preset, and ends with "done";
-- any failure ends in "FAILED: why" and no output file.
--
-- ardour7-lua lists VST 2.x and VST3 plugins from the scanners' cache files
-- only: run /usr/lib/ardour7/ardour-vst-scanner or ardour-vst3-scanner on the
-- plugin in the same HOME/XDG_CACHE_HOME first (ArdourHost does).
--
-- The file reaches the track the way an import leaves it: a whole-file region
-- over two mono session sources, here at the lead's end. The Lua bindings
-- cannot import, so the script bounces silence of the input's length to get
-- that region, closes the session, writes the input's channels over the two
-- sources and opens the session again.
--
-- The output is the track bounced with its processing up to its main
-- outputs, not an export of the master bus: Ardour 7.3's export aborts now
-- and then in its port export channels (heap corruption, with Ardour's own
-- plugins too). A bounce runs the track's processors in the calling thread,
-- in chunks of 8192 samples, while the engine's processing is held off, and
-- plays no pre-roll: the lead is the silence an export plays first.

local function Fail(why)
  print("FAILED: " .. why)
  error(why, 0)
end

local opt = { param = {}, block = "1024", lead = "2", tail = "2" }
for _, a in ipairs(arg) do
  local key, value = a:match("^([%w_]+)=(.*)$")
  if not key then Fail("argument not key=value: " .. a) end
  if key == "param" then
    local name, v = value:match("^(.-)=([^=]+)$")
    if not name then Fail("param not NAME=VALUE: " .. value) end
    opt.param[#opt.param + 1] = { name = name, value = tonumber(v) or Fail("param value: " .. v) }
  else
    opt[key] = value
  end
end
for _, key in ipairs({ "input", "output", "session", "type", "plugin" }) do
  if not opt[key] then Fail("missing " .. key .. "=") end
end

-- WAV ----------------------------------------------------------------------

local function ReadFile(path)
  local f = io.open(path, "rb") or Fail("cannot read " .. path)
  local data = f:read("a")
  f:close()
  return data
end

-- Returns rate, frame count and the samples as raw little-endian floats, so
-- they reach the session and come back bit for bit.
local function ReadFloatWav(path, channels)
  local data = ReadFile(path)
  if data:sub(1, 4) ~= "RIFF" or data:sub(9, 12) ~= "WAVE" then Fail(path .. " is not a WAV file") end
  local pos, rate, pcm = 13, nil, nil
  while pos + 8 <= #data do
    local id, size = data:sub(pos, pos + 3), string.unpack("<I4", data, pos + 4)
    if id == "fmt " then
      local format, n, r, _, _, bits = string.unpack("<I2I2I4I4I2I2", data, pos + 8)
      if format == 0xFFFE then format = string.unpack("<I2", data, pos + 8 + 24) end
      if format ~= 3 or n ~= channels or bits ~= 32 then Fail(path .. " is not " .. channels .. "-channel 32-bit float") end
      rate = r
    elseif id == "data" then
      pcm = data:sub(pos + 8, pos + 8 + size - 1)
    end
    pos = pos + 8 + size + (size % 2)
  end
  if not rate or not pcm then Fail(path .. " has no format or no data") end
  return rate, #pcm // (4 * channels), pcm
end

local function WriteFloatWav(path, rate, channels, pcm)
  local f = io.open(path, "wb") or Fail("cannot write " .. path)
  f:write("RIFF", string.pack("<I4", 36 + #pcm), "WAVE",
          "fmt ", string.pack("<I4I2I2I4I4I2I2", 16, 3, channels, rate, rate * 4 * channels, 4 * channels, 32),
          "data", string.pack("<I4", #pcm), pcm)
  f:close()
end

local function Deinterleave(pcm, frames)
  local left, right = {}, {}
  for f = 0, frames - 1 do
    left[f + 1] = pcm:sub(8 * f + 1, 8 * f + 4)
    right[f + 1] = pcm:sub(8 * f + 5, 8 * f + 8)
  end
  return table.concat(left), table.concat(right)
end

local function Interleave(left, right, first, frames)
  local frame = {}
  for f = first, first + frames - 1 do frame[#frame + 1] = left:sub(4 * f + 1, 4 * f + 4) .. right:sub(4 * f + 1, 4 * f + 4) end
  return table.concat(frame)
end

-- Ardour tears down what a session owns when it closes, and a Lua reference
-- to one of its objects collected after that reads freed memory: callers drop
-- theirs, and the garbage goes before the session does.
local function CloseSession()
  collectgarbage()
  close_session()
end

-- Session ------------------------------------------------------------------

local kTypes = { LV2 = ARDOUR.PluginType.LV2, LXVST = ARDOUR.PluginType.LXVST, VST3 = ARDOUR.PluginType.VST3 }
local pluginType = kTypes[opt.type] or Fail("type must be LV2, LXVST or VST3")
local rate, frames, input = ReadFloatWav(opt.input, 2)
local block = math.tointeger(tonumber(opt.block)) or Fail("block=" .. opt.block)
local lead = math.floor(tonumber(opt.lead) * rate + 0.5)
local tail = math.floor(tonumber(opt.tail) * rate + 0.5)
local dir, name = opt.session, "proof"

local backend = AudioEngine:set_backend("None (Dummy)", "", "") or Fail("no dummy backend")
backend:set_buffer_size(block)

-- Phase 1: a track holding a whole-file region of the input's length.
if not create_session(dir, name, rate) then Fail("cannot create the session") end
local track = Session:new_audio_track(2, 2, nil, 1, "Proof", ARDOUR.PresentationInfo.max_order,
                                      ARDOUR.TrackMode.Normal, true):front()
local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false, "input")
if region:isnil() or region:length():samples() ~= frames then Fail("cannot make the region") end
track:playlist():add_region(region, Temporal.timepos_t(lead), 1, false, 0, 0, false)
local sources = {}
for source in region:master_sources():iter() do sources[#sources + 1] = source:to_filesource():path() end
if #sources ~= 2 then Fail("the region has " .. #sources .. " sources") end
Session:save_state("", false, false, false, false, false)
track, region = nil, nil
CloseSession()

local left, right = Deinterleave(input, frames)
WriteFloatWav(sources[1], rate, 1, left)
WriteFloatWav(sources[2], rate, 1, right)

-- Phase 2: the plugin on the track, everything between file and plugin output at unity.
if not load_session(dir, name) then Fail("cannot load the session") end
print("block " .. Session:get_block_size())
Session:cfg():set_use_region_fades(false)

track = Session:route_by_name("Proof"):to_track()
for r in track:playlist():region_list():iter() do
  local audioRegion = r:to_audioregion()
  audioRegion:set_fade_in_active(false)
  audioRegion:set_fade_out_active(false)
  audioRegion:set_envelope_active(false)
  audioRegion:set_scale_amplitude(1)
end
track:gain_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
track:trim_control():set_value(1, PBD.GroupControlDisposition.NoGroup)

local proc = ARDOUR.LuaAPI.new_plugin(Session, opt.plugin, pluginType, "")
if proc:isnil() then Fail("Ardour does not list " .. opt.type .. " plugin '" .. opt.plugin .. "'") end
if track:add_processor_by_index(proc, 0, nil, true) ~= 0 then Fail("cannot add the plugin to the track") end
local plugin = proc:to_insert():plugin(0)

-- VST 2.x and VST3 factory presets are numbered URIs; LV2 presets are listed
-- by lilv without loading the plugin.
local function ListPresets()
  if pluginType == ARDOUR.PluginType.LV2 then
    for preset in plugin:get_info():get_presets(false):iter() do print("listed " .. preset.uri .. "\t" .. preset.label) end
    return
  end
  local prefix = (pluginType == ARDOUR.PluginType.VST3 and "VST3-P:" or "VST:") .. plugin:unique_id() .. ":"
  for i = 0, 9999 do
    local preset = plugin:preset_by_uri(string.format("%s%04d", prefix, i))
    if not preset or not preset.valid then break end
    print("listed " .. preset.uri .. "\t" .. preset.label)
  end
end

if opt.describe == "1" then
  for i = 0, plugin:parameter_count() - 1 do
    local index, refs = plugin:nth_parameter(i, true)
    if refs[2] and plugin:parameter_is_input(index) then
      local _, d = plugin:get_parameter_descriptor(index, ARDOUR.ParameterDescriptor())
      local desc = d[2]
      local flags = (desc.toggled and "t" or "") .. (desc.enumeration and "e" or "") ..
                    (desc.integer_step and "i" or "") .. (desc.logarithmic and "l" or "")
      print(string.format("control %d %.9g %.9g %.9g %s %s", i, desc.lower, desc.upper, desc.normal,
                          flags == "" and "-" or flags, plugin:parameter_label(index)))
    end
  end
  ListPresets()
end

-- A bounce begins by suspending and resuming a VST 2.x plugin to give it its
-- chunk size, and a plugin may reset on a resume. So from here on only the
-- bounce runs the plugin: the track leaves the engine's processing (Ardour
-- resets its plugins on the way), and the program and parameters set below
-- reach the plugin in the bounce's first block, with any reset, as they reach
-- one just started.
track:to_route():set_active(false, nil)

if opt.preset then
  local preset = plugin:preset_by_label(opt.preset)
  if not preset or not preset.valid then Fail("no preset '" .. opt.preset .. "'") end
  if not plugin:load_preset(preset) then Fail("cannot load preset '" .. opt.preset .. "'") end
  print("loaded " .. preset.uri)
end

for _, p in ipairs(opt.param) do
  local found = false
  for i = 0, plugin:parameter_count() - 1 do
    local index, refs = plugin:nth_parameter(i, true)
    if refs[2] and plugin:parameter_is_input(index) and plugin:parameter_label(index) == p.name then
      ARDOUR.LuaAPI.set_processor_param(proc, i, p.value)
      print("param " .. p.name .. " " .. ARDOUR.LuaAPI.get_processor_param(proc, i))
      found = true
      break
    end
  end
  if not found then Fail("no parameter '" .. p.name .. "'") end
end

local bounced = track:bounce_range(0, lead + frames + tail, ARDOUR.InterThreadInfo(), track:main_outs(), false, "output")
if bounced:isnil() or bounced:length():samples() ~= lead + frames + tail then Fail("cannot bounce the track") end
local outputs = {}
for source in bounced:master_sources():iter() do
  local _, n, pcm = ReadFloatWav(source:to_filesource():path(), 1)
  if n ~= lead + frames + tail then Fail("the bounce has " .. n .. " frames") end
  outputs[#outputs + 1] = pcm
end
if #outputs ~= 2 then Fail("the bounce has " .. #outputs .. " channels") end
WriteFloatWav(opt.output, rate, 2, Interleave(outputs[1], outputs[2], lead, frames + tail))

track, proc, plugin, bounced = nil, nil, nil, nil
CloseSession()
print("done")
