"""The README's examples, run as a reader would paste them.

Every ```sh and ```python block of README.md runs, in order, from the root of a
temporary copy of the repository whose `build` is the build folder under test
(so `build/cli/tavo` is the one just built). The `export` lines of a shell
block hold for every block after it. A block is left out only when the line before
its fence says why (`<!-- readme-test: skip ... -->`, e.g. the set-up commands
themselves); a block marked `<!-- readme-test: window -->` opens windows, and
each of its commands runs under Xvfb for a few seconds and must still be
running when it is stopped. No command may change a tracked file.

Usage: readme_test.py SOURCE_DIR BUILD_DIR
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\w*)\s*$")
MARK = re.compile(r"^<!--\s*readme-test:\s*(skip|window)\b")


def blocks(readme):
    """(language, mark, first line number, text) of each fenced block."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        mark = None
        if i > 0 and MARK.match(lines[i - 1]):
            mark = MARK.match(lines[i - 1]).group(1)
        j = i + 1
        while j < len(lines) and not lines[j].startswith("```"):
            j += 1
        found.append((m.group(1), mark, i + 1, "\n".join(lines[i + 1 : j])))
        i = j + 1
    return found


def tracked(source):
    out = subprocess.run(["git", "-C", source, "ls-files", "-z"], capture_output=True, check=True)
    return [p for p in out.stdout.decode().split("\0") if p]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def commands(text):
    """A shell block as its commands: lines joined at trailing backslashes."""
    joined = text.replace("\\\n", " ")
    return [c for c in joined.split("\n") if c.strip() and not c.strip().startswith("#")]


def main():
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = tempfile.mkdtemp(prefix="tavo-readme-")
    failures = []
    try:
        files = tracked(source)
        for path in files:
            target = os.path.join(work, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(os.path.join(source, path), target, follow_symlinks=False)
        os.symlink(build, os.path.join(work, "build"))
        before = {p: digest(os.path.join(work, p)) for p in files}
        env = dict(os.environ, HOME=work, MPLCONFIGDIR=os.path.join(work, ".mpl"))
        env.pop("DISPLAY", None)
        exports = []  # the export lines of the shell blocks so far
        for language, mark, line, text in blocks(os.path.join(work, "README.md")):
            if mark == "skip" or language not in ("sh", "python"):
                continue
            where = f"README.md:{line}"
            if language == "python":
                script = "\n".join(exports + ["exec /usr/bin/python3 - <<'PYTHON'", text, "PYTHON"])
            elif mark == "window":
                bare = [re.sub(r"\s+#.*$", "", c) for c in commands(text)]  # no trailing comment
                runs = [f"timeout -s INT 6 {c} || test $? -eq 124" for c in bare]
                script = "\n".join(exports + ["set -e"] + runs)
                script = f"xvfb-run -a -s '-screen 0 1024x768x24' bash -c {shlex_quote(script)}"
            else:
                script = "\n".join(exports + [text])
                exports += [c for c in commands(text) if c.startswith("export ")]
            run = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", script], cwd=work, env=env,
                                 capture_output=True, text=True, timeout=900)
            if run.returncode != 0:
                failures.append(f"{where}: exit {run.returncode}\n{run.stdout[-2000:]}{run.stderr[-2000:]}")
        changed = [p for p in files if not os.path.lexists(os.path.join(work, p))
                   or digest(os.path.join(work, p)) != before[p]]
        if changed:
            failures.append("README commands changed tracked files: " + ", ".join(changed))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("\n\n".join(failures))
        return 1
    print("every README example ran")
    return 0


def shlex_quote(text):
    import shlex
    return shlex.quote(text)


if __name__ == "__main__":
    sys.exit(main())
