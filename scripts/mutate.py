#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""One-line mutation testing of a layer's .cpp files against that layer's tests.

Each mutant changes one line of one file (a negated condition, another comparison or logical
operator, another integer constant or status, a removed call or early return). For each, the
file is changed in a private copy of the source tree, only the targets of the chosen test
suites are rebuilt, and the suites run with a time limit. A failing or timed-out run kills the
mutant; a mutant that does not compile (or that leaves a function without a return value) is
invalid; one whose object code is identical to the original is equivalent by construction.
Mutants listed in scripts/mutate-equivalent.txt are not run and not counted.

The worktree is never written: the copy lives in <build-dir>/tree and is brought up to date
with the worktree (tracked and untracked, not ignored, files) before a run; a mutated file is
restored after each mutant, on a failure and on Ctrl-C or SIGTERM.

    scripts/mutate.py --list [--layers src/scsi]          print the mutants, run nothing
    scripts/mutate.py --sample 40 --seed 18               run a reproducible sample per layer
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_FILE = os.path.join(ROOT, "scripts", "mutate-equivalent.txt")
DEFAULT_LAYERS = ["src/copyserver", "src/entry", "src/scsi"]
DEFAULT_SAMPLE = 25
DEFAULT_SEED = 18

# Test suites: the CMake targets to rebuild and the CTest names that run them.
SUITES = {
    "scsi": (["scsi_test"], r"^scsi\."),
    "copyserver": (["copyserver_test", "copyserver_array_test"], r"^copyserver\."),
    "entry": (["entry_test"], r"^(EntryPoints|Exports)\."),
    "e2e": (["e2e_test"], r"^e2e\."),
    "fault": (["fault_test"], r"^fault\."),
    "sweep": (["sweep_test"], r"^sweep\."),
    "threads": (["thread_test"], r"^threads\."),
    "kysnap": (["kysnap_cli_test"], r"^kysnap\."),
    "secret": (["secret_test"], r"^secret\."),
}

# The suites each layer is judged by: its own tests and the end-to-end ones.
LAYER_SUITES = {
    "src/copyserver": ["scsi", "copyserver", "e2e"],
    "src/scsi": ["scsi", "copyserver", "e2e"],
    "src/entry": ["entry", "e2e", "fault"],
}

# ---------------------------------------------------------------------------------------------
# Reading C++

TOKEN_RE = re.compile(
    r"""
     (?P<ws>[ \t\r\f\v]+)
    |(?P<nl>\n)
    |(?P<comment>//[^\n]*|/\*.*?\*/)
    |(?P<string>(?:u8|u|U|L)?R"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)"
               |(?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
    |(?P<char>(?:u8|u|U|L)?'(?:\\.|[^'\\\n])*')
    |(?P<number>\.?\d(?:[\w.']|[eEpP][+-])*)
    |(?P<ident>[A-Za-z_]\w*)
    |(?P<op>::|->\*?|\.\.\.|<<=|>>=|<=>|==|!=|<=|>=|&&|\|\||\+\+|--|<<|>>|[-+*/%&|^]=
          |[-+*/%&|^!~=<>?:;,.(){}\[\]#\\@$])
    """,
    re.X | re.S,
)

KEYWORDS = {
    "return", "if", "else", "while", "for", "do", "switch", "case", "default", "break",
    "continue", "goto", "delete", "new", "throw", "try", "catch", "const", "static", "auto",
    "using", "namespace", "class", "struct", "enum", "template", "typename", "sizeof",
}
LOG_CALLS = {"error", "info", "log", "DebugLvl", "EvDebug", "logArrayInfo"}
COPY_STATUSES = {
    "COPY_SUCCESS", "COPY_FAILED", "COPY_NO_MEMORY", "COPY_NOT_SUPPORTED", "COPY_NOT_FOUND",
    "COPY_INVALID_REQUEST", "COPY_IN_PROGRESS", "COPY_ACCESS_DENIED", "COPY_PATH_TOO_LONG",
}
RESULT_SWAP = {
    "RESULT_SUCCESS": ["RESULT_FAILED"],
    "RESULT_FAILED": ["RESULT_SUCCESS"],
    "RESULT_PARTIAL": ["RESULT_SUCCESS"],
}
SNAP_PAIRS = [
    ("SNAP_PREPARED", "SNAP_PREPARE_FAILED"), ("SNAP_CREATED", "SNAP_CREATE_FAILED"),
    ("SNAP_MOUNTED", "SNAP_MOUNT_FAILED"), ("SNAP_UNMOUNTED", "SNAP_UNMOUNT_FAILED"),
    ("SNAP_DELETED", "SNAP_DELETE_FAILED"), ("SNAP_REVERTED", "SNAP_REVERT_FAILED"),
    ("SNAP_UNPREPARED", "SNAP_PREPARED"), ("SNAP_UNAVAILABLE", "SNAP_DELETED"),
]
SNAP_SWAP = {}
for _a, _b in SNAP_PAIRS:
    SNAP_SWAP.setdefault(_a, _b)
    SNAP_SWAP.setdefault(_b, _a)
COMPARISONS = {
    "==": ["!="], "!=": ["=="], "<": ["<=", ">="], "<=": ["<", ">"], ">": [">=", "<="],
    ">=": [">", "<"],
}


@dataclass
class Token:
    kind: str
    text: str
    line: int  # 1-based
    col: int  # 0-based, in characters


def tokenize(source):
    """Tokens of the file without comments, blanks and preprocessor lines."""
    lines = source.split("\n")
    blanked = []
    continued = False
    for text in lines:
        directive = continued or text.lstrip().startswith("#")
        continued = directive and text.rstrip().endswith("\\")
        blanked.append(" " * len(text) if directive else text)
    text = "\n".join(blanked)
    tokens = []
    line, line_start, pos = 1, 0, 0
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise ValueError("cannot read line %d" % line)
        # The group that matched (lastgroup could name the raw string's delimiter instead).
        kind = next(name for name in ("ws", "nl", "comment", "string", "char", "number", "ident",
                                      "op") if m.group(name) is not None)
        value = m.group(0)
        if kind not in ("ws", "nl", "comment"):
            tokens.append(Token(kind, value, line, m.start() - line_start))
        newlines = value.count("\n")
        if newlines:
            line += newlines
            line_start = m.start() + value.rfind("\n") + 1
        pos = m.end()
    return tokens


def matching(tokens, i):
    """Index of the bracket closing tokens[i], or None."""
    pairs = {"(": ")", "[": "]", "{": "}"}
    opening, closing = tokens[i].text, pairs[tokens[i].text]
    depth = 0
    for j in range(i, len(tokens)):
        if tokens[j].text == opening:
            depth += 1
        elif tokens[j].text == closing:
            depth -= 1
            if depth == 0:
                return j
    return None


@dataclass
class Statement:
    first: int  # token index
    last: int  # token index of the closing ';' (or the token before a brace)
    block: str  # kind of the innermost enclosing block: function, control, init, other


def block_kind(tokens, brace):
    """What the '{' at tokens[brace] opens."""
    if brace == 0:
        return "other"
    prev = tokens[brace - 1]
    if prev.text in ("else", "do", "try") or prev.text == ":":
        return "control"
    if prev.text in ("const", "override", "noexcept", "final", "mutable") or prev.text == "]":
        return "function"
    if prev.text == ")":
        depth = 0
        for j in range(brace - 1, -1, -1):
            if tokens[j].text == ")":
                depth += 1
            elif tokens[j].text == "(":
                depth -= 1
                if depth == 0:
                    before = tokens[j - 1].text if j > 0 else ""
                    return "control" if before in ("if", "while", "for", "switch", "catch") else "function"
        return "other"
    if prev.text in ("=", ",", "(", "{", "return") or prev.kind == "ident":
        # A braced initialiser, or a namespace, class or enum body.
        for j in range(brace - 1, max(-1, brace - 6), -1):
            if tokens[j].text in ("namespace", "class", "struct", "enum", "union"):
                return "other"
            if tokens[j].text in (";", "{", "}"):
                break
        return "init"
    return "other"


def statements(tokens):
    """Statements, each with the kind of block it lies in. Braces end statements."""
    result = []
    blocks = ["other"]
    parens = [0]
    start = 0
    for i, tok in enumerate(tokens):
        if tok.text in ("(", "["):
            parens[-1] += 1
        elif tok.text in (")", "]"):
            parens[-1] -= 1
        elif tok.text == ";" and parens[-1] == 0:
            result.append(Statement(start, i, blocks[-1]))
            start = i + 1
        elif tok.text == "{":
            if start < i and parens[-1] == 0:
                result.append(Statement(start, i - 1, blocks[-1]))
            blocks.append(block_kind(tokens, i))
            parens.append(0)
            start = i + 1
        elif tok.text == "}":
            if start < i and parens[-1] == 0:
                result.append(Statement(start, i - 1, blocks[-1]))
            if len(blocks) > 1:
                blocks.pop()
                parens.pop()
            start = i + 1
    return result


def initialiser(tokens, stmt):
    """Index of the first token after the top-level '=' of a statement, or None."""
    depth = 0
    for i in range(stmt.first, stmt.last + 1):
        if tokens[i].text in ("(", "[", "{"):
            depth += 1
        elif tokens[i].text in (")", "]", "}"):
            depth -= 1
        elif tokens[i].text == "=" and depth == 0:
            return i + 1
    return None


def call_names(tokens, first, last):
    """Names called by a statement that is nothing but a call (chain), else None."""
    i, names = first, []
    if tokens[last].text != ";" or tokens[i].kind != "ident" or tokens[i].text in KEYWORDS:
        return None
    while i < last:
        if tokens[i].kind != "ident" or tokens[i].text in KEYWORDS:
            return None
        name = tokens[i].text
        i += 1
        if tokens[i].text in ("::", ".", "->"):
            i += 1
            continue
        if tokens[i].text != "(":
            return None
        names.append(name)
        close = matching(tokens, i)
        if close is None or close >= last:
            return None
        i = close + 1
        if i == last:
            return names
        if tokens[i].text not in (".", "->"):
            return None
        i += 1
    return None


# ---------------------------------------------------------------------------------------------
# Mutants


@dataclass
class Mutant:
    path: str  # relative to the tree root
    line: int
    col: int
    op: str
    before: str  # the text replaced (a snippet, for people)
    after: str
    new_line: str  # the whole mutated line
    key: str = ""
    outcome: str = ""
    detail: str = ""
    seconds: float = 0.0

    def __post_init__(self):
        self.key = "%s:%d [%s] '%s' -> '%s' @%d" % (
            self.path, self.line, self.op, self.before, self.after, self.col + 1)


def snippet(text, limit=70):
    text = " ".join(text.split())
    return text if len(text) <= limit else text[: limit - 3] + "..."


def mutants_of_file(root, path):
    with open(os.path.join(root, path), encoding="utf-8") as f:
        source = f.read()
    lines = source.split("\n")
    tokens = tokenize(source)
    found = []

    def replace(tok, new, op, start=None, end=None):
        text = lines[tok.line - 1]
        start = tok.col if start is None else start
        end = tok.col + len(tok.text) if end is None else end
        found.append(Mutant(path, tok.line, start, op, text[start:end], new,
                            text[:start] + new + text[end:]))

    def first_on_line(i):
        return i == 0 or tokens[i - 1].line != tokens[i].line

    def removable(stmt):
        # Only a whole statement that starts its line, and never one whose removal would
        # hand a following 'else' to another 'if'.
        if not first_on_line(stmt.first):
            return False
        if stmt.last + 1 < len(tokens) and tokens[stmt.last + 1].line == tokens[stmt.last].line:
            return False
        if stmt.first > 0 and tokens[stmt.first - 1].text not in (";", "{", "}", ")", "else"):
            return False
        if tokens[stmt.first].line != tokens[stmt.last].line:
            nxt = tokens[stmt.last + 1].text if stmt.last + 1 < len(tokens) else ""
            return nxt != "else"
        return True

    def remove(stmt, op):
        tok = tokens[stmt.first]
        text = lines[tok.line - 1]
        if tok.line == tokens[stmt.last].line:
            new_line = text[: tok.col] + ";"
        else:
            new_line = text[: tok.col] + "if (false) " + text[tok.col:]
        found.append(Mutant(path, tok.line, tok.col, op, snippet(text[tok.col:], 60), "",
                            new_line))

    for stmt in statements(tokens):
        first = stmt.first
        if stmt.block == "other":
            # At namespace scope only the value of an initialised constant or variable.
            first = initialiser(tokens, stmt)
            if first is None:
                continue
        names = call_names(tokens, stmt.first, stmt.last) if first == stmt.first else None
        is_log = names is not None and any(n in LOG_CALLS for n in names)
        if is_log:
            # Log text is not mutated; the call as a whole, and an explicit level, are.
            if removable(stmt):
                remove(stmt, "rmlog")
            open_paren = next(j for j in range(stmt.first, stmt.last) if tokens[j].text == "(")
            level = tokens[open_paren + 1]
            if level.kind == "number" and tokens[open_paren + 2].text == ",":
                for new in constant_changes(level.text):
                    replace(level, new, "level")
            continue
        if names is not None and stmt.block in ("function", "control") and removable(stmt):
            remove(stmt, "rmcall")
        if (tokens[stmt.first].text == "return" and stmt.block == "control"
                and removable(stmt)):
            remove(stmt, "rmreturn")
        for i in range(first, stmt.last + 1):
            tok = tokens[i]
            text = lines[tok.line - 1]
            if tok.text in ("if", "while") and i + 1 <= stmt.last and tokens[i + 1].text == "(":
                close = matching(tokens, i + 1)
                declares = close is not None and any(
                    t.text in ("=", ";") for t in tokens[i + 2:close])
                if close is not None and tokens[close].line == tok.line and not declares:
                    inner_start = tokens[i + 1].col + 1
                    inner_end = tokens[close].col
                    cond = text[inner_start:inner_end]
                    found.append(Mutant(path, tok.line, inner_start, "negate", snippet(cond),
                                        "!(" + snippet(cond) + ")",
                                        text[:inner_start] + "!(" + cond + ")" + text[inner_end:]))
            elif tok.kind == "op" and tok.text in COMPARISONS:
                if tok.text in ("<", ">") and not spaced(text, tok):
                    continue  # a template bracket
                for new in COMPARISONS[tok.text]:
                    replace(tok, new, "compare")
            elif tok.kind == "op" and tok.text in ("&&", "||") and spaced(text, tok):
                replace(tok, "||" if tok.text == "&&" else "&&", "logic")
            elif tok.kind == "number":
                for new in constant_changes(tok.text):
                    replace(tok, new, "constant")
            elif tok.kind == "ident" and tok.text in ("true", "false"):
                replace(tok, "false" if tok.text == "true" else "true", "bool")
            elif tok.kind == "ident" and tok.text in COPY_STATUSES:
                news = (["COPY_FAILED"] if tok.text == "COPY_SUCCESS" else
                        ["COPY_SUCCESS"] if tok.text == "COPY_FAILED" else
                        ["COPY_SUCCESS", "COPY_FAILED"])
                for new in news:
                    replace(tok, new, "status")
            elif tok.kind == "ident" and tok.text in RESULT_SWAP:
                for new in RESULT_SWAP[tok.text]:
                    replace(tok, new, "status")
            elif tok.kind == "ident" and tok.text in SNAP_SWAP:
                replace(tok, SNAP_SWAP[tok.text], "status")
    found.sort(key=lambda m: (m.line, m.col, m.op, m.after))
    unique, seen = [], set()
    for m in found:
        if m.key not in seen:
            seen.add(m.key)
            unique.append(m)
    return unique


def spaced(text, tok):
    end = tok.col + len(tok.text)
    return tok.col > 0 and text[tok.col - 1] == " " and end < len(text) and text[end] == " "


def constant_changes(text):
    """Other integer literals for an integer literal, in its own notation; none for others."""
    m = re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)", text)
    if not m or (len(m.group(1)) > 1 and m.group(1)[0] == "0" and m.group(1)[1] not in "xX"):
        return []
    digits, suffix = m.group(1), m.group(2)
    value = int(digits, 0)
    news = [value + 1] if value == 0 else [value - 1, value + 1]
    if digits[:2].lower() == "0x":
        width = len(digits) - 2
        upper = any(c in "ABCDEF" for c in digits[2:])
        fmt = "%0" + str(width) + ("X" if upper else "x")
        return [digits[:2] + (fmt % v) + suffix for v in news]
    return [str(v) + suffix for v in news]


def layer_mutants(root, layer):
    files = sorted(f for f in os.listdir(os.path.join(root, layer)) if f.endswith(".cpp"))
    result = []
    for name in files:
        result.extend(mutants_of_file(root, os.path.join(layer, name)))
    return result


def read_equivalents(path):
    """Mutant key -> why, from lines 'KEY | why'. Blank lines and # comments are skipped."""
    entries = {}
    if not os.path.exists(path):
        return entries
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            key, sep, why = line.partition(" | ")
            if not sep or not why.strip():
                sys.exit("%s:%d: expected 'KEY | why'" % (path, number))
            entries[key.strip()] = why.strip()
    return entries


def sample(mutants, size, seed, layer):
    if size <= 0 or size >= len(mutants):
        return list(mutants)
    chosen = random.Random("%s:%s" % (seed, layer)).sample(range(len(mutants)), size)
    return [mutants[i] for i in sorted(chosen)]


# ---------------------------------------------------------------------------------------------
# Running


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted("signal %d" % signum)


def run(cmd, cwd, timeout=None, log=None):
    """Runs cmd in its own process group; kills the group on a time-out or an interruption.
    Returns (exit status or None on time-out, output)."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, text=True, errors="replace")
    try:
        out, _ = proc.communicate(timeout=timeout)
        status = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        status = None
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise
    if log is not None:
        log.write("$ %s\n%s\n" % (" ".join(cmd), out))
        log.flush()
    return status, out


def sync_tree(tree):
    """Brings the private copy up to date with the worktree; unchanged files keep their times."""
    listed = subprocess.run(["git", "ls-files", "-z", "-c", "-o", "--exclude-standard"],
                            cwd=ROOT, check=True, stdout=subprocess.PIPE).stdout
    copied = 0
    for rel in listed.decode().split("\0"):
        source = os.path.join(ROOT, rel)
        if not rel or not os.path.isfile(source) or os.path.islink(source):
            continue
        target = os.path.join(tree, rel)
        if os.path.exists(target) and same_content(source, target):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
        copied += 1
    return copied


def same_content(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def object_files(build):
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    result = {}
    for e in entries:
        m = re.search(r"\s-o\s+(\S+)", e.get("command", ""))
        obj = e.get("output") or (m.group(1) if m else None)
        if obj:
            result[os.path.realpath(e["file"])] = os.path.join(e["directory"], obj)
    return result


def code_digest(obj):
    """Digest of an object file without its debug sections."""
    with tempfile.NamedTemporaryFile(suffix=".o") as stripped:
        subprocess.run(["objcopy", "--strip-debug", obj, stripped.name], check=True)
        with open(stripped.name, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()


@dataclass
class LayerRun:
    layer: str
    suites: list
    generated: int
    mutants: list = field(default_factory=list)
    baseline_seconds: float = 0.0
    limit: float = 0.0


def outcome_counts(mutants):
    counts = {}
    for m in mutants:
        counts[m.outcome] = counts.get(m.outcome, 0) + 1
    return counts


def kill_rate(counts):
    killed = counts.get("killed", 0) + counts.get("timeout", 0)
    judged = killed + counts.get("survived", 0)
    return killed, judged, (100.0 * killed / judged if judged else 0.0)


def write_report(path, runs, args, head, started):
    out = ["# Mutation testing report", ""]
    out.append("Run %s, commit %s, seed %s, sample %s per layer, equivalence list %s." % (
        time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(started)), head, args.seed,
        args.sample if args.sample > 0 else "all", os.path.relpath(EQUIVALENT_FILE, ROOT)))
    out.append("")
    out.append("| Layer | Suites | Mutants (sampled/all) | Killed | of which time-outs | Survived "
               "| Invalid | Equivalent (listed) | Same object code | Kill rate | s/mutant |")
    out.append("|---|---|---|---|---|---|---|---|---|---|---|")
    for r in runs:
        c = outcome_counts(r.mutants)
        killed, judged, rate = kill_rate(c)
        done = [m for m in r.mutants if m.outcome]
        per = sum(m.seconds for m in done) / len(done) if done else 0.0
        out.append("| %s | %s | %d/%d | %d | %d | %d | %d | %d | %d | %s | %.0f |" % (
            r.layer, " ".join(r.suites), len(r.mutants), r.generated, killed,
            c.get("timeout", 0), c.get("survived", 0), c.get("invalid", 0),
            c.get("equivalent", 0), c.get("same-code", 0),
            "%.1f%% (%d/%d)" % (rate, killed, judged) if judged else "-", per))
    for r in runs:
        out.append("")
        out.append("## %s" % r.layer)
        out.append("")
        if r.limit:
            out.append("Baseline: suites %s pass in %.0f s; time limit per mutant %.0f s." % (
                " ".join(r.suites), r.baseline_seconds, r.limit))
        else:
            out.append("Not started.")
        pending = [m for m in r.mutants if not m.outcome]
        if pending and r.limit:
            out.append("")
            out.append("Not run (interrupted): %d mutants." % len(pending))
        for title, wanted in (("Survivors", ("survived",)), ("Equivalent (listed)", ("equivalent",)),
                              ("Same object code", ("same-code",)), ("Invalid", ("invalid",)),
                              ("Killed", ("killed", "timeout"))):
            chosen = [m for m in r.mutants if m.outcome in wanted]
            out.append("")
            out.append("### %s (%d)" % (title, len(chosen)))
            out.append("")
            for m in chosen:
                extra = " - %s" % m.detail if m.detail else ""
                out.append("- `%s`%s" % (m.key, extra))
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    os.replace(path + ".tmp", path)


def write_survivors(path, runs):
    lines = []
    for r in runs:
        for m in r.mutants:
            if m.outcome == "survived":
                lines.append(m.key)
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + ("\n" if lines else ""))
    os.replace(path + ".tmp", path)


def configure(tree, build, log):
    if os.path.exists(os.path.join(build, "CMakeCache.txt")):
        return
    cmd = ["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    if shutil.which("ninja"):
        cmd += ["-G", "Ninja"]  # a rebuild that finds nothing to do takes a second, not twenty
    if shutil.which("ccache"):
        cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    status, out = run(cmd, tree, log=log)
    if status != 0:
        sys.exit("mutate: configuring %s failed:\n%s" % (build, out[-3000:]))


def build_targets(build, targets, jobs, log):
    return run(["cmake", "--build", build, "-j%d" % jobs, "--target"] + targets, build, log=log)


def run_tests(build, regex, jobs, limit, log):
    per_test = max(30, int(limit))
    cmd = ["ctest", "--test-dir", build, "-R", regex, "-j%d" % jobs, "--timeout", str(per_test),
           "--stop-on-failure", "--output-on-failure"]
    started = time.time()
    status, out = run(cmd, build, timeout=limit, log=log)
    elapsed = time.time() - started
    if status is not None and re.search(r"No tests were found", out):
        sys.exit("mutate: no test matches %s" % regex)
    if status is not None and "***Timeout" in out:
        status = None
    return status, out, elapsed


def first_failure(out):
    for line in out.splitlines():
        m = re.search(r"\d+ - (\S+) \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)", line)
        if m:
            return "%s (%s)" % (m.group(1), m.group(2))
    for line in out.splitlines():
        if "***" in line:
            return line.strip()
    return ""


def run_layer(r, tree, build, args, log, report):
    targets = []
    for s in r.suites:
        targets += SUITES[s][0]
    regex = "|".join(SUITES[s][1] for s in r.suites)
    status, out = build_targets(build, targets, args.jobs, log)
    if status != 0:
        sys.exit("mutate: %s does not build without mutants (see %s)" % (r.layer, log.name))
    status, out, r.baseline_seconds = run_tests(build, regex, args.jobs, 3600, log)
    if status != 0:
        sys.exit("mutate: the suites of %s fail without mutants (see %s)" % (r.layer, log.name))
    r.limit = args.timeout if args.timeout > 0 else max(60.0, 3 * r.baseline_seconds)
    report()
    objects = object_files(build)
    digests = {}
    for m in r.mutants:
        if m.outcome:
            continue
        source = os.path.join(tree, m.path)
        obj = objects.get(os.path.realpath(source))
        if obj and m.path not in digests and os.path.isfile(obj):
            digests[m.path] = code_digest(obj)
        with open(source, encoding="utf-8") as f:
            original = f.read()
        lines = original.split("\n")
        lines[m.line - 1] = m.new_line
        started = time.time()
        try:
            with open(source, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            status, out = build_targets(build, targets, args.jobs, log)
            if status != 0:
                m.outcome, m.detail = "invalid", "does not compile"
            elif "-Wreturn-type" in out:
                m.outcome, m.detail = "invalid", "a path returns no value"
            elif obj and m.path in digests and code_digest(obj) == digests[m.path]:
                m.outcome, m.detail = "same-code", "object code unchanged"
            else:
                status, out, _ = run_tests(build, regex, args.jobs, r.limit, log)
                if status is None:
                    m.outcome, m.detail = "timeout", first_failure(out) or "time limit"
                elif status != 0:
                    m.outcome, m.detail = "killed", first_failure(out)
                else:
                    m.outcome = "survived"
        finally:
            with open(source, "w", encoding="utf-8") as f:
                f.write(original)
        m.seconds = time.time() - started
        print("%-9s %5.0fs %s%s" % (m.outcome, m.seconds, m.key,
                                     " - " + m.detail if m.detail else ""), flush=True)
        report()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--layers", nargs="+", default=DEFAULT_LAYERS,
                        help="layer directories (default: %(default)s)")
    parser.add_argument("--sample", type=int, default=DEFAULT_SAMPLE,
                        help="mutants per layer, 0 for all (default: %(default)s)")
    parser.add_argument("--seed", default=str(DEFAULT_SEED),
                        help="seed of the sample (default: %(default)s)")
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    parser.add_argument("--suites", nargs="+", choices=sorted(SUITES),
                        help="test suites to judge every layer by (default: the layer's own)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-mutate"),
                        help="private copy and build (default: %(default)s)")
    parser.add_argument("--timeout", type=float, default=0,
                        help="seconds per mutant's tests (default: 3x the unmutated run, >= 60)")
    parser.add_argument("--jobs", type=int, default=2, help="build and test jobs (default: 2)")
    args = parser.parse_args()

    for layer in args.layers:
        if layer not in LAYER_SUITES and not args.suites:
            sys.exit("mutate: no suites known for %s; name them with --suites" % layer)
        if not os.path.isdir(os.path.join(ROOT, layer)):
            sys.exit("mutate: no directory %s" % layer)
    equivalents = read_equivalents(EQUIVALENT_FILE)

    runs = []
    all_keys = set()
    for layer in args.layers:
        every = layer_mutants(ROOT, layer)
        all_keys.update(m.key for m in every)
        r = LayerRun(layer, args.suites or LAYER_SUITES[layer], len(every))
        r.mutants = sample(every, args.sample, args.seed, layer)
        for m in r.mutants:
            if m.key in equivalents:
                m.outcome, m.detail = "equivalent", equivalents[m.key]
        runs.append(r)
    for key in sorted(equivalents):
        if key not in all_keys and key.split(":")[0].rsplit("/", 1)[0] in args.layers:
            print("mutate: stale entry in %s: %s" % (os.path.relpath(EQUIVALENT_FILE, ROOT), key),
                  file=sys.stderr)

    if args.list:
        for r in runs:
            print("# %s: %d of %d mutants (seed %s)" % (r.layer, len(r.mutants), r.generated,
                                                       args.seed))
            for m in r.mutants:
                mark = "  [equivalent: %s]" % m.detail if m.outcome == "equivalent" else ""
                print("%s%s" % (m.key, mark))
        return 0

    os.makedirs(args.build_dir, exist_ok=True)
    tree = os.path.join(args.build_dir, "tree")
    build = os.path.join(tree, "build")
    report_path = os.path.join(args.build_dir, "mutate-report.md")
    survivors_path = os.path.join(args.build_dir, "mutate-survivors.txt")
    head = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT,
                          stdout=subprocess.PIPE, text=True).stdout.strip()
    if subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], cwd=ROOT,
                      stdout=subprocess.PIPE, text=True).stdout.strip():
        head += " (with uncommitted changes)"
    started = time.time()

    def report():
        write_report(report_path, runs, args, head, started)
        write_survivors(survivors_path, runs)

    # Set even where the shell started us ignoring them (a background job ignores SIGINT), so
    # that any way of stopping a run restores the copy.
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, on_signal)
    with open(os.path.join(args.build_dir, "mutate-log.txt"), "w", encoding="utf-8") as log:
        try:
            sync_tree(tree)
            configure(tree, build, log)
            for r in runs:
                print("# %s: %d of %d mutants, suites %s" % (r.layer, len(r.mutants), r.generated,
                                                            " ".join(r.suites)), flush=True)
                run_layer(r, tree, build, args, log, report)
        except (KeyboardInterrupt, Interrupted):
            report()
            print("mutate: interrupted; the copy is restored, partial report in %s" % report_path,
                  file=sys.stderr)
            return 130
    report()
    for r in runs:
        killed, judged, rate = kill_rate(outcome_counts(r.mutants))
        print("%s: %d/%d killed (%.1f%%)" % (r.layer, killed, judged, rate))
    print("report: %s\nsurvivors: %s" % (report_path, survivors_path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
