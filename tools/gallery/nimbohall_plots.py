#!/usr/bin/python3
"""Pictures of one analysis, from the JSON `nimbohall-render --analyze --json` writes.

    nimbohall_plots.py ANALYSIS.json OUTDIR [PREFIX]

writes PREFIX-edc.png (energy decay per band), PREFIX-rt.png (reverberation
time per band), PREFIX-spectrogram.png, PREFIX-waveform.png (level in dB) and
PREFIX-response.png (gain over frequency of each input-to-output path).
"""
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

SIZE = (6.4, 3.4)  # inches; at DPI 90 a picture is 576 x 306 pixels
DPI = 90
KINDS = ("edc", "rt", "spectrogram", "waveform", "response")
FLOOR_DB = -120.0


# Fixed margins: a layout engine would double the drawing time.
MARGINS = dict(left=0.1, right=0.97, bottom=0.14, top=0.9)


def _figure(rows=1, **margins):
    fig, ax = plt.subplots(rows, 1, figsize=SIZE, dpi=DPI, sharex=True)
    fig.subplots_adjust(**{**MARGINS, **margins})
    return fig, ax


def _nothing(ax, analysis, what, why=None):
    """A picture with nothing to draw says why, in the analysis's own words."""
    ax.set_axis_off()
    ax.text(0.5, 0.5, f"{what}: {why or 'the response is ' + analysis['status']}", ha="center", va="center",
            transform=ax.transAxes, fontsize=11, wrap=True)


def _reasons(bands, keys):
    """The reasons the bands give for missing values, most frequent first."""
    counts = {}
    for band in bands:
        for key in keys:
            why = band.get("missing", {}).get(key)
            if why:
                counts[why] = counts.get(why, 0) + 1
    return sorted(counts, key=counts.get, reverse=True)


def _band_colours(count):
    return [plt.get_cmap("viridis")(i / max(1, count - 2)) for i in range(count - 1)] + ["black"]


def plot_edc(analysis, ax):
    bands = analysis["bands"]
    if analysis["status"] != "decaying":
        return _nothing(ax, analysis, "No decay curves")
    lowest = 0.0
    for band, colour in zip(bands, _band_colours(len(bands))):
        curve = band["edc"]["db"]
        if not curve:
            continue
        t = np.arange(len(curve)) * band["edc"]["step_s"]
        broadband = band["band"] == "broadband"
        ax.plot(t, curve, color=colour, lw=2.0 if broadband else 1.2, ls="--" if broadband else "-", label=band["band"])
        lowest = min(lowest, min(curve))
    ax.set_ylim(max(lowest, -100.0) - 2.0, 2.0)
    ax.set_xlim(left=0.0)
    ax.set_xlabel("time after the onset (s)")
    ax.set_ylabel("energy remaining (dB)")
    ax.set_title("Energy decay curves")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=7, ncol=3, loc="upper right")


def plot_rt(analysis, ax):
    octaves = [b for b in analysis["bands"] if b["band"] != "broadband"]
    x = np.arange(len(octaves))
    plotted = False
    for key, label, marker in (("edt_s", "EDT", "o"), ("t20_s", "T20", "s"), ("t30_s", "T30", "D")):
        values = [b[key] if isinstance(b[key], (int, float)) else np.nan for b in octaves]
        if not np.all(np.isnan(values)):
            ax.plot(x, values, marker=marker, label=label)
            plotted = True
    if not plotted:
        why = None
        if analysis["status"] == "decaying":
            why = "every band's decay is " + " or ".join(_reasons(octaves, ("edt_s", "t20_s", "t30_s")))
        return _nothing(ax, analysis, "No reverberation times", why)
    ax.set_xticks(x, [b["band"] for b in octaves], fontsize=8)
    ax.set_ylim(bottom=0.0)
    ax.set_ylabel("seconds")
    ax.set_title("Reverberation time per octave band (gaps: not covered or too fast)")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8)


def plot_spectrogram(analysis, ax, fig):
    s = analysis["spectrogram"]
    if not s["db"]:
        return _nothing(ax, analysis, "No spectrogram")
    db = np.array(s["db"], dtype=float).T  # rows are frequencies
    t = s["start_s"] + np.arange(db.shape[1]) * s["step_s"]
    mesh = ax.pcolormesh(t, s["frequencies_hz"], db, vmin=-90.0, vmax=0.0, cmap="magma", shading="nearest")
    ax.set_yscale("log")
    ax.set_xlabel("time after the onset (s)")
    ax.set_ylabel("frequency (Hz)")
    ax.set_title("Spectrogram of the impulse response")
    fig.colorbar(mesh, ax=ax, label="dB")


def _level_db(path):
    peak = np.maximum(np.abs(np.asarray(path["low"], dtype=float)), np.abs(np.asarray(path["high"], dtype=float)))
    with np.errstate(divide="ignore"):
        return np.maximum(20.0 * np.log10(peak), FLOOR_DB)


def plot_waveform(analysis, axes):
    """Peak level per column in dBFS: the tail stays visible long after a linear plot shows a flat line."""
    w = analysis["waveform"]
    if not w["paths"] or not w["paths"][0]["high"]:
        return _nothing(axes[0], analysis, "No waveform")
    colours = {"left": "tab:blue", "right": "tab:orange"}
    lowest = 0.0
    for ax, source in zip(axes, ("left", "right")):
        for path in w["paths"]:
            if path["input"] != source:
                continue
            t = np.arange(len(path["high"])) * w["column_s"]
            level = _level_db(path)
            lowest = min(lowest, float(np.min(level)))
            ax.plot(t, level, color=colours[path["output"]], lw=0.8, alpha=0.85, label=f"{path['output']} output")
        ax.set_ylabel(f"{source} in")
        ax.grid(alpha=0.3)
        ax.legend(fontsize=7, loc="upper right")
    for ax in axes:
        ax.set_ylim(max(lowest, FLOOR_DB) - 3.0, 3.0)
    axes[0].set_title("Impulse response, peak level (dBFS)")
    axes[-1].set_xlabel("time (s)")


def plot_response(analysis, ax):
    r = analysis.get("frequency_response") or {}
    if not r.get("frequencies_hz"):
        return _nothing(ax, analysis, "No frequency response")
    styles = {("left", "left"): ("tab:blue", "-"), ("right", "right"): ("tab:orange", "-"),
              ("left", "right"): ("tab:blue", ":"), ("right", "left"): ("tab:orange", ":")}
    top = -200.0
    for path in r["paths"]:
        colour, line = styles[(path["input"], path["output"])]
        inverted = " (inverted)" if path.get("peak", 0.0) < 0.0 else ""
        ax.semilogx(r["frequencies_hz"], path["db"], color=colour, ls=line, lw=1.2,
                    label=f"{path['input']} in \u2192 {path['output']} out{inverted}")
        top = max(top, max(path["db"]))
    ax.set_ylim(max(top - 80.0, FLOOR_DB), top + 6.0)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("gain (dB)")
    ax.set_title("Frequency response of each path")
    ax.grid(alpha=0.3, which="both")
    ax.legend(fontsize=7, ncol=2, loc="lower left")


def write_pictures(analysis, outdir, prefix, kinds=KINDS):
    """The pictures of one analysis (those of `kinds`); returns their file names by kind."""
    names = {}
    for kind in kinds:
        if kind == "waveform":
            fig, axes = _figure(2, hspace=0.12)
            plot_waveform(analysis, axes)
        elif kind == "spectrogram":
            fig, ax = _figure(right=1.02)
            plot_spectrogram(analysis, ax, fig)
        else:
            fig, ax = _figure()
            {"edc": plot_edc, "rt": plot_rt, "response": plot_response}[kind](analysis, ax)
        names[kind] = f"{prefix}-{kind}.png"
        fig.savefig(os.path.join(outdir, names[kind]))
        plt.close(fig)
    return names


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    with open(argv[1], encoding="utf-8") as f:
        analysis = json.load(f)
    prefix = argv[3] if len(argv) == 4 else os.path.splitext(os.path.basename(argv[1]))[0]
    os.makedirs(argv[2], exist_ok=True)
    for name in write_pictures(analysis, argv[2], prefix).values():
        print(os.path.join(argv[2], name))


if __name__ == "__main__":
    main(sys.argv)
