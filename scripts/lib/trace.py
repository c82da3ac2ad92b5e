"""trace.py TRACE IN.raw OUT.raw: splits a trace of run() calls (written by an
LV2 build with VELMOR_LV2_TRACE) into the plug-in's inputs and outputs as
interleaved stereo float, one run after another, and prints on one line the
number of runs, their lengths, the frame where the input first is not silent,
and the control values of the first run and whether any run had others."""
import array
import struct
import sys


def main(path, in_path, out_path):
    data = open(path, "rb").read()
    pos, runs, sides = 0, [], [array.array("f") for _ in range(4)]
    while pos + 8 <= len(data):
        frames, count = struct.unpack_from("=II", data, pos)
        end = pos + 8 + 4 * count + 16 * frames
        if end > len(data):
            break  # the last run was cut short when the host stopped
        controls = struct.unpack_from("=%df" % count, data, pos + 8)
        pos += 8 + 4 * count
        for side in sides:
            side.frombytes(data[pos:pos + 4 * frames])
            pos += 4 * frames
        runs.append((frames, controls))
    for path_out, (left, right) in ((in_path, sides[:2]), (out_path, sides[2:])):
        both = array.array("f", bytes(8 * len(left)))
        both[0::2], both[1::2] = left, right
        open(path_out, "wb").write(both.tobytes())
    lengths = sorted({frames for frames, _ in runs})
    first = next((i for i, (l, r) in enumerate(zip(sides[0], sides[1])) if l != 0 or r != 0), None)
    controls = runs[0][1] if runs else ()
    changed = any(c != controls for _, c in runs)
    print("%d runs of %s frames; input from frame %s; controls %s%s" % (
        len(runs), "/".join(map(str, lengths)), first, " ".join("%g" % c for c in controls),
        ", changed later" if changed else ", the same in every run"))


if __name__ == "__main__":
    main(*sys.argv[1:])
