-- Renders a stereo WAV through one plugin in a new Ardour session and exports
-- the master bus, for ardour7-lua (dummy backend, no display, no sound card):
--
--   ardour7-lua render_session.lua key=value...
--
--   input=IN.wav       stereo 32-bit float WAV; the session runs at its rate
--   output=OUT.wav     the master export, 32-bit float WAV
--   session=DIR        the new session's folder (must not exist)
--   type=LV2|LXVST|VST3
--   plugin=ID          LV2 URI, or the name Ardour lists for a VST 2.x / VST3 plugin
--   preset=LABEL       optional: the preset (program) to load, as Ardour labels it
--   param=NAME=VALUE   optional, repeatable: a control by its label, as Ardour
--                      takes it: 0..1 for VST 2.x, the plain value for VST3
--                      (Ardour normalises it with the controller), the port
--                      value for LV2
--   block=N            engine block size (default 1024)
--   tail=SECONDS       exported after the input ends (default 2)
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
-- at position 0 over two mono session sources. The Lua bindings cannot import,
-- so the script bounces silence of the input's length to get that region,
-- closes the session, writes the input's channels over the two sources and
-- opens the session again.

local function Fail(why)
  print("FAILED: " .. why)
  error(why, 0)
end

local opt = { param = {}, block = "1024", tail = "2" }
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

-- Returns rate, frame count and the two channels as raw little-endian floats,
-- so the samples reach the session bit for bit.
local function ReadStereoFloatWav(path)
  local data = ReadFile(path)
  if data:sub(1, 4) ~= "RIFF" or data:sub(9, 12) ~= "WAVE" then Fail(path .. " is not a WAV file") end
  local pos, rate, pcm = 13, nil, nil
  while pos + 8 <= #data do
    local id, size = data:sub(pos, pos + 3), string.unpack("<I4", data, pos + 4)
    if id == "fmt " then
      local format, channels, r, _, _, bits = string.unpack("<I2I2I4I4I2I2", data, pos + 8)
      if format == 0xFFFE then format = string.unpack("<I2", data, pos + 8 + 24) end
      if format ~= 3 or channels ~= 2 or bits ~= 32 then Fail(path .. " is not stereo 32-bit float") end
      rate = r
    elseif id == "data" then
      pcm = data:sub(pos + 8, pos + 8 + size - 1)
    end
    pos = pos + 8 + size + (size % 2)
  end
  if not rate or not pcm then Fail(path .. " has no format or no data") end
  local frames = #pcm // 8
  local left, right = {}, {}
  for f = 0, frames - 1 do
    left[f + 1] = pcm:sub(8 * f + 1, 8 * f + 4)
    right[f + 1] = pcm:sub(8 * f + 5, 8 * f + 8)
  end
  return rate, frames, table.concat(left), table.concat(right)
end

local function WriteMonoFloatWav(path, rate, samples)
  local f = io.open(path, "wb") or Fail("cannot write " .. path)
  f:write("RIFF", string.pack("<I4", 36 + #samples), "WAVE",
          "fmt ", string.pack("<I4I2I2I4I4I2I2", 16, 3, 1, rate, rate * 4, 4, 32),
          "data", string.pack("<I4", #samples), samples)
  f:close()
end

-- Export format: float at the session rate; no dither, normalisation,
-- silence trimming or padding, and no broadcast chunk.
local kFormatId = "6c1b7e52-3d0a-4f8e-9a57-0c51f3b2a8d4"
local kPresetId = "a2f4c6d8-1e3b-4c5d-8e7f-90a1b2c3d4e5"

local function WriteExportPreset()
  local dir = ARDOUR.LuaAPI.build_filename(ARDOUR.user_config_directory(-1), "export")
  os.execute("mkdir -p '" .. dir .. "'")
  local silence = [[
      <Trim enabled="false"/>
      <Add enabled="false"><Duration format="Timecode" hours="0" minutes="0" seconds="0" frames="0"/></Add>]]
  local format = io.open(dir .. "/proof-float.format", "w") or Fail("cannot write the export format")
  format:write([[<?xml version="1.0" encoding="UTF-8"?>
<ExportFormatSpecification name="Proof float" id="]] .. kFormatId .. [[" with-cue="false" with-toc="false" with-mp4chaps="false" command="" analyse="false" soundcloud-upload="false">
  <Encoding id="F_WAV" type="T_Sndfile" extension="wav" name="WAV" has-sample-format="true" channel-limit="256"/>
  <SampleRate rate="1"/>
  <SRCQuality quality="SRC_SincBest"/>
  <EncodingOptions>
    <Option name="sample-format" value="SF_Float"/>
    <Option name="dithering" value="D_None"/>
    <Option name="tag-metadata" value="false"/>
    <Option name="tag-support" value="false"/>
    <Option name="broadcast-info" value="false"/>
  </EncodingOptions>
  <Processing>
    <Normalize enabled="false" loudness="false" use-tp-limiter="false" dbfs="0" lufs="-23" dbtp="-1"/>
    <Silence>
      <Start>]] .. silence .. [[</Start>
      <End>]] .. silence .. [[</End>
    </Silence>
  </Processing>
</ExportFormatSpecification>
]])
  format:close()
  local preset = io.open(dir .. "/proof-float.preset", "w") or Fail("cannot write the export preset")
  preset:write([[<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="]] .. kPresetId .. [[" name="Proof float">
  <ExportFormat id="]] .. kFormatId .. [["/>
  <ExportFilename>
    <Folder relative="0" path=""/>
    <Field name="label" enabled="0"/>
    <Field name="session" enabled="0"/>
    <Field name="snapshot" enabled="0"/>
    <Field name="timespan" enabled="1"/>
    <Field name="revision" enabled="0"/>
    <Field name="time" enabled="0" value="T_None"/>
    <Field name="date" enabled="0" value="D_None"/>
  </ExportFilename>
</ExportPreset>
]])
  preset:close()
end

-- Session ------------------------------------------------------------------

local kTypes = { LV2 = ARDOUR.PluginType.LV2, LXVST = ARDOUR.PluginType.LXVST, VST3 = ARDOUR.PluginType.VST3 }
local pluginType = kTypes[opt.type] or Fail("type must be LV2, LXVST or VST3")
local rate, frames, left, right = ReadStereoFloatWav(opt.input)
local block = math.tointeger(tonumber(opt.block)) or Fail("block=" .. opt.block)
local tail = math.floor(tonumber(opt.tail) * rate + 0.5)
local dir, name = opt.session, "proof"

WriteExportPreset()
local backend = AudioEngine:set_backend("None (Dummy)", "", "") or Fail("no dummy backend")
backend:set_buffer_size(block)

-- Phase 1: a track holding a whole-file region of the input's length.
if not create_session(dir, name, rate) then Fail("cannot create the session") end
local track = Session:new_audio_track(2, 2, nil, 1, "Proof", ARDOUR.PresentationInfo.max_order,
                                      ARDOUR.TrackMode.Normal, true):front()
local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false, "input")
if region:isnil() or region:length():samples() ~= frames then Fail("cannot make the region") end
track:playlist():add_region(region, Temporal.timepos_t(0), 1, false, 0, 0, false)
local sources = {}
for source in region:master_sources():iter() do sources[#sources + 1] = source:to_filesource():path() end
if #sources ~= 2 then Fail("the region has " .. #sources .. " sources") end
Session:save_state("", false, false, false, false, false)
close_session()

WriteMonoFloatWav(sources[1], rate, left)
WriteMonoFloatWav(sources[2], rate, right)

-- Phase 2: the plugin on the track, everything between file and export at unity.
if not load_session(dir, name) then Fail("cannot load the session") end
print("block " .. Session:get_block_size())
local config = Session:cfg()
config:set_use_region_fades(false)
config:set_use_transport_fades(false)
config:set_use_monitor_fades(false)

track = Session:route_by_name("Proof"):to_track()
for r in track:playlist():region_list():iter() do
  local audioRegion = r:to_audioregion()
  audioRegion:set_fade_in_active(false)
  audioRegion:set_fade_out_active(false)
  audioRegion:set_envelope_active(false)
  audioRegion:set_scale_amplitude(1)
end

-- Nothing from the (silent) dummy inputs; the track plays its region only.
-- Its outputs feed the master, made here because the session's auto-connect
-- runs in a thread of its own and may not have happened before the first save.
track:input():disconnect_all(nil)
track:output():disconnect_all(nil)
for c = 0, 1 do
  local from, to = track:output():audio(c), Session:master_out():input():audio(c)
  if from:connect(to:name()) ~= 0 or not from:connected_to(to:name()) then Fail("cannot connect the track to the master") end
end
track:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorDisk, PBD.GroupControlDisposition.NoGroup)

-- A stereo track's panner spreads each side with a pan law; bypassed, it
-- passes left to left and right to right.
for _, route in ipairs({ track:to_route(), Session:master_out() }) do
  route:gain_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
  route:trim_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
  local panner = route:panner_shell()
  if not panner:isnil() then panner:set_bypassed(true) end
end

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

-- Let the process thread pick up the changes before the export starts.
ARDOUR.LuaAPI.usleep(100000)

local export = Session:simple_export()
if not export:set_preset(kPresetId) then Fail("export preset not found") end
local folder = ARDOUR.LuaAPI.build_filename(dir, "proof-export")
export:set_folder(folder)
export:set_name("master")
export:set_range(0, frames + tail)
if not export:run_export() then Fail("export failed") end
close_session()

if not os.rename(ARDOUR.LuaAPI.build_filename(folder, "master.wav"), opt.output) then
  Fail("no exported file")
end
print("done")
