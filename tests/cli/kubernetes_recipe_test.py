#!/usr/bin/env python3
"""The README's Kubernetes indexed Job. No cluster applies it here: the manifest is checked
against the Job schema of the Kubernetes API (the models of the Kubernetes Python client), and
its command runs once per completion index with its environment, over a folder of generated
documents with one broken file: each good file converts once, the broken one's slice fails, and
every index again (as pods are restarted) converts nothing.

Usage: kubernetes_recipe_test.py REPOSITORY BIN_DIR
"""

import copy
import json
import os
import subprocess

import yaml
from kubernetes.client import ApiClient

from recipe_archive import REPO, RecipeTest, main, readme_block


def job_schema_errors(manifest):
    """What the Job schema of the Kubernetes API rejects in `manifest`, or "" when nothing.
    The client's models refuse a missing required field or a value of a wrong kind, and drop
    a field they do not know, so that the manifest read back differs from the one given."""
    if (manifest.get("apiVersion"), manifest.get("kind")) != ("batch/v1", "Job"):
        return "not a batch/v1 Job"

    class Response:  # what ApiClient.deserialize reads
        data = json.dumps(manifest)

    client = ApiClient()
    try:
        job = client.deserialize(Response(), "V1Job")
    except (ValueError, TypeError) as error:
        return str(error)
    read_back = client.sanitize_for_serialization(job)
    return "" if read_back == manifest else f"read back as {read_back}"


class KubernetesJob(RecipeTest):
    def manifest(self):
        return yaml.safe_load(readme_block("### Kubernetes indexed Job", "yaml"))

    def test_manifest_is_a_valid_job(self):
        job = self.manifest()
        self.assertEqual(job_schema_errors(job), "")
        self.assertEqual(job["spec"]["completionMode"], "Indexed")

        # The check itself finds the faults a hand-written manifest has.
        def changed(change):
            wrong = copy.deepcopy(job)
            change(wrong["spec"], wrong["spec"]["template"]["spec"]["containers"][0])
            return wrong

        faults = {
            "misspelt field": lambda spec, _: spec.update(completion=spec.pop("completions")),
            "number as text": lambda spec, _: spec.update(parallelism="10"),
            "missing name": lambda _, container: container.pop("name"),
            "misplaced env": lambda spec, container: spec.update(env=container.pop("env")),
        }
        for fault, change in faults.items():
            self.assertNotEqual(job_schema_errors(changed(change)), "", fault)

    def run_slices(self, tasks, env):
        """The slice script once per task, as the scheduler would start it; the exit codes."""
        codes = []
        for index, command in tasks:
            result = subprocess.run(command, cwd=REPO, env=self.a.env(**env, **index),
                                    capture_output=True, text=True)
            self.assertIn(result.returncode, (0, 1), result.stderr)
            codes.append(result.returncode)
        return codes

    def test_index_outside_the_slices_fails(self):
        """An index the slices do not have (an array numbered from 1, ORVALIS_SLICES below the
        completions, none at all) fails as a usage error instead of leaving files to none."""
        listing = os.path.join(self.a.reports, "files.list0")
        with open(listing, "wb") as f:
            f.write(self.a.source("plain.ps").encode() + b"\0")
        script = os.path.join(REPO, "scripts", "convert-slice.sh")
        for index, slices in (("3", "3"), ("0", "0")):
            result = subprocess.run(["bash", script, "-f", "png"], capture_output=True, text=True,
                                    env=self.a.env(JOB_COMPLETION_INDEX=index,
                                                   ORVALIS_SLICES=slices, ORVALIS_LIST=listing,
                                                   ORVALIS_OUT=self.a.out,
                                                   ORVALIS_REPORTS=self.a.reports))
            self.assertEqual(result.returncode, 2, (index, slices))
            self.assertIn("numbered 0 to n-1", result.stderr)
        self.assertEqual(os.listdir(self.a.reports), ["files.list0"])
        self.assertEqual(self.a.images(), {})

    def test_indexed_job(self):
        job = self.manifest()
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

        # Every index once: each good file converts once and the slice of the broken file
        # fails. Every index again, as pods are restarted: nothing converts.
        codes = self.run_slices(tasks, env)
        self.assertEqual(sorted(codes), [0] * (len(tasks) - 1) + [1])
        self.check_converted_once(self.a.all_records(r"slice-\d+\.jsonl"))
        images = self.a.images()
        before = self.a.records(r"slice-\d+\.jsonl")
        self.run_slices(tasks, env)
        self.check_nothing_converted(self.a.all_records(r"slice-\d+\.jsonl", before), images)


if __name__ == "__main__":
    main()
