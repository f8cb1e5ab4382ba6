"""Turns the benchmark's raw measurements into its table (stdout, and table.md) and the data
of the growth plot (growth.dat), both in the folder given."""
import statistics
import sys
from collections import defaultdict

raw, folder = sys.argv[1], sys.argv[2]
startup = defaultdict(list)
paint = {}
prints = {}
for line in open(raw):
    fields = line.split()
    if not fields:
        continue
    if fields[0] == "startup":
        startup[fields[1]].append(float(fields[2]))
    elif fields[0] == "paint":
        paint[(fields[1], fields[2])] = float(fields[3])
    elif fields[0] == "print":
        prints[(fields[1], int(fields[2]))] = fields[3:]


def ms(us):
    return f"{us / 1000:.2f} ms" if us < 100000 else f"{us / 1000:.0f} ms"


def mb(size):
    return f"{size / 2**20:.1f} MB" if size >= 2**20 else f"{size / 2**10:.1f} kB"


def ratio(value, floor):
    return f"{value / floor:.2f}×" if floor else "-"


rows = ["| Figure | Case | Value | Floor | Floor value | Ratio |", "|---|---|---|---|---|---|"]
if startup:
    ours, floor = statistics.median(startup["startup_printtest"]), statistics.median(startup["minimal_window"])
    runs = len(startup["startup_printtest"])
    rows.append(f"| Start-up to first paint (median of {runs}) | main window | {ms(ours)} | minimal window | "
                f"{ms(floor)} | {ratio(ours, floor)} |")
sizes = sorted({size for _, size in paint}, key=lambda s: [int(n) for n in s.split("x")])
for size in sizes:
    get = lambda name: paint.get((name, size))
    for name, label, floor_name, floor_label in [
        ("direct_paint", "Direct paint", "draw_floor", "DrawTestPage on a memory DC"),
        ("bitmap_paint", "Bitmap paint", "blit_floor", "bare BitBlt"),
        ("bitmap_paint", "Bitmap paint", "bare_paint", "bare window painting that BitBlt"),
        ("cache_rebuild", "Page cache rebuild (end of sizing)", "rebuild_floor", "DrawTestPage into a new bitmap"),
    ]:
        if get(name) is not None and get(floor_name) is not None:
            rows.append(f"| {label} | {size} | {ms(get(name))} | {floor_label} | {ms(get(floor_name))} | "
                        f"{ratio(get(name), get(floor_name))} |")

job_rows = ["| Job | dpi | Time | Floor job | Ratio | Peak working set | Floor | Ratio | Spooled | Floor | Ratio | "
            "Bitmap (w×h×4) |", "|---|---|---|---|---|---|---|---|---|---|---|---|"]
growth = []
made, missing = [], []
for dpi in sorted({dpi for _, dpi in prints}):
    floor = prints.get(("floor", dpi))
    floor_ok = floor and floor[0] != "failed"
    for kind in ["direct", "bitmap"]:
        job = prints.get((kind, dpi))
        if not job:
            continue
        if job[0] == "failed":
            job_rows.append(f"| {kind.capitalize()} | {dpi} | failed | | | | | | | | | |")
            continue
        total, peak, spooled, image = float(job[0]), int(job[2]), int(job[3]), job[4]
        bitmap = "-"
        if image != "-":
            width, height = (int(n) for n in image.split("x"))
            bitmap = f"{width}×{height}: {mb(width * height * 4)}"
            if width < dpi:
                bitmap = f"none made: {width}×{height} sent"
            else:
                made.append((dpi, width, height, job))
            if width < dpi:
                missing.append((dpi, job))
        if floor_ok:
            f_total, f_peak, f_spooled = float(floor[0]), int(floor[2]), int(floor[3])
            job_rows.append(f"| {kind.capitalize()} | {dpi} | {ms(total)} | {ms(f_total)} | {ratio(total, f_total)} | "
                            f"{mb(peak)} | {mb(f_peak)} | {ratio(peak, f_peak)} | {mb(spooled)} | {mb(f_spooled)} | "
                            f"{ratio(spooled, f_spooled)} | {bitmap} |")
        else:
            job_rows.append(f"| {kind.capitalize()} | {dpi} | {ms(total)} | - | - | {mb(peak)} | - | - | {mb(spooled)} "
                            f"| - | - | {bitmap} |")
    row = [str(dpi)]
    for kind in ["floor", "direct", "bitmap"]:
        job = prints.get((kind, dpi))
        ok = job and job[0] != "failed" and (dpi, job) not in missing
        row += [f"{float(job[0]) / 1000:.1f}" if ok else "NaN", f"{int(job[2]) / 2**20:.1f}" if ok else "NaN"]
    growth.append(" ".join(row))

text = "\n".join(rows) + "\n\n" + "\n".join(job_rows) + "\n"
if made and missing:
    top, width, height, _ = max(made)
    dpi, job = min(missing)
    scale = dpi / top
    wanted = int(width * scale) * int(height * scale) * 4
    text += (f"\nBitmap limit: Bitmap pages print up to {top} dpi. At {dpi} dpi the page bitmap would be "
             f"{int(width * scale)}×{int(height * scale)}×4 = {mb(wanted)}; the largest free block of the "
             f"process's address space was {mb(int(job[5]))}, so no page bitmap was made.\n")
open(f"{folder}/table.md", "w").write(text)
open(f"{folder}/growth.dat", "w").write("# dpi floor_ms floor_mb direct_ms direct_mb bitmap_ms bitmap_mb\n"
                                        + "\n".join(growth) + "\n")
print(text)
