ardour {
	["type"]    = "dsp",
	name        = "Proof cycle probe",
	category    = "Utility",
	license     = "MIT",
	author      = "Nimbohall tests",
	description = [[Passes audio through and notes every cycle in its shared memory: length, offset, transport position and peak]]
}

local kCycles = 4096

function dsp_ioconfig ()
	return { { audio_in = -1, audio_out = -1 } }
end

function dsp_init (rate)
	-- [1] cycles noted, then 4 integers per cycle
	self:shmem ():allocate (1 + 4 * kCycles)
	self:shmem ():clear ()
end

function dsp_configure (ins, outs)
	n_out = outs
end

function dsp_runmap (bufs, in_map, out_map, n_samples, offset)
	ARDOUR.DSP.process_map (bufs, n_out, in_map, out_map, n_samples, offset)
	local shm = self:shmem ():to_int (0):array ()
	local n = shm[1]
	if n >= kCycles then return end
	local peak = 0
	local b = out_map:get (ARDOUR.DataType ("audio"), 0)
	if b ~= ARDOUR.ChanMapping.Invalid then
		peak = ARDOUR.DSP.compute_peak (bufs:get_audio (b):data (offset), n_samples, 0)
	end
	shm[2 + 4 * n] = n_samples
	shm[3 + 4 * n] = offset
	shm[4 + 4 * n] = Session:transport_sample ()
	shm[5 + 4 * n] = math.floor (peak * 1000000)
	shm[1] = n + 1
end
