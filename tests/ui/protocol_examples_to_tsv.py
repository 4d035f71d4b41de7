#!/usr/bin/env python3
"""Flattens the page protocol examples (JSON) into one tab-separated line per example
for the native dispatcher's tests: side, text, kind, index, bits, handlerText, ignored, why."""
import json
import sys

source, target = sys.argv[1], sys.argv[2]
with open(source, encoding="utf-8") as f:
    examples = json.load(f)["examples"]
lines = []
for ex in examples:
    side = "page" if "page" in ex else "host"
    fields = [side, ex[side], ex.get("kind", ""), str(ex.get("index", "")), ex.get("bits", ""),
              ex.get("handlerText", ""), "1" if ex.get("ignored") else "0", ex.get("why", "")]
    for field in fields:
        if "\t" in field or "\n" in field:
            sys.exit(f"protocol example holds a tab or line feed: {field!r}")
    lines.append("\t".join(fields))
with open(target, "w", encoding="utf-8", newline="\n") as f:
    f.write("\n".join(lines) + "\n")
