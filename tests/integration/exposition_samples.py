#!/usr/bin/python3
"""Reads a Prometheus text exposition with the client library's own parser and prints one JSON
object per sample, with its family's type and help. Exits 1 when the parser rejects the text."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

with open(sys.argv[1], encoding="utf-8") as source:
    text = source.read()
try:
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            print(json.dumps({"name": sample.name, "labels": sample.labels, "value": sample.value,
                              "type": family.type, "help": family.documentation}))
except ValueError as error:
    print(f"rejected: {error}", file=sys.stderr)
    sys.exit(1)
