#!/usr/bin/python3
"""Checks each program's help against what it accepts.

  program_help_check.py [--strict] PROGRAM SOURCE... [-- [--strict] PROGRAM SOURCE...]...

For every PROGRAM: --help and --version answer on stdout alone with exit 0 (the version on
one line); every option and command named in the source (string literals "-x", "--xyz",
comparisons command == "name") is named in the help. With --strict, the program also
refuses options it does not take: each option the help names is tried (after its command,
without its value) and must not be called unknown, and a made-up one must be, as must a
made-up command. Programs without --strict pass other arguments over (the launcher keeps
whatever a starter adds) and are not run with them."""
import os
import re
import subprocess
import sys
import tempfile

# Accepted without a mention in the help: the conventional short help, and the launcher's
# note to the copy it restarts after a self-update.
UNLISTED = {"-h", "--after-self-update"}
OPTION = re.compile(r"(?<![\w/-])(--?[a-z][a-z0-9-]*)")
failures = []


def run(args, cwd):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=30)


def check(cond, what):
    if not cond:
        failures.append(what)


def read_help(program, name, cwd):
    """The options per command the help names: {"": global options, "diff": {...}}."""
    answer = run([program, "--help"], cwd)
    check(answer.returncode == 0 and answer.stdout and not answer.stderr,
          f"{name} --help: exit {answer.returncode}, stderr {answer.stderr!r}")
    version = run([program, "--version"], cwd)
    lines = version.stdout.splitlines()
    check(version.returncode == 0 and len(lines) == 1 and re.search(r"\d", lines[0] if lines else "")
          and not version.stderr, f"{name} --version: {version.returncode} {version.stdout!r}")
    commands = {"": set()}
    current = ""
    lines = answer.stdout.splitlines()
    with_commands = bool(lines) and "COMMAND" in lines[0]
    for line in lines:
        match = with_commands and re.match(rf"\s+{re.escape(name)}\s+([a-z][a-z0-9-]*)\b", line)
        if match:
            current = match.group(1)
            commands.setdefault(current, set())
        elif re.match(r"\S", line):
            current = ""  # a paragraph of the whole program
        commands[current].update(OPTION.findall(line))
    return commands


def named_in_source(sources):
    options, commands = set(), set()
    for source in sources:
        text = open(source, encoding="utf-8").read()
        options.update(re.findall(r'"(--?[a-z][a-z0-9-]*)"', text))
        commands.update(re.findall(r'command == "([a-z][a-z0-9-]*)"', text))
    return options, commands


def check_program(strict, program, sources):
    name = os.path.basename(program)
    with tempfile.TemporaryDirectory() as cwd:
        help_options = read_help(program, name, cwd)
        every_option = set().union(*help_options.values())
        options, commands = named_in_source(sources)
        for option in sorted(options - every_option - UNLISTED):
            failures.append(f"{name}: the source takes {option}, the help does not name it")
        for command in sorted(commands - set(help_options)):
            failures.append(f"{name}: the source runs command {command}, the help does not name it")
        if not strict:
            return
        for command, named in sorted(help_options.items()):
            prefix = [command] if command else []
            for option in sorted(named - {"--help", "--version"}):
                answer = run([program, *prefix, option], cwd)
                check("unknown" not in answer.stderr,
                      f"{name} {' '.join(prefix + [option])}: {answer.stderr.strip()!r}")
            answer = run([program, *prefix, "--no-such-option"], cwd)
            check(answer.returncode != 0 and "unknown option" in answer.stderr,
                  f"{name} {' '.join(prefix)} --no-such-option: {answer.returncode} "
                  f"{answer.stderr.strip()!r}")
        if len(help_options) > 1:
            answer = run([program, "no-such-command"], cwd)
            check(answer.returncode == 2 and "unknown command" in answer.stderr,
                  f"{name} no-such-command: {answer.returncode} {answer.stderr.strip()!r}")


def main(argv):
    groups, group = [], []
    for arg in argv:
        if arg == "--":
            groups.append(group)
            group = []
        else:
            group.append(arg)
    groups.append(group)
    for group in groups:
        strict = group[:1] == ["--strict"]
        if strict:
            group = group[1:]
        check_program(strict, group[0], group[1:])
    for failure in failures:
        print(failure)
    print(f"{len(groups)} programs checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
