#!/usr/bin/env python3
"""A stand-in for the model's service, on loopback only, for the end-to-end suite.

It answers POST /v1/messages with a streamed assistant turn taken from a script, and records
what Claude Code sends back, so a test can see what the model was told.

The script is a JSON object: for each prompt keyword, a list of turns, the n-th played when the
conversation already holds n assistant turns. A turn is a list of blocks:
  {"text": "..."}                               a text block
  {"tool": "Bash", "input": {...}}              a tool call
  {"wait_for": "/path"}                         hold the answer until the file exists
A conversation whose first user message names no keyword gets one "Done." (session titles too).

Records (JSON lines): every tool_result, once, with the keyword of its conversation
(--results), and every request body (--requests).
"""
import argparse
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

WAIT_LIMIT_S = 120


def texts_of(content):
    if isinstance(content, str):
        return [content]
    out = []
    for block in content or []:
        if not isinstance(block, dict):
            continue
        if block.get("type") == "text":
            out.append(block.get("text", ""))
        elif block.get("type") == "tool_result":
            out.extend(texts_of(block.get("content")))
    return out


class Recorder:
    def __init__(self, results_path, requests_path):
        self.lock = threading.Lock()
        self.seen = set()
        self.results = open(results_path, "a", encoding="utf-8")
        self.requests = open(requests_path, "a", encoding="utf-8")

    def request(self, body):
        with self.lock:
            self.requests.write(json.dumps(body) + "\n")
            self.requests.flush()

    def tool_results(self, keyword, messages):
        with self.lock:
            for message in messages:
                content = message.get("content")
                if message.get("role") != "user" or not isinstance(content, list):
                    continue
                for block in content:
                    if not isinstance(block, dict) or block.get("type") != "tool_result":
                        continue
                    if block.get("tool_use_id") in self.seen:
                        continue
                    self.seen.add(block.get("tool_use_id"))
                    record = {"keyword": keyword, "tool_use_id": block.get("tool_use_id"),
                              "is_error": bool(block.get("is_error")),
                              "text": "\n".join(texts_of(block.get("content")))}
                    self.results.write(json.dumps(record) + "\n")
            self.results.flush()


def event(kind, data):
    return f"event: {kind}\ndata: {json.dumps(data)}\n\n".encode()


def stream(turn, turn_id):
    """The server-sent events of one assistant message."""
    yield event("message_start", {"type": "message_start", "message": {
        "id": f"msg_{turn_id}", "type": "message", "role": "assistant", "model": "e2e-model",
        "content": [], "stop_reason": None, "stop_sequence": None,
        "usage": {"input_tokens": 1200, "output_tokens": 1}}})
    uses_tools = False
    for index, block in enumerate(turn):
        if "tool" in block:
            uses_tools = True
            start = {"type": "tool_use", "id": f"toolu_{turn_id}_{index}", "name": block["tool"],
                     "input": {}}
            delta = {"type": "input_json_delta", "partial_json": json.dumps(block["input"])}
        else:
            start = {"type": "text", "text": ""}
            delta = {"type": "text_delta", "text": block["text"]}
        yield event("content_block_start",
                    {"type": "content_block_start", "index": index, "content_block": start})
        yield event("content_block_delta",
                    {"type": "content_block_delta", "index": index, "delta": delta})
        yield event("content_block_stop", {"type": "content_block_stop", "index": index})
    yield event("message_delta", {"type": "message_delta", "delta": {
        "stop_reason": "tool_use" if uses_tools else "end_turn", "stop_sequence": None},
        "usage": {"output_tokens": 40}})
    yield event("message_stop", {"type": "message_stop"})


def make_handler(script, recorder):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            try:
                body = json.loads(self.rfile.read(length) or b"{}")
            except ValueError:
                body = {}
            if not self.path.startswith("/v1/messages") or self.path.startswith(
                    "/v1/messages/count_tokens"):
                self.answer_json({"input_tokens": 10} if "count_tokens" in self.path else {})
                return
            recorder.request(body)
            messages = body.get("messages") or []
            first_user = next((m for m in messages if m.get("role") == "user"), {})
            prompt = "\n".join(texts_of(first_user.get("content")))
            keyword = next((k for k in script if k in prompt), None)
            recorder.tool_results(keyword, messages)
            turns = script.get(keyword, []) if keyword and body.get("tools") else []
            played = sum(1 for m in messages if m.get("role") == "assistant")
            turn = turns[played] if played < len(turns) else [{"text": "Done."}]
            blocks = []
            for block in turn:
                if "wait_for" in block:
                    deadline = time.monotonic() + WAIT_LIMIT_S
                    while not os.path.exists(block["wait_for"]) and time.monotonic() < deadline:
                        time.sleep(0.1)
                else:
                    blocks.append(block)
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream")
            self.send_header("Cache-Control", "no-cache")
            self.send_header("Connection", "close")
            self.end_headers()
            for chunk in stream(blocks or [{"text": "Done."}], f"{keyword}_{played}"):
                self.wfile.write(chunk)
                self.wfile.flush()
            self.close_connection = True

        def do_GET(self):
            self.answer_json({})

        def do_HEAD(self):
            self.send_response(200)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def answer_json(self, value):
            data = json.dumps(value).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--port-file", required=True, help="written once listening")
    parser.add_argument("--results", required=True)
    parser.add_argument("--requests", required=True)
    args = parser.parse_args()
    with open(args.script, encoding="utf-8") as f:
        script = json.load(f)
    recorder = Recorder(args.results, args.requests)
    server = ThreadingHTTPServer(("127.0.0.1", 0), make_handler(script, recorder))
    server.daemon_threads = True
    temp = args.port_file + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        f.write(str(server.server_address[1]))
    os.replace(temp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
