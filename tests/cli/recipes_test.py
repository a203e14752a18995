#!/usr/bin/env python3
"""The README's recipes for converting an archive on many machines, run as the README shows
them: GNU parallel with -j 2 and --joblog (its ssh login file naming the local machine), the
Slurm job script once per array index, and the script of the Kubernetes manifest once per
completion index. Over a folder of generated documents with one broken file, each good file
converts once, the broken one fails in the job log and in the report, and a second run converts
nothing.

Usage: recipes_test.py REPOSITORY BIN_DIR
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

import yaml

REPO = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
BIN = sys.argv[2] if len(sys.argv) > 2 else os.environ.get("ORVALIS_BIN_DIR", "build/bin")

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

    def env(self, **extra):
        env = dict(os.environ)
        env.update(PATH=os.path.abspath(BIN) + os.pathsep + env.get("PATH", ""),
                   ARCHIVE=self.archive, OUT=self.out, REPORTS=self.reports, TMPDIR=self.tmp)
        env.update(extra)
        return env

    def source(self, name):
        return os.path.join(self.archive, name)

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


class Recipes(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="orvalis_recipes_")
        self.a = Archive(self.scratch.name)

    def tearDown(self):
        self.scratch.cleanup()

    def bash(self, script, cwd, **env):
        return subprocess.run(["bash", "-c", script], cwd=cwd, env=self.a.env(**env),
                              capture_output=True, text=True)

    def check_converted_once(self, records):
        """Each good file has one "Succeed" record and its two images; the broken one failed."""
        for name in GOOD:
            mine = [r for r in records if r["source"] == self.a.source(name)]
            self.assertEqual([r["status"] for r in mine], ["Succeed"], name)
            self.assertEqual(mine[0]["pages"], 2)
            self.assertEqual([os.path.basename(o) for o in mine[0]["outputs"]],
                             [stem(name) + "_001.png", stem(name) + "_002.png"])
            for output in mine[0]["outputs"]:
                self.assertTrue(os.path.isfile(output), output)
        broken = [r for r in records if r["source"] == self.a.source(BROKEN)]
        self.assertEqual([r["status"] for r in broken], ["Failed"])
        self.assertTrue(broken[0]["reason"])
        self.assertEqual(len(records), len(GOOD) + 1)

    def check_nothing_converted(self, records, images_before):
        """A later run: the good files skipped as converted, the broken one failed again."""
        statuses = {os.path.relpath(r["source"], self.a.archive): r["status"] for r in records}
        self.assertEqual(statuses, {**{name: "Skipped" for name in GOOD}, BROKEN: "Failed"})
        self.assertEqual(self.a.images(), images_before)

    def test_gnu_parallel(self):
        recipe = readme_block("<!-- recipe: parallel -->")
        self.assertIn("--sshloginfile nodes.txt -j 2 --joblog", recipe)
        with open(os.path.join(self.a.root, "nodes.txt"), "w") as f:
            f.write(":\n")  # the local machine: no ssh in a test
        joblog = os.path.join(self.a.reports, "convert.log")

        def joblog_rows():
            with open(joblog) as f:
                header, *rows = [line.rstrip("\n").split("\t") for line in f]
            return [dict(zip(header, row)) for row in rows]

        first = self.bash(recipe, self.a.root)
        self.assertEqual(first.returncode, 1, first.stderr)  # parallel: one job failed
        rows = joblog_rows()
        self.assertEqual(len(rows), len(GOOD) + 1)
        failed = [row["Command"] for row in rows if row["Exitval"] != "0"]
        self.assertEqual(len(failed), 1)
        self.assertIn(BROKEN, failed[0])
        self.assertTrue(all(row["Exitval"] in ("0", "1") for row in rows))
        parts = r"part-\d+\.jsonl"
        self.check_converted_once(self.a.all_records(parts))
        images = self.a.images()
        self.assertEqual(len(images), 2 * len(GOOD))

        # The same lines again: --resume-failed retries the broken file only.
        again = self.bash(recipe, self.a.root)
        self.assertEqual(again.returncode, 1, again.stderr)
        self.assertEqual(len(joblog_rows()), len(GOOD) + 2)
        self.assertEqual(self.a.images(), images)

        # A run with a new job log goes through every task; --resume skips every converted file.
        os.remove(joblog)
        before = self.a.records(parts)
        third = self.bash(recipe, self.a.root)
        self.assertEqual(third.returncode, 1, third.stderr)
        self.check_nothing_converted(self.a.all_records(parts, before), images)
        # The joined reports the third run resumed from hold the first two runs' records.
        joined = self.a.all_records(r"done\.jsonl")
        self.assertEqual(len(joined), len(GOOD) + 2)

    def run_slices(self, tasks, env):
        """The slice script once per task, as the scheduler would start it; the exit codes."""
        codes = []
        for index, command in tasks:
            result = subprocess.run(command, cwd=REPO, env=self.a.env(**env, **index),
                                    capture_output=True, text=True)
            self.assertIn(result.returncode, (0, 1), result.stderr)
            codes.append(result.returncode)
        return codes

    def check_slices(self, tasks, env):
        """Every task once: each good file converts once and the slice of the broken file
        fails. Every task again, as a scheduler retries them: nothing converts."""
        codes = self.run_slices(tasks, env)
        self.assertEqual(sorted(codes), [0] * (len(tasks) - 1) + [1])
        self.check_converted_once(self.a.all_records(r"slice-\d+\.jsonl"))
        images = self.a.images()
        before = self.a.records(r"slice-\d+\.jsonl")
        self.run_slices(tasks, env)
        self.check_nothing_converted(self.a.all_records(r"slice-\d+\.jsonl", before), images)

    def test_slurm_array_job(self):
        lines = readme_block("<!-- recipe: slurm -->").strip().split("\n")
        submit = re.fullmatch(r"sbatch --array=(\d+)-(\d+) (\S+) (.*)", lines[-1])
        self.assertTrue(submit, lines[-1])
        first, last, script, args = submit.groups()
        # The lines before sbatch make the list and export what the script reads.
        prepare = self.bash("\n".join(lines[:-1]) + "\nenv -0", self.a.root)
        self.assertEqual(prepare.returncode, 0, prepare.stderr)
        exported = dict(item.split("=", 1) for item in prepare.stdout.split("\0") if "=" in item)
        env = {key: exported[key] for key in ("ORVALIS_LIST", "ORVALIS_OUT", "ORVALIS_REPORTS")}
        count = int(last) - int(first) + 1
        tasks = [({"SLURM_ARRAY_TASK_ID": str(i), "SLURM_ARRAY_TASK_COUNT": str(count),
                   "SLURM_CPUS_PER_TASK": "2"}, ["bash", script] + args.split())
                 for i in range(int(first), int(last) + 1)]
        self.check_slices(tasks, env)

    def test_kubernetes_indexed_job(self):
        job = yaml.safe_load(readme_block("### Kubernetes indexed Job", "yaml"))
        self.assertEqual(job["spec"]["completionMode"], "Indexed")
        container = job["spec"]["template"]["spec"]["containers"][0]
        mounts = {"/archive": self.a.archive, "/out": self.a.out, "/reports": self.a.reports}

        def local(value):
            for mount, folder in mounts.items():
                if value == mount or value.startswith(mount + "/"):
                    return folder + value[len(mount):]
            return value

        env = {item["name"]: local(item["value"]) for item in container["env"]}
        # The list the README has written before the Job starts.
        with open(env["ORVALIS_LIST"], "wb") as f:
            for folder, _, files in sorted(os.walk(self.a.archive)):
                for name in sorted(files):
                    if name.endswith(".ps"):
                        f.write(os.path.join(folder, name).encode() + b"\0")
        script = os.path.join(REPO, "scripts", os.path.basename(container["command"][0]))
        command = ["bash", script] + container["command"][1:]
        completions = job["spec"]["completions"]
        self.assertEqual(int(env["ORVALIS_SLICES"]), completions)
        tasks = [({"JOB_COMPLETION_INDEX": str(i)}, command) for i in range(completions)]
        self.check_slices(tasks, env)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
