#!/usr/bin/env python3
"""Compares the imaging library with ImageMagick, GraphicsMagick and Pillow on the same
files, converting TIFF to an uncompressed 8-bit BMP, all in one run.

    bench/imaging/compare.py BUILD_DIR [--runs N]

Prints, per file and tool: median wall time, peak memory, bits per pixel of the output,
PSNR (or "exact"), and the ratio of the fastest correct other tool's time to ours.
A tool that is not installed is skipped."""
import os, shlex, shutil, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
tool = os.path.join(build, "bin", "imaging_bench_tool")
imgconv = os.path.join(build, "bin", "imgconv")
work = tempfile.mkdtemp(prefix="imaging-bench-")

# The tools as Debian installs them: a wrapper of the same name earlier on PATH would add its
# own start-up time to theirs.
def find(cmd): return shutil.which(cmd, path="/usr/bin:/bin")
convert, gm = find("convert"), find("gm")
python = next((p for p in (sys.executable, find("python3")) if p and subprocess.run(
    [p, "-c", "import PIL"], capture_output=True).returncode == 0), None)

def tools(photo):
    t = [("imaging imgconv", "{imgconv} {IN} {OUT}")]
    if convert:
        t.append(("ImageMagick", convert + " {IN} -compress None BMP3:{OUT}"))
        opts = "+dither -colors 256" if photo else "-colors 256"
        t.append(("ImageMagick 2-step", "%s {IN} %s -compress RLE BMP3:- | %s BMP:- -compress None "
                  "BMP3:{OUT}" % (convert, opts, convert)))
    if gm:
        t.append(("GraphicsMagick 2-step", "%s convert {IN} -colors 256 -compress RLE BMP3:- | %s "
                  "convert BMP:- -compress None BMP3:{OUT}" % (gm, gm)))
    if python:
        t.append(("Pillow", python + " -c 'from PIL import Image; "
                  "Image.open(\"{IN}\").convert(\"RGB\").quantize(256).save(\"{OUT}\", \"BMP\")'"))
    return t

def run(cmd):
    # Only a pipeline needs a shell; a single program is started directly, so that no
    # tool's time includes a shell's start-up. posix_spawn keeps this script's own size
    # out of the child's start-up and peak memory.
    argv = ["bash", "-c", cmd] if "|" in cmd else shlex.split(cmd)
    start = time.perf_counter()
    pid = os.posix_spawn(shutil.which(argv[0]) or argv[0], argv, os.environ)
    _, status, ru = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    # The child's peak as the kernel counts it still holds this script's pages from before
    # the exec; /usr/bin/time, a small process, measures the tool alone in one more run.
    peak = ru.ru_maxrss
    if os.path.exists("/usr/bin/time"):
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "bash", "-c", cmd],
                           capture_output=True, text=True)
        lines = r.stderr.strip().splitlines()
        if lines and lines[-1].isdigit():
            peak = int(lines[-1])
    return elapsed, peak, os.waitstatus_to_exitcode(status)

def check(ref, out):
    r = subprocess.run([tool, "check", ref, out], capture_output=True, text=True).stdout.split()
    return (int(r[0]), r[1], float(r[2])) if len(r) == 3 else (0, "unreadable", 0.0)

subprocess.run([tool, "make", work], check=True)
files = [("screen-palette.tif", False), ("screen-rgb.tif", False),
         ("photo-640.tif", True), ("photo-4096.tif", True)]
for name, photo in files:
    src = os.path.join(work, name)
    n = max(1, runs // 3) if "4096" in name else runs
    print("\n== %s (%d runs)" % (name, n))
    print("%-24s %9s %9s %4s %8s" % ("tool", "median ms", "peak MiB", "bpp", "PSNR dB"))
    results = []
    for label, cmd in tools(photo):
        out = os.path.join(work, "out.bmp")
        times, peak, ok = [], 0, True
        for _ in range(n):
            shutil.copy(src, os.path.join(work, "in.tif"))
            t, rss, rc = run(cmd.format(imgconv=imgconv, IN=os.path.join(work, "in.tif"), OUT=out))
            ok = ok and rc == 0
            times.append(t)
            peak = max(peak, rss)
        bpp, kind, psnr = check(src, out) if ok else (0, "failed", 0.0)
        correct = ok and bpp == 8 and (photo or kind == "exact")
        results.append((label, statistics.median(times), peak, bpp, kind, psnr, correct))
    inproc = subprocess.run([tool, "inproc", str(n), src, os.path.join(work, "in.bmp")],
                            capture_output=True, text=True).stdout.split()
    if len(inproc) == 2:
        bpp, kind, psnr = check(src, os.path.join(work, "in.bmp"))
        results.insert(1, ("imaging in-process", float(inproc[0]), int(inproc[1]), bpp, kind,
                           psnr, True))
    for label, t, peak, bpp, kind, psnr, correct in results:
        q = "exact" if kind == "exact" else ("%.2f" % psnr if kind == "lossy" else kind)
        print("%-24s %9.1f %9.1f %4d %8s%s" % (label, t * 1000, peak / 1024, bpp, q,
                                              "" if correct else "  (not a correct 8-bit file)"))
    others = [r for r in results if not r[0].startswith("imaging") and r[6]]
    if others:
        best = min(others, key=lambda r: r[1])
        best_q = max(r[5] for r in others)
        ours = results[0]
        print("fastest correct other tool: %s; it takes %.1fx the time of imgconv; "
              "best other PSNR %.2f dB, ours %.2f dB" % (best[0], best[1] / ours[1], best_q, ours[5]))
shutil.rmtree(work)
