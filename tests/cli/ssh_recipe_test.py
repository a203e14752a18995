#!/usr/bin/env python3
"""The README's GNU parallel recipe, run as written over ssh: an sshd that the test starts
(tests/cli/local_cluster.py) stands for two machines, node-a and node-b, that see the archive,
the output folder and the reports at the same paths, as a shared file system gives them. The
test's own PATH has no orvalis-cli: the remote sessions find it on the PATH sshd gives them.
Over a folder of generated documents with one broken file, each good file converts once on one
of the machines, the broken one fails in the job log and in the report, the same lines again
retry the broken file only, and a run with a new job log converts nothing.

Usage: ssh_recipe_test.py REPOSITORY BIN_DIR
"""

import os
import shutil

from local_cluster import LocalSshd
from recipe_archive import BIN, BROKEN, GOOD, RecipeTest, main, readme_block

HOSTS = ["node-a", "node-b"]
PARTS = r"part-\d+\.jsonl"


class ParallelOverSsh(RecipeTest):
    def setUp(self):
        super().setUp()
        folder = os.path.join(self.a.root, "ssh")
        os.makedirs(folder)
        # What a machine's administrator gives every session: orvalis-cli on its PATH.
        session_path = os.pathsep.join([BIN, "/usr/local/bin", "/usr/bin", "/bin"])
        self.sshd = LocalSshd(folder, HOSTS, {"PATH": session_path, "TMPDIR": self.a.tmp})
        self.addCleanup(self.sshd.stop)
        with open(os.path.join(self.a.root, "nodes.txt"), "w") as f:
            f.write("".join(host + "\n" for host in HOSTS))
        self.joblog = os.path.join(self.a.reports, "convert.log")

    def run_recipe(self, recipe):
        result = self.bash(recipe, self.a.root, programs=False,
                           PARALLEL_SSH=self.sshd.ssh_command())
        self.assertEqual(result.returncode, 1,  # parallel: one job failed
                         result.stdout + result.stderr)

    def joblog_rows(self):
        with open(self.joblog) as f:
            header, *rows = [line.rstrip("\n").split("\t") for line in f]
        return [dict(zip(header, row)) for row in rows]

    def test_parallel_over_ssh(self):
        self.assertIsNone(shutil.which("orvalis-cli", path=self.a.env(False)["PATH"]),
                          "orvalis-cli is on the test's own PATH")
        recipe = readme_block("<!-- recipe: parallel -->")

        self.run_recipe(recipe)
        rows = self.joblog_rows()
        self.assertEqual(len(rows), len(GOOD) + 1)
        self.assertEqual({row["Host"] for row in rows}, set(HOSTS))
        failed = [row["Command"] for row in rows if row["Exitval"] != "0"]
        self.assertEqual(len(failed), 1)
        self.assertIn(BROKEN, failed[0])
        self.assertTrue(all(row["Exitval"] in ("0", "1") for row in rows))
        self.check_converted_once(self.a.all_records(PARTS))
        images = self.a.images()
        self.assertEqual(len(images), 2 * len(GOOD))

        # The same lines again: --resume-failed retries the broken file only.
        self.run_recipe(recipe)
        retried = self.joblog_rows()[len(rows):]
        self.assertEqual(len(retried), 1)
        self.assertIn(BROKEN, retried[0]["Command"])
        self.assertEqual(self.a.images(), images)

        # A run with a new job log goes through every task; --resume skips every converted file.
        os.remove(self.joblog)
        before = self.a.records(PARTS)
        self.run_recipe(recipe)
        self.check_nothing_converted(self.a.all_records(PARTS, before), images)
        # The joined reports the third run resumed from hold the first two runs' records.
        self.assertEqual(len(self.a.all_records(r"done\.jsonl")), len(GOOD) + 2)


if __name__ == "__main__":
    main()
