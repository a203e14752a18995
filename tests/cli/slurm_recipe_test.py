#!/usr/bin/env python3
"""The README's Slurm array job, submitted with sbatch as written to a one-node Slurm cluster
that the test starts (tests/cli/local_cluster.py), over a folder of generated documents with
one broken file. The array's exit status is 1; each task's state and exit code in the
controller say which slice failed; its log says why; the slices' reports, joined, hold each
good file converted once, by its own slice. A resubmitted array converts only the file whose
image went missing.

Usage: slurm_recipe_test.py REPOSITORY BIN_DIR
"""

import os
import re

from local_cluster import LocalSlurm
from recipe_archive import BROKEN, GOOD, REPO, RecipeTest, main, readme_block

SLICES = r"slice-\d+\.jsonl"


class SlurmArrayJob(RecipeTest):
    def setUp(self):
        super().setUp()
        self.slurm = LocalSlurm(os.path.join(self.a.root, "slurm"))
        self.addCleanup(self.slurm.stop)
        # The recipe is run from a clone of the repository; the tasks' logs land in the
        # folder it is submitted from, which is the test's own.
        os.symlink(os.path.join(REPO, "scripts"), os.path.join(self.a.root, "scripts"))

    def submit(self, recipe):
        """Runs the recipe; the array job's number, once sbatch has waited for every task."""
        result = self.bash(recipe, self.a.root, **self.slurm.env())
        self.assertEqual(result.returncode, 1,  # the highest exit code of the tasks
                         result.stdout + result.stderr)
        return re.search(r"Submitted batch job (\d+)", result.stdout).group(1)

    def tasks(self, job):
        """State and exit code of each task of the array job, by index."""
        return {int(fields["ArrayTaskId"]): (fields["JobState"], fields["ExitCode"])
                for fields in self.slurm.jobs() if fields.get("ArrayJobId") == job}

    def test_array_job(self):
        recipe = readme_block("<!-- recipe: slurm -->")
        array = re.search(r"sbatch --array=(\d+)-(\d+) --wait ", recipe)
        self.assertTrue(array, "the recipe submits an array and waits for it")
        first, last = int(array.group(1)), int(array.group(2))
        count = last - first + 1

        job = self.submit(recipe)
        listed = self.a.listed()
        failing = listed.index(self.a.source(BROKEN)) % count
        self.assertEqual(self.tasks(job), {
            i: ("FAILED", "1:0") if i == failing else ("COMPLETED", "0:0")
            for i in range(first, last + 1)})
        with open(os.path.join(self.a.root, f"orvalis-{job}_{failing}.log")) as f:
            self.assertRegex(f.read(), r"Failed +" + re.escape(self.a.source(BROKEN)) +
                             r": The file produced no page")

        # Task i converted files i, i + n, ... of the list, and reported them in its slice.
        reports = self.a.records(SLICES)
        for i in range(first, last + 1):
            self.assertEqual(sorted(r["source"] for r in reports[f"slice-{i}.jsonl"]),
                             sorted(listed[i::count]))
        self.check_converted_once(self.a.all_records(SLICES))

        # An image goes missing; the array submitted again converts its file only.
        images = self.a.images()
        lost_source = self.a.source(GOOD[1])
        lost = next(r for r in self.a.all_records(SLICES) if r["source"] == lost_source)
        os.remove(lost["outputs"][1])
        before = self.a.records(SLICES)
        again = self.submit(recipe)
        self.assertEqual(self.tasks(again)[failing], ("FAILED", "1:0"))
        records = self.a.all_records(SLICES, before)
        self.check_statuses(records, {**{name: "Skipped" for name in GOOD}, GOOD[1]: "Succeed",
                                      BROKEN: "Failed"})
        redone = next(r for r in records if r["source"] == lost_source)
        self.check_pages(redone["outputs"])
        now = self.a.images()
        self.assertEqual(set(now), set(images))
        for path in set(images) - set(redone["outputs"]):
            self.assertEqual(now[path], images[path], path)


if __name__ == "__main__":
    main()
