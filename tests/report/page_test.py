#!/usr/bin/env python3
"""The fleet report's page in a browser: the described machines' answers
(vk_report_answers) reported by vk_check with --csv and --html, the page
opened in headless chromium, its DOM read back and held against the CSV the
same run wrote: one row of the machines' table a machine, in the CSV's
order, its data-status and the class of its coloured cell the CSV's verdict.
A screenshot of it is left in the output folder. Exits 77 (skipped) only
when chromium is not installed.

usage: page_test.py VK_REPORT_ANSWERS VK_CHECK OUT_FOLDER
"""
import csv
import html.parser
import os
import shutil
import subprocess
import sys

# The report's verdicts and the page's names for them.
KEYS = {
    "unsafe": "unsafe",
    "not allowed to read": "not-allowed",
    "run again": "run-again",
    "waiting for the restart": "waiting",
    "sound": "sound",
    "unreadable": "unreadable",
}


class Machines(html.parser.HTMLParser):
    """The rows of <table id="machines"> as (data-status, the cells' classes, the cells' text)."""

    def __init__(self):
        super().__init__()
        self.rows, self.depth, self.cell = [], 0, None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table":
            self.depth += 1 if self.depth or attrs.get("id") == "machines" else 0
        elif self.depth and tag == "tr":
            self.rows.append((attrs.get("data-status"), [], []))
        elif self.depth and tag in ("td", "th"):
            self.rows[-1][1].append(attrs.get("class"))
            self.rows[-1][2].append("")
            self.cell = True

    def handle_endtag(self, tag):
        if tag == "table" and self.depth:
            self.depth -= 1
        elif tag in ("td", "th"):
            self.cell = None

    def handle_data(self, data):
        if self.depth and self.cell:
            self.rows[-1][2][-1] += data


def chromium(browser, *arguments):
    return subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu",
                           "--no-first-run", *arguments], capture_output=True, timeout=180)


def main():
    answers, vk_check, out = sys.argv[1:4]
    browser = shutil.which("chromium")
    if browser is None:
        print("skipped: chromium is not installed (scripts/setup.sh installs it)")
        return 77
    folder = os.path.join(out, "answers")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run([answers, folder], check=True, stdout=subprocess.DEVNULL)
    page, table = os.path.join(out, "report.html"), os.path.join(out, "report.csv")
    report = subprocess.run([vk_check, "report", folder, "--csv", table, "--html", page],
                            capture_output=True)
    if report.returncode != 0:
        print(f"vk_check report exited {report.returncode}: {report.stderr.decode()}")
        return 1
    with open(table, newline="", encoding="utf-8") as f:
        records = list(csv.reader(f, strict=True))
    header, records = records[0], records[1:]
    url = "file://" + os.path.abspath(page)
    dom = chromium(browser, "--dump-dom", url)
    parser = Machines()
    parser.feed(dom.stdout.decode("utf-8"))
    rows = [row for row in parser.rows if row[0] is not None]
    failures = []
    if header[:2] != ["machine", "verdict"] or len(records) < 40:
        failures.append(f"the CSV's header {header} or its {len(records)} rows")
    if len(rows) != len(records):
        failures.append(f"{len(rows)} machine rows on the page, {len(records)} in the CSV")
    for record, (status, classes, cells) in zip(records, rows):
        machine, verdict = record[0], record[1]
        key = KEYS.get(verdict)
        if cells[:2] != [machine, verdict] or status != key or classes[1] != key:
            failures.append(f"{machine} {verdict}: the page's row {status} {classes[1]} {cells[:2]}")
    shot = os.path.join(out, "report.png")
    if os.path.exists(shot):
        os.remove(shot)
    chromium(browser, "--screenshot=" + shot, "--window-size=1200,900", url)
    with open(shot, "rb") if os.path.exists(shot) else open(os.devnull, "rb") as f:
        if f.read(8) != b"\x89PNG\r\n\x1a\n":
            failures.append("no screenshot was made")
    for failure in failures:
        print(failure)
    print(f"{len(rows)} machines on the page, as in the CSV; screenshot {shot}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
