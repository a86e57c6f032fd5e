#!/usr/bin/env python3
"""Markdown table of bench_tunnel_forwarding and bench_iperf_load JSON results: every path side by
side, with the tunnel's ratios against ssh -L and the targets they are held to."""
import json
import sys

PATHS = ["direct", "ssh -L", "tunnel, first", "tunnel, legacy"]


def load(paths):
    """Runs by (family, path): a family is the benchmark's name with its arguments but the path
    ("BM_Iperf/streams:8/down:1")."""
    runs = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("error_occurred"):
                continue
            parts = [p for p in b["name"].split("/") if ":" in p and not p.startswith(
                ("iterations:", "real_time"))]
            arg = next(p for p in parts if p.startswith("path:"))
            family = "/".join([b["name"].split("/")[0]] + [p for p in parts if p != arg])
            runs[(family, int(arg.split(":")[1]))] = b
    return runs


def metric(runs, family, key, scale=1.0):
    vals = []
    for p in range(4):
        b = runs.get((family, p))
        vals.append(b[key] * scale if b and key in b else None)
    return vals


def fmt(v):
    if v is None:
        return "-"
    return f"{v:,.0f}" if abs(v) >= 100 else f"{v:.3g}"


def ratio(a, b):
    return f"{a / b:.2f}x" if a is not None and b not in (None, 0) else "-"


def main():
    runs = load(sys.argv[1:])
    rows = []

    def row(label, vals, target="", ratios=True):
        r = [label] + [fmt(v) for v in vals]
        if ratios:
            r += [ratio(vals[2], vals[1]), ratio(vals[3], vals[1])]
        else:
            r += ["-", "-"]
        rows.append(r + [target])

    for fam, name in (("BM_Bulk", "one bulk stream"), ("BM_Parallel50", "50 parallel streams"),
                      ("BM_Hold499", "499 held connections")):
        target = ">= 1.3x" if fam != "BM_Hold499" else ""
        row(f"{name}: MB/s", metric(runs, fam, "bytes_per_second", 1e-6), target)
        row(f"{name}: client CPU s/GB", metric(runs, fam, "client_cpu_s_per_GB"),
            "<= 0.7x" if fam != "BM_Hold499" else "")
        row(f"{name}: server side CPU s/GB (gateway peer / sshd)",
            metric(runs, fam, "peer_cpu_s_per_GB"))
    row("set-up latency: us", metric(runs, "BM_SetupLatency", "real_time"), "<= 1.0x")
    rtt = metric(runs, "BM_EchoRtt", "real_time")
    row("1-byte echo round trip: us", rtt)
    added = [None if v is None or rtt[0] is None else v - rtt[0] for v in rtt]
    added[0] = None
    row("1-byte echo: added over direct, us", added, "<= 1.2x")
    row("499 held: client KiB per connection", metric(runs, "BM_Hold499", "rss_kb_per_conn"),
        "<= 100 KiB", ratios=False)
    row("499 held: slowest connection / mean", metric(runs, "BM_Hold499", "slowest_vs_mean"),
        ratios=False)
    for down, way in ((0, "upstream"), (1, "downstream")):
        for streams in (1, 8):
            fam = f"BM_Iperf/streams:{streams}/down:{down}"
            name = f"iperf3 {streams} stream{'s' if streams > 1 else ''} {way}"
            row(f"{name}: MB/s", metric(runs, fam, "MB_per_s"), ">= 1.3x")
            row(f"{name}: client CPU s/GB", metric(runs, fam, "client_cpu_s_per_GB"),
                "<= 0.7x" if streams == 1 else "")

    head = ["measure"] + PATHS + ["first / ssh", "legacy / ssh", "target"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in rows:
        print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
