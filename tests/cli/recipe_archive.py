"""What the tests of the README's many-machine recipes share: the recipe blocks read from the
README, a folder of generated documents with one broken file, and the checks of what a run
wrote. Each test script takes the arguments REPOSITORY BIN_DIR."""

import contextlib
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageChops

REPO = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
BIN = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else
                      os.environ.get("ORVALIS_BIN_DIR", "build/bin"))

# Two pages each, the names as an archive may have them.
GOOD = ["plain.ps", "with space.ps", "it's \"quoted\".ps", "sub/nested.ps", "-dash.ps"]
BROKEN = "broken.ps"  # renders no page
TWO_PAGES = "%!PS\n/Helvetica findfont 24 scalefont setfont\n" \
            "1 1 2 { 72 700 moveto 3 string cvs show showpage } for\n"


def readme_block(marker, language="sh"):
    """The fenced block that follows `marker` in the README."""
    with open(os.path.join(REPO, "README.md"), encoding="utf-8") as f:
        text = f.read()
    at = text.index(marker)
    match = re.compile(r"```" + language + r"\n(.*?)```", re.S).search(text, at)
    return match.group(1)


def stem(name):
    return os.path.splitext(os.path.basename(name))[0]


class Archive:
    """A folder of documents, an output folder and a reports folder, in a fresh place."""

    def __init__(self, root):
        self.root = root
        self.archive = os.path.join(root, "archive")
        self.out = os.path.join(root, "out")
        self.reports = os.path.join(root, "reports")
        self.tmp = os.path.join(root, "tmp")
        for folder in (self.archive, self.out, self.reports, self.tmp):
            os.makedirs(folder)
        for name in GOOD:
            path = os.path.join(self.archive, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(TWO_PAGES)
        with open(os.path.join(self.archive, BROKEN), "w") as f:
            f.write("%!PS\n% nothing is shown\n")

    def env(self, programs=True, **extra):
        """The environment the recipes run in; with `programs`, orvalis-cli on its PATH."""
        env = dict(os.environ)
        if programs:
            env["PATH"] = BIN + os.pathsep + env.get("PATH", "")
        env.update(ARCHIVE=self.archive, OUT=self.out, REPORTS=self.reports, TMPDIR=self.tmp)
        env.update(extra)
        return env

    def source(self, name):
        return os.path.join(self.archive, name)

    def listed(self):
        """The sources of the recipe's NUL-separated list, in its order."""
        with open(os.path.join(self.reports, "files.list0"), "rb") as f:
            return [os.fsdecode(path) for path in f.read().split(b"\0") if path]

    def images(self):
        """Every image written, with its modification time."""
        found = {}
        for folder, _, files in os.walk(self.out):
            for name in files:
                path = os.path.join(folder, name)
                found[path] = os.stat(path).st_mtime_ns
        return found

    def records(self, pattern, since=None):
        """The records of the reports whose names match, each line parsed by json; with
        `since` (an earlier records()), only the lines added after it."""
        records = {}
        for name in sorted(os.listdir(self.reports)):
            if re.fullmatch(pattern, name):
                with open(os.path.join(self.reports, name), encoding="utf-8") as f:
                    records[name] = [json.loads(line) for line in f]
        if since is not None:
            records = {name: lines[len(since.get(name, [])):] for name, lines in records.items()}
        return records

    def all_records(self, pattern, since=None):
        return [record for lines in self.records(pattern, since).values() for record in lines]


class RecipeTest(unittest.TestCase):
    """A fresh archive for each test, and the checks of what a recipe's run wrote."""

    def setUp(self):
        # Removed last, after what a test starts in it (cleanups run in reverse order).
        scratch = tempfile.TemporaryDirectory(prefix="orvalis_recipes_")
        self.addCleanup(scratch.cleanup)
        self.a = Archive(scratch.name)

    def bash(self, script, cwd, programs=True, **env):
        """Runs `script` in a process group of its own, which is killed whole should the test
        end first (a waiting sbatch or parallel would otherwise outlive it)."""
        with subprocess.Popen(["bash", "-c", script], cwd=cwd, env=self.a.env(programs, **env),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True,
                              start_new_session=True) as process:
            try:
                stdout, stderr = process.communicate(timeout=600)
            finally:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(process.pid, signal.SIGKILL)
        return subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)

    def check_pages(self, outputs):
        """The images of one of the two-page documents, read back with Pillow: PNG pages of one
        portrait size, each with the dark pixels of its page number, and not alike."""
        pages = []
        for output in outputs:
            with Image.open(output) as image:
                self.assertEqual(image.format, "PNG", output)
                pages.append(image.convert("L"))
        self.assertEqual(len(pages), 2)
        self.assertEqual(pages[0].size, pages[1].size)
        width, height = pages[0].size
        self.assertGreater(height, width)
        for page in pages:
            self.assertLess(page.getextrema()[0], 128, "a blank page")
        self.assertIsNotNone(ImageChops.difference(*pages).getbbox(), "both pages alike")

    def check_converted_once(self, records):
        """Each good file has one "Succeed" record and its two images; the broken one failed."""
        for name in GOOD:
            mine = [r for r in records if r["source"] == self.a.source(name)]
            self.assertEqual([r["status"] for r in mine], ["Succeed"], name)
            self.assertEqual(mine[0]["pages"], 2)
            self.assertEqual([os.path.basename(o) for o in mine[0]["outputs"]],
                             [stem(name) + "_001.png", stem(name) + "_002.png"])
            self.check_pages(mine[0]["outputs"])
        broken = [r for r in records if r["source"] == self.a.source(BROKEN)]
        self.assertEqual([r["status"] for r in broken], ["Failed"])
        self.assertTrue(broken[0]["reason"])
        self.assertEqual(len(records), len(GOOD) + 1)

    def check_statuses(self, records, expected):
        """One record for each source, with the status `expected` gives (by archive name)."""
        statuses = {os.path.relpath(r["source"], self.a.archive): r["status"] for r in records}
        self.assertEqual(len(records), len(statuses))
        self.assertEqual(statuses, expected)

    def check_nothing_converted(self, records, images_before):
        """A later run: the good files skipped as converted, the broken one failed again."""
        self.check_statuses(records, {**{name: "Skipped" for name in GOOD}, BROKEN: "Failed"})
        self.assertEqual(self.a.images(), images_before)


def main():
    # A test stopped with SIGTERM still ends its daemons and removes its folder.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    unittest.main(argv=sys.argv[:1], verbosity=2)
