"""The lines of src/ and sim/ in gcov's counts, for the coverage scripts."""
import json, os, subprocess


def line_counts(tree, root, notes=None):
    """(file relative to root, line) -> whether it ran, from the .gcda files
    below `tree`. `notes` is the build tree that holds the matching .gcno
    files when the counts were written elsewhere (GCOV_PREFIX)."""
    lines = {}
    for d, _, files in os.walk(tree):
        gcda = [f for f in files if f.endswith(".gcda")]
        if not gcda:
            continue
        if notes:
            for f in gcda:  # gcov wants the notes file beside the data file
                gcno = os.path.join(notes, os.path.relpath(d, tree), f[:-5] + ".gcno")
                if os.path.exists(gcno):
                    os.symlink(gcno, os.path.join(d, f[:-5] + ".gcno"))
        out = subprocess.run(["gcov", "--json-format", "--stdout"] + gcda, capture_output=True,
                             cwd=d).stdout
        for chunk in filter(bytes.strip, out.splitlines()):
            report = json.loads(chunk)
            for entry in report["files"]:
                rel = os.path.relpath(os.path.realpath(
                    os.path.join(report["current_working_directory"], entry["file"])), root)
                if not rel.startswith(("src/", "sim/")):
                    continue
                for l in entry["lines"]:
                    key = (rel, l["line_number"])
                    lines[key] = lines.get(key, False) or l["count"] > 0
    return lines
