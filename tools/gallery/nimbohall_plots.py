#!/usr/bin/python3
"""Pictures of one analysis, from the JSON `nimbohall-render --analyze --json` writes.

    nimbohall_plots.py ANALYSIS.json OUTDIR [PREFIX]

writes PREFIX-edc.png (energy decay per band), PREFIX-rt.png (reverberation
time per band), PREFIX-spectrogram.png and PREFIX-waveform.png.
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
KINDS = ("edc", "rt", "spectrogram", "waveform")


# Fixed margins: a layout engine would double the drawing time.
MARGINS = dict(left=0.1, right=0.97, bottom=0.14, top=0.9)


def _figure(rows=1, **margins):
    fig, ax = plt.subplots(rows, 1, figsize=SIZE, dpi=DPI, sharex=True)
    fig.subplots_adjust(**{**MARGINS, **margins})
    return fig, ax


def _nothing(ax, analysis, what):
    ax.set_axis_off()
    ax.text(0.5, 0.5, f"{what}: the response is {analysis['status']}", ha="center", va="center",
            transform=ax.transAxes, fontsize=11)


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
        return _nothing(ax, analysis, "No reverberation times")
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


def plot_waveform(analysis, axes):
    w = analysis["waveform"]
    if not w["paths"] or not w["paths"][0]["high"]:
        return _nothing(axes[0], analysis, "No waveform")
    colours = {"left": "tab:blue", "right": "tab:orange"}
    for ax, source in zip(axes, ("left", "right")):
        for path in w["paths"]:
            if path["input"] != source:
                continue
            t = np.arange(len(path["high"])) * w["column_s"]
            ax.fill_between(t, path["low"], path["high"], color=colours[path["output"]], alpha=0.6, lw=0.3,
                            label=f"{path['output']} output")
        ax.set_ylabel(f"{source} in")
        ax.grid(alpha=0.3)
        ax.legend(fontsize=7, loc="upper right")
    axes[0].set_title("Impulse response")
    axes[-1].set_xlabel("time (s)")


def write_pictures(analysis, outdir, prefix):
    """The four pictures of one analysis; returns their file names."""
    names = {kind: f"{prefix}-{kind}.png" for kind in KINDS}
    fig, ax = _figure()
    plot_edc(analysis, ax)
    fig.savefig(os.path.join(outdir, names["edc"]))
    plt.close(fig)
    fig, ax = _figure()
    plot_rt(analysis, ax)
    fig.savefig(os.path.join(outdir, names["rt"]))
    plt.close(fig)
    fig, ax = _figure(right=1.02)
    plot_spectrogram(analysis, ax, fig)
    fig.savefig(os.path.join(outdir, names["spectrogram"]))
    plt.close(fig)
    fig, axes = _figure(2, hspace=0.12)
    plot_waveform(analysis, axes)
    fig.savefig(os.path.join(outdir, names["waveform"]))
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
