#!/usr/bin/env python3
"""The end of a soak run: the console must still be registered and subscribed, every camera's
colour in the form and status in the store must equal the platform's, and the console's memory
must not have grown. Prints one summary line per check; exits 1 when one fails.

The platform's statuses are the camera file's, changed by its EVENT lines in order."""
import argparse
import csv
import re
import sys
from datetime import datetime

EVENT = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) EVENT (.*)$")


def events(log_path):
    out = []
    with open(log_path, encoding="utf-8", errors="replace") as log:
        for line in log:
            m = EVENT.match(line.rstrip("\n"))
            if m:
                out.append((datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f"), m.group(2)))
    return out


def platform_statuses(cameras_csv, evs):
    with open(cameras_csv, encoding="utf-8") as f:
        status = {row["code"]: row["online"] == "1" for row in csv.DictReader(f)}
    changes = 0
    for _, text in evs:
        m = re.match(r"camera (\d{20}) status (ON|OFF)$", text)
        if m:
            status[m.group(1)] = m.group(2) == "ON"
            changes += 1
    return status, changes


def registered_and_subscribed(evs, host, expires):
    """Registered after the last restart, and the console's latest subscription still lives."""
    problems = []
    restarts = [t for t, text in evs if text.startswith("restart:")]
    since = restarts[-1] if restarts else datetime.min
    registered = [t for t, text in evs
                  if t >= since and text.startswith(f"device {host} registered")]
    if not registered:
        problems.append("not registered since the last restart")
    elif any(t > registered[-1] and text == f"registration of {host} expired" for t, text in evs):
        problems.append("the registration expired")
    grants = [(t, text.split()[1]) for t, text in evs
              if re.match(rf"subscription \S+ from {host} granted", text)]
    end = evs[-1][0]
    live = [g for g in grants if g[0] >= since]
    if not live:
        problems.append("no subscription since the last restart")
    else:
        at, call_id = live[-1]
        gone = [text for t, text in evs if t > at and re.match(
            rf"subscription {re.escape(call_id)} (expired|ended|replaced)", text)]
        if gone:
            problems.append(f"the last subscription is gone: {gone[0]}")
        if (end - at).total_seconds() > expires:
            problems.append(f"the last subscription was granted {end - at} before the log ends")
    return problems, len(grants), len(restarts)


def colour_statuses(form_path, online, offline):
    out = {}
    with open(form_path, encoding="utf-8") as f:
        for line in f:
            code, colour = line.split(" ", 2)[:2]
            out[code] = {online: True, offline: False}.get(colour)
    return out


def store_statuses(dump_path):
    out = {}
    with open(dump_path, encoding="utf-8") as f:
        for line in f:
            if "|" in line:
                code, status = line.strip().split("|")
                out[code] = status == "1"
    return out


def differences(name, expected, actual):
    wrong = [c for c in expected if actual.get(c) != expected[c]]
    for code in wrong[:10]:
        print(f"SOAK {name}: {code} is {actual.get(code)}, the platform has {expected[code]}")
    return len(wrong)


def rss_kb(path):
    with open(path) as f:
        return int(f.read().split()[1])


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--cameras", required=True)
    a.add_argument("--platform-log", required=True)
    a.add_argument("--form", required=True)
    a.add_argument("--store", required=True)
    a.add_argument("--host-code", required=True)
    a.add_argument("--expires", type=int, required=True)
    a.add_argument("--online", required=True)
    a.add_argument("--offline", required=True)
    a.add_argument("--rss-start", required=True)
    a.add_argument("--rss-end", required=True)
    a.add_argument("--min-lifetimes", type=int, default=30)
    a.add_argument("--restarts", type=int, default=2)
    a.add_argument("--max-growth-kb", type=int, default=5 * 1024)
    args = a.parse_args()

    evs = events(args.platform_log)
    failures = []
    problems, lifetimes, restarts = registered_and_subscribed(evs, args.host_code, args.expires)
    failures += problems
    if lifetimes < args.min_lifetimes:
        failures.append(f"{lifetimes} subscriptions granted, fewer than {args.min_lifetimes}")
    if restarts != args.restarts:
        failures.append(f"{restarts} platform restarts, not {args.restarts}")
    status, changes = platform_statuses(args.cameras, evs)
    form = colour_statuses(args.form, args.online, args.offline)
    store = store_statuses(args.store)
    wrong_form = differences("form", status, form)
    wrong_store = differences("store", status, store)
    if wrong_form:
        failures.append(f"{wrong_form} cameras coloured unlike the platform's status")
    if wrong_store:
        failures.append(f"{wrong_store} cameras stored unlike the platform's status")
    start, end = rss_kb(args.rss_start), rss_kb(args.rss_end)
    if end - start >= args.max_growth_kb:
        failures.append(f"RSS grew by {end - start} kB")
    print(f"SOAK subscriptions granted {lifetimes}, platform restarts {restarts}, "
          f"status changes {changes}")
    print(f"SOAK {len(status)} cameras: form {len(status) - wrong_form} and store "
          f"{len(status) - wrong_store} as the platform has them")
    print(f"SOAK RSS start {start / 1024:.1f} MB, end {end / 1024:.1f} MB "
          f"({(end - start) / 1024:+.1f} MB)")
    for f in failures:
        print(f"SOAK FAILED: {f}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
