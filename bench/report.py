"""Turns the benchmark's raw measurements into its tables (stdout, and table.md) and the data
of the growth plot (growth.dat), both in the folder given."""
import statistics
import sys
from collections import defaultdict

raw, folder = sys.argv[1], sys.argv[2]
startup = defaultdict(list)
paint = {}
prints = {}
soak_memory = {}
soak_jobs = None
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
    elif fields[:2] == ["soak", "memory"]:
        soak_memory[int(fields[2])] = int(fields[3])
    elif fields[:2] == ["soak", "jobs"]:
        soak_jobs = (int(fields[2]), int(fields[3]))

# The goals of a Bitmap job against the floor doing the same platform work.
TIME_GOAL = 1.2
MEMORY_GOAL = 20 * 2**20
STARTUP_GOAL = 1.10


def ms(us):
    return f"{us / 1000:.2f} ms" if us < 100000 else f"{us / 1000:.0f} ms"


def mb(size):
    return f"{size / 2**20:.1f} MB" if size >= 2**20 else f"{size / 2**10:.1f} kB"


def ratio(value, floor):
    return f"{value / floor:.2f}×" if floor else "-"


def measured(job):
    return job and job[0] not in ("failed", "message")


rows = ["| Figure | Case | Value | Floor | Floor value | Ratio |", "|---|---|---|---|---|---|"]
if startup:
    ours = statistics.median(startup["startup_printtest"])
    runs = len(startup["startup_printtest"])
    for floor_name, floor_label in [("minimal_window", "minimal window"),
                                    ("minimal_window_page_setup", "minimal window asking for the page settings")]:
        if startup[floor_name]:
            floor = statistics.median(startup[floor_name])
            rows.append(f"| Start-up to first paint (median of {runs}) | main window | {ms(ours)} | {floor_label} | "
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

# Each job beside its floor: the Direct job beside a job printing one rectangle, the Bitmap job
# beside a job copying one page bitmap of the same size.
job_rows = ["| Job | dpi | Time | Floor | Ratio | Peak working set | Floor | Over floor | Spooled | Floor | Ratio | "
            "Bitmap (w×h×4) | Goal |", "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
growth = []
limit = None
largest_made = None
for dpi in sorted({dpi for _, dpi in prints}):
    for kind, floor_kind in [("direct", "floor"), ("bitmap", "floor_bitmap")]:
        job, floor = prints.get((kind, dpi)), prints.get((floor_kind, dpi))
        if not job:
            continue
        name = kind.capitalize()
        if job[0] == "failed":
            job_rows.append(f"| {name} | {dpi} | failed | | | | | | | | | | |")
            continue
        if job[0] == "message":
            limit = (dpi, int(job[1]), " ".join(job[2:]))
            job_rows.append(f"| {name} | {dpi} | message \"{limit[2]}\", nothing sent | | | | | | | | | | |")
            continue
        total, peak, spooled, image = float(job[0]), int(job[2]), int(job[3]), job[4]
        bitmap = "-"
        if image != "-":
            width, height = (int(n) for n in image.split("x"))
            bitmap = f"{width}×{height}: {mb(width * height * 4)}"
            if kind == "bitmap":
                largest_made = (dpi, width, height)
        if not measured(floor):
            job_rows.append(f"| {name} | {dpi} | {ms(total)} | - | - | {mb(peak)} | - | - | {mb(spooled)} | - | - | "
                            f"{bitmap} | |")
            continue
        f_total, f_peak, f_spooled = float(floor[0]), int(floor[2]), int(floor[3])
        goal = ""
        if kind == "bitmap":
            missed = [what for what, ok in [("time", total <= TIME_GOAL * f_total),
                                            ("memory", peak <= f_peak + MEMORY_GOAL)] if not ok]
            goal = "met" if not missed else "missed: " + ", ".join(missed)
        job_rows.append(f"| {name} | {dpi} | {ms(total)} | {ms(f_total)} | {ratio(total, f_total)} | {mb(peak)} | "
                        f"{mb(f_peak)} | +{mb(max(peak - f_peak, 0))} | {mb(spooled)} | {mb(f_spooled)} | "
                        f"{ratio(spooled, f_spooled)} | {bitmap} | {goal} |")
    row = [str(dpi)]
    for kind in ["floor", "direct", "floor_bitmap", "bitmap"]:
        job = prints.get((kind, dpi))
        ok = measured(job)
        row += [f"{float(job[0]) / 1000:.1f}" if ok else "NaN", f"{int(job[2]) / 2**20:.1f}" if ok else "NaN"]
    growth.append(" ".join(row))

text = "\n".join(rows) + "\n\n" + "\n".join(job_rows) + "\n"
text += (f"\nGoals of a Bitmap job against its floor: at most {TIME_GOAL}× its time and its peak working set "
         f"+ {MEMORY_GOAL // 2**20} MB; of the start-up against the minimal window asking for the page settings: "
         f"at most {STARTUP_GOAL}×.\n")
if limit and largest_made:
    top, width, height = largest_made
    dpi, free, message = limit
    scale = dpi / top
    wanted = int(width * scale) * int(height * scale) * 4
    text += (f"\nBitmap limit: Bitmap pages print up to {top} dpi. At {dpi} dpi the page bitmap would be "
             f"{int(width * scale)}×{int(height * scale)}×4 = {mb(wanted)}; " +
             (f"the largest free block of the process's address space was {mb(free)}" if free < wanted else
              f"the process had room for it (its largest free block {free / 2**40:.0f} TB), but GDI makes no "
              f"bitmap of more than 2 GB") +
             f": the program said \"{message}\" and sent nothing.\n")
if soak_memory:
    last = max(soak_memory)
    text += ("\n| Soak: one run, jobs alternately Direct and Bitmap at 300 dpi, then Bitmap at 600 dpi | " +
             " | ".join(f"after job {n}" for n in sorted(soak_memory)) + f" | job {last} − job 5 |\n|---|" +
             "---|" * (len(soak_memory) + 1) + "\n| private memory of the process | " +
             " | ".join(mb(soak_memory[n]) for n in sorted(soak_memory)) +
             f" | {(soak_memory[last] - soak_memory.get(5, soak_memory[last])) / 2**20:+.1f} MB |\n")
if soak_jobs:
    text += f"\nSoak: {soak_jobs[0]} jobs reached the queues, {soak_jobs[1]} of them completed as one sheet.\n"
open(f"{folder}/table.md", "w").write(text)
open(f"{folder}/growth.dat", "w").write("# dpi floor_ms floor_mb direct_ms direct_mb floor_bitmap_ms floor_bitmap_mb "
                                        "bitmap_ms bitmap_mb\n" + "\n".join(growth) + "\n")
print(text)
