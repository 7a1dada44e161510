#!/usr/bin/env python3
"""Reads a Prometheus text exposition with prometheus_client's own parser (Debian's
python3-prometheus-client, independent of vestrel-check) and prints its families as JSON;
a text the parser refuses exits 1 with its words on standard error."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families


def main():
    with open(sys.argv[1], encoding="utf-8") as source:
        text = source.read()
    families = []
    for family in text_string_to_metric_families(text):
        families.append({
            "name": family.name,
            "type": family.type,
            "help": family.documentation,
            "samples": [{"name": s.name, "labels": s.labels, "value": s.value} for s in family.samples],
        })
    json.dump({"families": families}, sys.stdout)


if __name__ == "__main__":
    try:
        main()
    except Exception as problem:  # the parser's refusal, whatever its kind
        print(f"{type(problem).__name__}: {problem}", file=sys.stderr)
        sys.exit(1)
