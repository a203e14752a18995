#!/usr/bin/env python3
"""Throw-away clusters on this machine for the recipe tests and the benchmarks: a one-node
Slurm cluster (munged, slurmctld, slurmd) and an ssh server. Each lives in a folder it is
given, with its own configuration, keys, state, spool and logs there, and writes nothing
anywhere else: every path reaches the daemons by option or by SLURM_CONF, never through /etc.

Each set of daemons runs in a PID namespace of its own (unshare --pid --fork --kill-child), under
a process that the kernel kills when ours ends (PR_SET_PDEATHSIG). Ending that process ends
every daemon and everything they started, Slurm's job steps and ssh's sessions included, even
when a test fails half-way or is killed. Namespaces need root, as CI has.

As a program, it runs a command while a Slurm cluster is up, with SLURM_CONF set:
    local_cluster.py slurm [--cpus N] -- COMMAND...
"""

import argparse
import contextlib
import ctypes
import os
import pwd
import signal
import socket
import subprocess
import sys
import tempfile
import time

START_SECONDS = 180


class DaemonError(RuntimeError):
    """A daemon did not start; the message says which and ends with its log."""


def free_port():
    """A TCP port on the loopback interface that nothing listens on now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_ports(count):
    ports = set()
    while len(ports) < count:
        ports.add(free_port())
    return sorted(ports)


def _die_with_parent():
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def _tail(path, lines=30):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError as error:
        return f"({error})"


def _wait_until(ready, daemons, what, logs):
    """Returns once `ready()`; raises, with the logs, when the daemons end or time runs out."""
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline and daemons.process.poll() is None:
        if ready():
            return
        time.sleep(0.2)
    status = daemons.process.poll()
    why = f"not within {START_SECONDS} s" if status is None else f"they ended ({status})"
    raise DaemonError(f"{what}: {why}\n" +
                      "\n".join(f"--- {path}\n{_tail(path)}" for path in logs))


class Namespace:
    """A bash script run as the first process of a new PID and mount namespace, with a /proc of
    its own (so that Slurm's process tracking sees the namespace's process numbers)."""

    def __init__(self, script, log):
        if os.geteuid() != 0:
            raise DaemonError("the daemons run in namespaces of their own, which needs root")
        self.log = log
        with open(log, "ab") as out:
            self.process = subprocess.Popen(
                ["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "bash", "-c",
                 "set -e\n" + script],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                preexec_fn=_die_with_parent, start_new_session=True)

    def stop(self):
        """Kills the namespace's first process, and with it every process of the namespace;
        unshare reaps it and ends (killed itself, it would leave that process to init)."""
        if self.process.poll() is None:
            pid = self.process.pid
            with contextlib.suppress(OSError):
                with open(f"/proc/{pid}/task/{pid}/children") as f:
                    for child in f.read().split():
                        os.kill(int(child), signal.SIGKILL)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.process.wait()


def _write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def _make_passable(folder):
    """Lets every user pass `folder` and the folders above it: those under the temporary
    folder by changing them, the others only by being so already."""
    temporary = os.path.realpath(tempfile.gettempdir())
    path = os.path.realpath(folder)
    while path != "/":
        mode = os.stat(path).st_mode
        if mode & 0o111 != 0o111:
            if not path.startswith(temporary + os.sep):
                raise DaemonError(f"munged serves no socket under {path}: not every user "
                                  "may pass it")
            os.chmod(path, mode | 0o111)
        path = os.path.dirname(path)


class _Daemons:
    """Daemons in a namespace, started and waited for by `_start`, ended by `stop`."""

    def _start(self, script, log, ready, what, logs):
        self.daemons = Namespace(script, log)
        try:
            _wait_until(ready, self.daemons, what, logs)
        except BaseException:
            self.daemons.stop()
            raise

    def stop(self):
        self.daemons.stop()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()


class LocalSlurm(_Daemons):
    """munged, slurmctld and slurmd for one node named localhost with `cpus` CPUs, in `folder`.
    `env()` is what a client (sbatch, scontrol) needs to reach it."""

    def __init__(self, folder, cpus=2, memory_mb=8192):
        self.folder = folder
        self.conf = os.path.join(folder, "slurm.conf")
        munge = os.path.join(folder, "munge")
        self.munge_socket = os.path.join(munge, "munge.socket")
        self.logs = [os.path.join(folder, "log", name)
                     for name in ("daemons.log", "slurmctld.log", "slurmd.log")]
        for name in ("state", "spool", "log"):
            os.makedirs(os.path.join(folder, name))
        # munged serves its socket only when every folder above it can be passed by all, and
        # reads a key that only its user may read.
        os.makedirs(munge, mode=0o755)
        _make_passable(munge)
        key = os.path.join(munge, "munge.key")
        with open(key, "wb") as f:
            f.write(os.urandom(1024))
        os.chmod(key, 0o400)
        controller_port, node_port = free_ports(2)
        # Memory is not counted (CR_CPU), but a job's --mem must not exceed RealMemory;
        # config_overrides keeps the node up on a machine with less memory or fewer cores
        # than it is said to have.
        _write(self.conf, f"""\
ClusterName=orvalis
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort={controller_port}
SlurmdPort={node_port}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket={self.munge_socket}
CredType=cred/munge
StateSaveLocation={folder}/state
SlurmdSpoolDir={folder}/spool
SlurmctldPidFile={folder}/slurmctld.pid
SlurmdPidFile={folder}/slurmd.pid
SlurmctldLogFile={self.logs[1]}
SlurmdLogFile={self.logs[2]}
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
MailProg=/bin/true
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
NodeName=localhost NodeAddr=127.0.0.1 CPUs={cpus} RealMemory={memory_mb} State=UNKNOWN
PartitionName=local Nodes=localhost Default=YES MaxTime=INFINITE State=UP
""")
        self._start(f"""
munged -F --key-file={key} --socket={self.munge_socket} \\
  --pid-file={munge}/munged.pid --log-file={munge}/munged.log --seed-file={munge}/munged.seed &
for _ in $(seq 1800); do [ -S {self.munge_socket} ] && break; sleep 0.1; done
slurmctld -D -f {self.conf} &
slurmd -D -f {self.conf} -N localhost &
wait -n
echo "a daemon ended" >&2
""", self.logs[0], self._node_idle, "the Slurm node was not idle", self.logs)

    def env(self):
        return {"SLURM_CONF": self.conf}

    def run(self, *command):
        return subprocess.run(command, env={**os.environ, **self.env()}, capture_output=True,
                              text=True, timeout=START_SECONDS)

    def _node_idle(self):
        states = self.run("sinfo", "--noheader", "--format=%T")
        return states.returncode == 0 and states.stdout.split() == ["idle"]

    def jobs(self):
        """Every job the controller still knows of, each as its `scontrol show job` fields."""
        listing = self.run("scontrol", "--oneliner", "show", "job")
        if listing.returncode != 0:
            raise DaemonError(f"scontrol: {listing.stderr}")
        jobs = []
        for line in listing.stdout.splitlines():
            fields = {}
            for word in line.split():
                key, _, value = word.partition("=")
                fields.setdefault(key, value)
            if "JobId" in fields:
                jobs.append(fields)
        return jobs


class LocalSshd(_Daemons):
    """An ssh server on a free loopback port with a throw-away host key, letting in the current
    user with a throw-away key, and an ssh_config that names it `hosts` (as if they were
    machines). The sessions get `session_env` (sshd's SetEnv), PATH included."""

    def __init__(self, folder, hosts, session_env):
        self.folder = folder
        self.config = os.path.join(folder, "ssh_config")
        self.log = os.path.join(folder, "sshd.log")
        sshd_config = os.path.join(folder, "sshd_config")
        host_key, user_key = (os.path.join(folder, name) for name in ("host_key", "user_key"))
        for key in (host_key, user_key):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "", "-f", key],
                           check=True)
        with open(user_key + ".pub") as f:
            _write(os.path.join(folder, "authorized_keys"), f.read(), 0o600)
        port = free_port()
        user = pwd.getpwuid(os.getuid()).pw_name
        setenv = " ".join(f'"{name}={value}"' for name, value in session_env.items())
        _write(sshd_config, f"""\
ListenAddress 127.0.0.1
Port {port}
HostKey {host_key}
AuthorizedKeysFile {folder}/authorized_keys
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowUsers {user}
UsePAM no
StrictModes no
PidFile none
SetEnv {setenv}
""")
        _write(self.config, f"""\
Host {" ".join(hosts)}
  HostName 127.0.0.1
  Port {port}
  User {user}
  IdentityFile {user_key}
  IdentitiesOnly yes
  BatchMode yes
  StrictHostKeyChecking no
  UserKnownHostsFile {folder}/known_hosts
  LogLevel ERROR
""")
        # StrictModes would refuse keys under a folder all may write to, such as /tmp.
        # sshd insists on its privilege separation folder, which scripts/setup.sh makes.
        if not os.path.isdir("/run/sshd"):
            raise DaemonError("sshd needs the folder /run/sshd: run scripts/setup.sh as root")
        self._start(f"""
exec /usr/sbin/sshd -D -e -f {sshd_config}
""", self.log, lambda: self._answers(hosts[0]), "sshd did not let the test in",
                    [self.log])

    def ssh_command(self):
        """The ssh command line for GNU parallel (PARALLEL_SSH)."""
        return f"ssh -F {self.config}"

    def _answers(self, host):
        return subprocess.run(["ssh", "-F", self.config, host, "true"], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=START_SECONDS).returncode == 0


def main():
    parser = argparse.ArgumentParser(description="Run a command while a local Slurm cluster "
                                     "is up, with SLURM_CONF set.")
    parser.add_argument("kind", choices=["slurm"])
    parser.add_argument("--cpus", type=int, default=2)
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="orvalis_slurm_") as folder:
        with LocalSlurm(folder, cpus=options.cpus) as slurm:
            return subprocess.run(options.command, env={**os.environ, **slurm.env()}).returncode


if __name__ == "__main__":
    with contextlib.suppress(KeyboardInterrupt):
        sys.exit(main())
