#!/usr/bin/env python3
"""A PreToolUse hook as users write one: the same exchange with the app, in plain Python."""
import json
import os
import socket
import sys


def call(conn, reader, message):
    conn.sendall(json.dumps(message, separators=(",", ":"), sort_keys=True).encode() + b"\n")
    return json.loads(reader.readline())


def main():
    event = json.load(sys.stdin)
    run = os.path.join(os.environ["HOME"], "Library/Application Support/kestrum/run")
    with open(os.path.join(run, "kestrum.token")) as f:
        token = f.read().strip()
    conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    conn.connect(os.path.join(run, "kestrum.sock"))
    reader = conn.makefile("rb")
    hello = {"config_dir": os.environ.get("CLAUDE_CONFIG_DIR", ""), "cwd": event.get("cwd", ""),
             "pid": os.getppid(), "protocol_version": 0, "role": "hook",
             "session_id": event["session_id"], "token": token}
    call(conn, reader, {"id": 1, "jsonrpc": "2.0", "method": "hello", "params": hello})
    params = {k: event[k] for k in ("session_id", "cwd", "permission_mode", "transcript_path",
                                    "tool_name", "agent_id") if k in event}
    params["tool_input"] = event.get("tool_input", {})
    answer = call(conn, reader, {"id": 2, "jsonrpc": "2.0", "method": "policy_check",
                                 "params": params})
    conn.close()
    decision = answer.get("result", {}).get("decision")
    if decision:
        print(json.dumps({"hookSpecificOutput": {"hookEventName": "PreToolUse",
                                                 "permissionDecision": decision,
                                                 "permissionDecisionReason": ""}},
                         separators=(",", ":")))


main()
