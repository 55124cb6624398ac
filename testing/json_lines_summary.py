#!/usr/bin/python3
"""Reads a whole run's JSON lines on stdin (one object per line, nothing else) with
Python's json module and prints one summary line per object, for a test to check the
sequence: the event, then its phase, then the other fields as KEY=VALUE in the object's
order as JSON ("text" and "site", the texts for people, shown as KEY=<text>). Exit 1, naming the line,
when a line is not a JSON object with a string "event"."""
import json
import sys


def main():
    count = 0
    for number, raw in enumerate(sys.stdin.buffer.read().split(b"\n"), 1):
        if raw == b"":
            continue
        try:
            value = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError) as error:
            print(f"line {number} is not JSON ({error}): {raw[:200]!r}")
            return 1
        if not isinstance(value, dict) or not isinstance(value.get("event"), str):
            print(f"line {number} is no object with an event: {raw[:200]!r}")
            return 1
        parts = [value.pop("event")]
        if "phase" in value:
            parts.append(value.pop("phase"))
        for key, field in value.items():
            if key in ("text", "site"):
                parts.append(f"{key}=<text>" if field else f"{key}=")
            else:
                parts.append(f"{key}={json.dumps(field)}")
        print(" ".join(parts))
        count += 1
    return 0 if count else 1


if __name__ == "__main__":
    sys.exit(main())
