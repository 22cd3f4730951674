#!/usr/bin/env python3
"""The real Claude Code through kestrum-cli and kestrum-devapp, run as the README tells a user.

Usage: chain.py --repo DIR --build DIR --claude PROGRAM

The commands are taken word for word from the README's "Trying it with a real Claude Code"
section and run as a user would: the devapp's and the launcher's path from the checkout, the
launcher from a project folder, with prompt words added in print mode. Only a build other than
build/release (KESTRUM_E2E_BUILD) changes their words.
Claude Code talks to our model stand-in on 127.0.0.1 only, in a temporary HOME seeded so that
no first-run screen looks anything up. Every process started here is stopped on every path.
"""
import argparse
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The Claude Code that runs: scripts/e2e names it, else the pin it installs by default.
with open(os.path.join(HERE, "claude-code-version"), encoding="utf-8") as pin:
    VERSION_SEEN = os.environ.get("KESTRUM_CLAUDE_CODE_VERSION") or pin.read().strip()
# A UTF-8 locale each system has: macOS has no C.UTF-8, Debian no en_US.UTF-8 unless generated.
LOCALE = "en_US.UTF-8" if sys.platform == "darwin" else "C.UTF-8"
# Found on the caller's PATH: the sessions' own PATH lacks Homebrew's /opt/homebrew/bin.
TMUX = shutil.which("tmux") or "tmux"
API_KEY = "sk-e2e-offline-" + "0123456789abcdefghij"
BRANCH = "e2e-branch"
CONTEXT = "This repository's notes live in notes.txt."
DENY_REASON = "Removing folders needs a person here."
PERSON_REASON = "Not without a review."
WRITE_REASON = "Secrets stay out of the repository."
ON_HOLD = "kestrum is not running, so this action from a colleague's request is on hold."
QUIET = {
    "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC": "1", "DISABLE_TELEMETRY": "1",
    "DISABLE_ERROR_REPORTING": "1", "DISABLE_AUTOUPDATER": "1", "DISABLE_UPDATES": "1",
    "DISABLE_BUG_COMMAND": "1", "DISABLE_FEEDBACK_COMMAND": "1",
    "CLAUDE_CODE_DISABLE_FEEDBACK_SURVEY": "1",
    "CLAUDE_CODE_DISABLE_OFFICIAL_MARKETPLACE_AUTOINSTALL": "1",
    "CLAUDE_CODE_ENABLE_TELEMETRY": "0",
}
# Generous: two cores shared by several builds.
STEP_S = 90


class Failed(Exception):
    pass


def wait_until(what, predicate, limit=STEP_S):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise Failed(f"timed out waiting for {what}")


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def json_lines(path):
    out = []
    for line in read(path).splitlines():
        try:
            out.append(json.loads(line))
        except ValueError:
            pass
    return out


def readme_commands(repo):
    """The section on a real Claude Code: its devapp command, the line that names the
    launcher's full path, the launch, and the print-mode example built on that launch."""
    text = read(os.path.join(repo, "README.md"))
    section = text.split("## Trying it with a real Claude Code", 1)[1].split("\n## ", 1)[0]
    blocks = [b.split("```", 1)[0].replace("\\\n", " ") for b in section.split("```sh")[1:]]
    commands = [line.strip() for line in blocks[0].splitlines()
                if line.strip() and not line.strip().startswith("#")]
    examples = [line.strip() for block in blocks[1:] for line in block.splitlines()
                if line.strip()]
    if len(commands) != 3 or "kestrum-devapp" not in commands[0] or "=" not in commands[1]:
        raise Failed("the README's section should give the devapp command, the launcher's "
                     f"path and the launch, in that order, not {commands}")
    devapp, setup, launch = commands
    if not any(e.startswith(launch + " ") and e.endswith("</dev/null") for e in examples):
        raise Failed(f"the README's print-mode example should be the launch, {launch!r}, "
                     f"with a prompt and </dev/null, not {examples}")
    return devapp, setup, launch


class Chain:
    def __init__(self, repo, build, claude):
        self.repo, self.build, self.claude = repo, build, claude
        self.devapp_words, self.cli_setup, self.cli_words = readme_commands(repo)
        if build != os.path.join(repo, "build", "release"):
            self.devapp_words = self.devapp_words.replace("build/release/", build + "/", 1)
            self.cli_setup = self.cli_setup.replace("build/release/", build + "/", 1)
        # Under /tmp, whatever $TMPDIR says (a Mac's is too long for the sockets below), and
        # resolved, as Claude Code reports its working folder (/tmp is a link on a Mac).
        self.tmp = os.path.realpath(tempfile.mkdtemp(prefix="kestrum-e2e-", dir="/tmp"))
        self.home = os.path.join(self.tmp, "home")
        self.project = os.path.join(self.home, "project")
        self.bin = os.path.join(self.tmp, "bin")
        self.log = os.path.join(self.home, "kestrum-devapp.jsonl")
        self.screen = os.path.join(self.tmp, "devapp.txt")
        self.results = os.path.join(self.tmp, "tool_results.jsonl")
        self.requests = os.path.join(self.tmp, "requests.jsonl")
        self.tmux_socket = os.path.join(self.tmp, "tmux.sock")
        self.processes = []
        self.tmux_started = False
        self.devapp = None
        self.failures = []

    # ---------------------------------------------------------------- set-up
    def env(self):
        env = {"HOME": self.home, "PATH": f"{self.bin}:/usr/local/bin:/usr/bin:/bin",
               "TMPDIR": os.path.join(self.tmp, "t"),
               "CLAUDE_CODE_TMPDIR": os.path.join(self.tmp, "t"),
               "ANTHROPIC_BASE_URL": f"http://127.0.0.1:{self.port}",
               "ANTHROPIC_API_KEY": API_KEY, "LANG": LOCALE, "TERM": "xterm-256color"}
        env.update(QUIET)
        return env

    def seed(self):
        for d in (self.bin, self.project, os.path.join(self.home, ".claude"),
                  os.path.join(self.tmp, "t")):
            os.makedirs(d, exist_ok=True)
        wrapper = os.path.join(self.bin, "claude")
        with open(wrapper, "w", encoding="utf-8") as f:
            f.write(f"#!/bin/sh\nexec {shlex.quote(self.claude)} \"$@\"\n")
        os.chmod(wrapper, 0o755)
        with open(os.path.join(self.home, ".claude.json"), "w", encoding="utf-8") as f:
            json.dump({"hasCompletedOnboarding": True, "lastOnboardingVersion": VERSION_SEEN,
                       "lastReleaseNotesSeen": VERSION_SEEN, "theme": "dark", "numStartups": 5,
                       "autoUpdates": False,
                       "customApiKeyResponses": {"approved": [API_KEY[-20:]], "rejected": []},
                       "projects": {self.project: {
                           "hasTrustDialogAccepted": True,
                           "hasCompletedProjectOnboarding": True,
                           "projectOnboardingSeenCount": 1, "allowedTools": []}}}, f)
        with open(self.user_settings(), "w", encoding="utf-8") as f:
            f.write("{}\n")
        subprocess.run(["git", "init", "-q", "-b", BRANCH, self.project], check=True,
                       env={"HOME": self.home, "PATH": "/usr/bin:/bin"})

    def user_settings(self):
        return os.path.join(self.home, ".claude", "settings.json")

    def start(self, words, **kwargs):
        process = subprocess.Popen(words, start_new_session=True, **kwargs)
        self.processes.append(process)
        return process

    def start_model(self):
        script = os.path.join(self.tmp, "script.json")
        with open(script, "w", encoding="utf-8") as f:
            json.dump(self.script(), f)
        port_file = os.path.join(self.tmp, "port")
        self.start([sys.executable, os.path.join(HERE, "model_standin.py"), "--script", script,
                    "--port-file", port_file, "--results", self.results,
                    "--requests", self.requests], stdin=subprocess.DEVNULL)
        self.port = int(wait_until("the model stand-in", lambda: read(port_file).strip()))

    def start_devapp(self):
        print(f"e2e: in the checkout: {self.devapp_words}")
        self.devapp = self.start(["/bin/bash", "-c", "exec " + self.devapp_words], cwd=self.repo,
                                 env=self.env(), stdin=subprocess.PIPE,
                                 stdout=open(self.screen, "w"), stderr=subprocess.STDOUT)
        line = wait_until("the devapp to serve",
                          lambda: re.search(r"serving profile \S+ on (.+?), hooks run",
                                            read(self.screen)))
        self.socket = line.group(1)
        name = os.path.basename(self.socket)[:-len(".sock")]
        self.token = self.socket[:-len(".sock")] + ".token"
        self.profile_dir = os.path.join(os.path.dirname(os.path.dirname(self.socket)),
                                        "profiles", name)

    def type_at_devapp(self, line):
        self.devapp.stdin.write((line + "\n").encode())
        self.devapp.stdin.flush()

    def cli(self, prompt=None):
        """The README's launcher lines as a shell script: its path named in the checkout, then
        the launch from the project, in print mode with a prompt as its example shows."""
        launch = self.cli_words + (f" {shlex.quote(prompt)} </dev/null" if prompt else "")
        return (f"cd {shlex.quote(self.repo)}\n{self.cli_setup}\n"
                f"cd {shlex.quote(self.project)}\nexec {launch}")

    # ---------------------------------------------------------------- the model's script
    def script(self):
        p = self.project
        bash = lambda command: {"tool": "Bash", "input": {"command": command,
                                                          "description": "e2e probe"}}
        gate = os.path.join(self.tmp, "gate")
        return {
            "e2e-main": [
                [bash("touch allowed.txt")],
                [bash("rm -rf gone && touch denied.txt")],
                [bash("true git push --force && touch person-allowed.txt")],
                [bash("true git push --force --tags && touch person-denied.txt")],
                [{"tool": "Write", "input": {"file_path": f"{p}/written.txt",
                                             "content": "by permission"}}],
                [{"tool": "Write", "input": {"file_path": f"{p}/secret.txt",
                                             "content": "never"}}],
                [{"text": "Done."}],
            ],
            # Read-only, so that Claude Code's own rules let it run once the hook stands aside.
            "e2e-local": [[{"wait_for": gate}, bash("echo local-ran")], [{"text": "Done."}]],
            "e2e-remote": [[{"wait_for": gate}, bash("echo remote-ran")], [{"text": "Done."}]],
            # Whether the blocked settings change took effect, then a call left to a person.
            "e2e-ask": [[bash("echo changed=${E2E_CHANGED:-no}")], [bash("sudo true")],
                        [{"text": "Done."}]],
        }

    # ---------------------------------------------------------------- what was seen
    def check(self, number, what, ok, detail=""):
        print(f"{'ok  ' if ok else 'FAIL'}  {number:>2}. {what}" + ("" if ok else f": {detail}"))
        if not ok:
            self.failures.append(f"{number}. {what}")

    def results_of(self, keyword):
        return [r for r in json_lines(self.results) if r["keyword"] == keyword]

    def app_messages(self):
        return [r["message"] for r in json_lines(self.log)
                if r.get("direction") == "in" and isinstance(r.get("message"), dict)]

    def sessions_with(self, prompt_word):
        ids = []
        for m in self.app_messages():
            params = m.get("params") or {}
            if m.get("method") == "prompt_submitted" and prompt_word in json.dumps(params):
                ids.append(params.get("session_id"))
        return ids

    def run_print(self, keyword):
        out = open(os.path.join(self.tmp, f"{keyword}.out"), "w")
        print(f"e2e: in the checkout: {self.cli_setup}")
        print(f"e2e: in the project: {self.cli_words} '{keyword}: …' </dev/null")
        return self.start(["/bin/bash", "-c", self.cli(f"{keyword}: run the probes.")],
                          cwd=self.tmp, env=self.env(), stdin=subprocess.DEVNULL,
                          stdout=out, stderr=subprocess.STDOUT)

    def hook_hellos(self, since):
        return [m["params"] for m in self.app_messages()[since:]
                if m.get("method") == "hello" and (m.get("params") or {}).get("role") == "hook"]

    # ---------------------------------------------------------------- the runs
    def print_run(self):
        start = len(self.app_messages())
        claude = self.run_print("e2e-main")
        decided = set()

        def decide_holds():
            for perm, call in re.findall(r"(perm-\d+) waits for you: (.*?)  \(type",
                                         read(self.screen)):
                if perm in decided:
                    continue
                decided.add(perm)
                if "--tags" in call:
                    self.type_at_devapp("holds")
                    self.type_at_devapp(f"deny {perm} {PERSON_REASON}")
                else:
                    self.type_at_devapp(f"allow {perm}")
            return claude.poll() is not None

        wait_until("the print-mode session", decide_holds, 4 * STEP_S)
        output = read(os.path.join(self.tmp, "e2e-main.out"))
        files = lambda name: os.path.exists(os.path.join(self.project, name))
        messages = self.app_messages()[start:]
        methods = {m.get("method") for m in messages}
        events = {(m.get("params") or {}).get("event") for m in messages
                  if m.get("method") == "session_event"}
        folders = {(m.get("params") or {}).get("cwd") for m in messages
                   if m.get("method") == "session_event"}
        needed = {"launch.register", "hello", "prompt_submitted", "policy_check", "policy_wait",
                  "permission_decide"}
        expected_events = {"SessionStart", "PostToolUse", "Stop", "SessionEnd"}
        self.check(1, "the launch is registered and every hook runs",
                   needed <= methods and expected_events <= events and claude.returncode == 0
                   and folders == {self.project}
                   and "not found" not in output and "ettings" not in output,
                   f"exit {claude.returncode}, in {folders}, "
                   f"methods {sorted(m for m in methods if m)}, "
                   f"events {sorted(e for e in events if e)}, output {output[-400:]!r}")
        pids = {h.get("pid") for h in self.hook_hellos(start)}
        self.check(2, "every hook greets with Claude Code's own pid",
                   pids == {claude.pid}, f"claude {claude.pid}, hooks {sorted(pids)}")
        denied = self.tool_result("e2e-main", 1)
        self.check(3, "an allowed call runs; a denied one is blocked with the app's reason",
                   files("allowed.txt") and not files("denied.txt") and denied is not None
                   and denied["is_error"]
                   and f"PreToolUse:Bash hook error: {DENY_REASON}" in denied["text"],
                   f"denied result {denied}")
        person_denied = self.tool_result("e2e-main", 3)
        self.check(4, "a held call is decided by a person at the devapp, both ways",
                   len(decided) == 2 and files("person-allowed.txt")
                   and not files("person-denied.txt") and person_denied is not None
                   and PERSON_REASON in person_denied["text"]
                   and "waiting: perm-" in read(self.screen),
                   f"decided {sorted(decided)}, result {person_denied}")
        write_denied = self.tool_result("e2e-main", 5)
        self.check(5, "a permission request is decided by the app: allow and deny",
                   read(os.path.join(self.project, "written.txt")) == "by permission"
                   and not files("secret.txt") and write_denied is not None
                   and WRITE_REASON in write_denied["text"], f"result {write_denied}")
        self.check(6, "the prompt's extra context reaches the model",
                   CONTEXT in read(self.requests), "not in any request")

    def tool_result(self, keyword, turn):
        """The result of the tool call the script made at this turn."""
        for r in self.results_of(keyword):
            if r["tool_use_id"].startswith(f"toolu_{keyword}_{turn}_"):
                return r
        return None

    def tmux(self, *words, check=True):
        return subprocess.run([TMUX, "-S", self.tmux_socket, *words], check=check,
                              capture_output=True, text=True, env=self.env())

    def pane(self):
        return self.tmux("capture-pane", "-p", "-t", "e2e", check=False).stdout

    def interactive_run(self):
        start = len(self.app_messages())
        print(f"e2e: in the project: {self.cli_words}   (interactive, under tmux)")
        self.tmux("new-session", "-d", "-s", "e2e", "-x", "200", "-y", "50", "-c", self.tmp,
                  self.cli())
        self.tmux_started = True
        claude_pid = int(self.tmux("display-message", "-p", "-t", "e2e", "#{pane_pid}").stdout)
        shown = False
        try:
            shown = wait_until("the status line", lambda: f"on {BRANCH}" in self.pane())
        except Failed:
            pass
        self.check(8, "the wrapped user status line is on the screen", shown,
                   f"screen:\n{self.pane()}")
        session = wait_until("the interactive session's start", lambda: [
            (m.get("params") or {}).get("session_id") for m in self.app_messages()[start:]
            if m.get("method") == "session_event"
            and (m.get("params") or {}).get("event") == "SessionStart"])[0]
        self.type_at_devapp(f"remote {session}")
        wait_until("the remote marker", lambda: f"session {session} is remote" in read(self.screen))
        with open(self.user_settings(), "w", encoding="utf-8") as f:
            f.write('{"env": {"E2E_CHANGED": "1"}}\n')
        answered = lambda: [r for r in json_lines(self.log)[start:]
                            if r.get("direction") == "out" and r.get("method") == "config_change"]
        blocked = wait_until("the configuration change", answered)[0]["answer"] == {"block": True}
        self.type_at_devapp(f"local {session}")
        self.tmux("send-keys", "-t", "e2e", "-l", "e2e-ask: run the probe.")
        time.sleep(0.5)
        self.tmux("send-keys", "-t", "e2e", "Enter")
        notified = False
        try:
            notified = wait_until("the notification", lambda: any(
                (m.get("params") or {}).get("event") == "Notification"
                for m in self.app_messages()[start:] if m.get("method") == "session_event"))
        except Failed:
            pass
        probe = self.tool_result("e2e-ask", 0)
        self.check(7, "a remote session's configuration change is blocked",
                   blocked and probe is not None and "changed=no" in probe["text"],
                   f"blocked {blocked}, probe {probe}")
        pids = {h.get("pid") for h in self.hook_hellos(start)}
        self.check("7b", "an unanswered dialog reaches the app as a Notification", notified,
                   f"screen:\n{self.pane()}")
        self.check("2b", "the interactive session's hooks greet with Claude Code's pid",
                   pids == {claude_pid}, f"claude {claude_pid}, hooks {sorted(pids)}")
        self.tmux("kill-session", "-t", "e2e", check=False)

    def fallback_run(self):
        local = self.run_print("e2e-local")
        remote = self.run_print("e2e-remote")
        ids = wait_until("both sessions' prompts", lambda: (
            self.sessions_with("e2e-local") and self.sessions_with("e2e-remote")) and (
            self.sessions_with("e2e-local")[0], self.sessions_with("e2e-remote")[0]))
        self.type_at_devapp(f"remote {ids[1]}")
        wait_until("the remote marker", lambda: f"session {ids[1]} is remote" in read(self.screen))
        settings = [f for f in os.listdir(self.profile_dir)
                    if f.startswith("devapp-settings-")]
        self.type_at_devapp("quit")
        self.devapp.stdin.close()
        status = self.devapp.wait(STEP_S)
        left = [f for f in os.listdir(self.profile_dir)
                if f.startswith("devapp-settings-")]
        self.check(10, "after the devapp exits its socket, token and settings files are gone",
                   status == 0 and settings and not left and not os.path.exists(self.socket)
                   and not os.path.exists(self.token),
                   f"exit {status}, settings before {settings}, left {left}, "
                   f"socket {os.path.exists(self.socket)}, token {os.path.exists(self.token)}")
        open(os.path.join(self.tmp, "gate"), "w").close()
        for process in (local, remote):
            process.wait(2 * STEP_S)
        ran, held = self.tool_result("e2e-local", 0), self.tool_result("e2e-remote", 0)
        self.check(9, "with the devapp gone a local session's call runs, a remote one's is held",
                   ran is not None and not ran["is_error"] and "local-ran" in ran["text"]
                   and held is not None and held["is_error"] and ON_HOLD in held["text"]
                   and "remote-ran" not in held["text"], f"local {ran}, remote {held}")

    # ---------------------------------------------------------------- clean-up
    def stop_everything(self):
        if self.tmux_started:
            self.tmux("kill-server", check=False)
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for process in self.processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def run(self):
        began = time.monotonic()
        try:
            self.seed()
            self.start_model()
            self.start_devapp()
            self.print_run()
            self.interactive_run()
            self.fallback_run()
        except (Failed, subprocess.TimeoutExpired, subprocess.CalledProcessError) as e:
            self.failures.append(str(e))
            print(f"FAIL  {e}")
        finally:
            self.stop_everything()
        print(f"e2e: {time.monotonic() - began:.0f} s")
        if self.failures:
            print("e2e: the devapp's screen:\n" + read(self.screen)[-4000:])
            print(f"e2e: {len(self.failures)} check(s) failed; files kept in {self.tmp}")
            return 1
        shutil.rmtree(self.tmp, ignore_errors=True)
        print("e2e: every check passed")
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--claude", required=True)
    args = parser.parse_args()
    # Stopped from outside, it still stops everything it started (see Chain.run).
    for stop in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(stop, lambda number, _: sys.exit(128 + number))
    try:
        chain = Chain(os.path.abspath(args.repo), os.path.abspath(args.build), args.claude)
    except Failed as e:
        print(f"FAIL  {e}")
        return 1
    return chain.run()


if __name__ == "__main__":
    sys.exit(main())
