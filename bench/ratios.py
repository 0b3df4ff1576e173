#!/usr/bin/env python3
"""Prints each measured benchmark beside its anchor: the plain tool or call it stands in for."""
import json
import sys

# measured benchmark -> the anchor it is compared with
PAIRS = {
    "BM_PortProbe_Netlink/time_wait:10000": "BM_PortProbe_Lsof/time_wait:10000",
    "BM_PortProbe_Netlink/time_wait:0": "BM_PortProbe_Lsof/time_wait:0",
    "BM_PortProbe_ProcNet/time_wait:10000": "BM_PortProbe_Lsof/time_wait:10000",
    "BM_PortProbe_ProcNet/time_wait:0": "BM_PortProbe_Lsof/time_wait:0",
    "BM_LoadCompanionDigest": "BM_Sqlite3Bare",
    "BM_ShowPairingQR": "BM_RefreshPairingCode",
    "BM_LoadCompanionDigest_QuietStore": "BM_Sqlite3Bare_QuietStore",
}


def main(paths):
    times = {}
    for path in paths:
        with open(path) as f:
            for run in json.load(f)["benchmarks"]:
                if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
                    continue
                name = run.get("run_name", run["name"])
                times[name] = (run["real_time"], run["time_unit"])
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    print(f"{'benchmark':40} {'time':>14} {'anchor':>14} {'ratio':>8}")
    for name, (value, unit) in sorted(times.items()):
        line = f"{name:40} {value:11.1f} {unit:2}"
        anchor = PAIRS.get(name)
        if anchor in times:
            anchor_value, anchor_unit = times[anchor]
            ratio = value * scale[unit] / (anchor_value * scale[anchor_unit])
            line += f" {anchor_value:11.1f} {anchor_unit:2} {ratio:8.3g}"
        print(line)


if __name__ == "__main__":
    main(sys.argv[1:])
