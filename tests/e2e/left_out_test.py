#!/usr/bin/env python3
# Each test that debian/rules leaves out of the package build names a test of this build, so that
# a test renamed or removed cannot leave a stale name there, nor a new test of that name go unrun.
# Usage: left_out_test.py debian/rules BUILD_FOLDER CTEST
import re, subprocess, sys

rules, build, ctest = sys.argv[1:]
text = open(rules).read()
lacks = re.search(r"^emulator_lacks = (.*)$", text, re.M)[1]
left_out = re.search(r"-E '(.*?)'", text)[1].replace("$(emulator_lacks)", lacks).replace("$$", "$")
listing = subprocess.run([ctest, "--test-dir", build, "-N"], capture_output=True, text=True).stdout
tests = re.findall(r"^\s*Test\s+#\d+: (\S+)$", listing, re.M)


def alternatives(pattern):  # the pattern once for each alternative of each group: one name each
    group = re.search(r"\(([^()]*)\)", pattern)
    if not group:
        return [pattern]
    head, tail = pattern[:group.start()], pattern[group.end():]
    return [each for part in group[1].split("|") for each in alternatives(head + part + tail)]


names = dict.fromkeys(alternatives(left_out))
stale = [name for name in names if not any(re.search(name, test) for test in tests)]
for pattern in stale:
    print(f"debian/rules leaves out {pattern}, which names none of the {len(tests)} tests")
sys.exit(1 if stale else 0)
