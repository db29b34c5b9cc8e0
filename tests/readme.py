#!/usr/bin/env python3
"""usage: readme.py README TOOL

The README's examples, run as a user would: every "$ command" of it in a
copy of the project's examples, its output against the lines shown; and
every CI recipe parsed as YAML, its commands run in a git repository of the
examples, the reports they write read as their CI systems read them."""
import json, os, re, shutil, subprocess, sys, tempfile
import xml.etree.ElementTree as tree

readme, tool = sys.argv[1], os.path.abspath(sys.argv[2])
root = os.path.dirname(os.path.abspath(readme))
blocks, block = [], []
for line in open(readme, encoding="utf-8").read().splitlines() + [""]:
    if line.startswith("    ") or (block and line == ""):
        block.append(line[4:])
    elif block:
        blocks.append("\n".join(block).rstrip("\n"))
        block = []
work = tempfile.mkdtemp()
shutil.copytree(os.path.join(root, "examples"), os.path.join(work, "examples"))
shutil.copytree(os.path.join(root, ".github"), os.path.join(work, ".github"))
bin_dir = os.path.join(work, "bin")
os.mkdir(bin_dir)
os.symlink(tool, os.path.join(bin_dir, "tallyfix"))
env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
failures = 0


def shell(command):
    return subprocess.run(["sh", "-c", command], cwd=work, env=env, capture_output=True,
                          text=True)


def fail(what, got):
    global failures
    failures += 1
    print("README: %s\n%s" % (what, got))


sessions = [b for b in blocks if b.startswith("$ ")]
for session in sessions:
    for part in re.split(r"^\$ ", session, flags=re.M)[1:]:
        command, *expected = part.rstrip("\n").split("\n")
        done = shell(command + " 2>&1")
        if done.stdout.splitlines() != expected:
            fail("$ " + command, done.stdout)
if len(sessions) < 3:
    fail("fewer examples than the three runs", sessions)

# The recipes, in a repository of the examples: one of each kind.
import yaml  # what pre-commit runs on, so the CI machine has it
subprocess.run(["git", "init", "-q", work], check=True)
subprocess.run(["git", "-C", work, "add", "examples"], check=True)
recipes = {}
for b in blocks:
    if b.startswith("$ ") or b.startswith("cmake"):
        continue
    document = yaml.safe_load(b)
    steps = document if isinstance(document, list) else [document]
    for step in steps:
        if "repos" in step:
            recipes["pre-commit"] = step
        elif "tallyfix" in step:
            recipes["gitlab"] = step
            done = shell("\n".join(step["tallyfix"]["script"]))
            if done.returncode != 1:
                fail("the GitLab job: status %d, expected 1" % done.returncode, done.stderr)
        elif "run" in step:
            recipes.setdefault("github", []).append(step)
            done = shell(step["run"])
            if done.returncode not in (0, 1):
                fail(step["run"], done.stderr)
            if "--format=github" in step["run"] and not done.stdout.startswith("::error file="):
                fail(step["run"], done.stdout)
if sorted(recipes) != ["github", "gitlab", "pre-commit"]:
    fail("recipes missing", sorted(recipes))
sarif = json.load(open(os.path.join(work, "tallyfix.sarif")))
if not sarif["runs"][0]["results"]:
    fail("no SARIF results", sarif)
report = json.load(open(os.path.join(work, "gl-code-quality.json")))
if not all({"description", "check_name", "fingerprint", "severity", "location"} <= set(issue)
           for issue in report) or not report:
    fail("the Code Quality report", report)
cases = tree.parse(os.path.join(work, "tallyfix-junit.xml")).getroot().iter("testcase")
if not [c for c in cases if c.find("failure") is not None]:
    fail("no JUnit failure", open(os.path.join(work, "tallyfix-junit.xml")).read())
shutil.rmtree(work)
sys.exit(1 if failures else 0)
