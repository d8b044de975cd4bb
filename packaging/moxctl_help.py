#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads moxctl's own --help texts and writes what must follow them: the
sub-commands' section of the manual page (a help2man include file) or the
bash completion. Both are made at build time from the program just built,
so neither can drift from the options moxctl really takes.

    moxctl_help.py include MOXCTL OUT
    moxctl_help.py completion MOXCTL OUT
"""
import re
import subprocess
import sys

# A value placeholder as moxctl prints it (FILE, N, MS, SECONDS, HEX, ...),
# possibly followed by ":" and its check or "=" and its default. Only a
# file's placeholder (or a text's, which may be one) is completed, with
# file names.
VALUE = re.compile(r"^[A-Z][A-Z0-9_]*([:=].*)?$")
FILE = re.compile(r"^(FILE|TEXT|PATH|DIR)([:=].*)?$")
CHOICES = re.compile(r"\{([^{}]+)\}")


class Help:
    """One --help text: its lead lines, usage, sections and closing text."""

    def __init__(self, text):
        self.lead, self.usage, self.footer = [], "", []
        self.sections = {}  # "Options" -> [(names, description)]
        section = None
        for line in text.splitlines():
            if line.startswith("Usage: "):
                self.usage = line[len("Usage: "):].strip()
                section = "after-usage"
            elif line in ("Options:", "Positionals:", "Subcommands:"):
                section = line[:-1]
                self.sections[section] = []
            elif not line.strip():
                if section in self.sections:
                    section = "footer"
            elif section is None:
                self.lead.append(line.strip())
            elif section in self.sections:
                self._entry(self.sections[section], line)
            elif section == "footer":
                self.footer.append(line.rstrip())

    @staticmethod
    def _entry(entries, line):
        if re.match(r"^  \S", line):
            names, _, description = line.strip().partition("  ")
            entries.append([names.strip(), description.strip()])
        elif entries:  # a description's next line, or one on a line of its own
            entries[-1][1] = (entries[-1][1] + " " + line.strip()).strip()

    def options(self):
        """(long name, what its value is, its choices) of each option: the
        value "" for a flag, "file" for a file, "other" for anything else."""
        result = []
        for names, _ in self.sections.get("Options", []):
            words = names.split()
            longs = [n for n in words[0].split(",") if n.startswith("--")]
            if not longs:
                continue
            value, choices = "", []
            if len(words) > 1 and VALUE.match(words[1]):
                value = "file" if FILE.match(words[1]) else "other"
                found = CHOICES.search(words[1])
                choices = found.group(1).split(",") if found else []
            result.append((longs[0], value, choices))
        return result

    def takes_files(self):
        """Whether a positional argument is a file."""
        return any(len(names.split()) > 1 and FILE.match(names.split()[1])
                   for names, _ in self.sections.get("Positionals", []))

    def subcommands(self):
        return [names.split()[0] for names, _ in self.sections.get("Subcommands", [])]


def run_help(moxctl, *args):
    done = subprocess.run([moxctl, *args, "--help"], capture_output=True, text=True, timeout=60, check=False)
    if done.returncode != 0:
        sys.exit(f"moxctl_help: {moxctl} {' '.join(args)} --help ended with status {done.returncode}")
    return Help(done.stdout)


def read_all(moxctl):
    top = run_help(moxctl)
    commands = top.subcommands()
    if not commands:
        sys.exit(f"moxctl_help: {moxctl} --help lists no sub-commands")
    return top, {c: run_help(moxctl, c) for c in commands}


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def include(moxctl):
    _, subs = read_all(moxctl)
    out = ["[COMMANDS]"]
    for name, sub in subs.items():
        out += [f'.SS "{roff("moxctl " + sub.usage.removeprefix("moxctl "))}"']
        out += [roff(line) for line in sub.lead]
        for section in ("Positionals", "Options"):
            for names, description in sub.sections.get(section, []):
                if names.startswith("-h,--help"):
                    continue
                out += [".TP", f"\\fB{roff(names)}\\fR", roff(description)]
        if sub.footer:
            # Filled to the page's width; an indented line (a list's item)
            # starts a line of its own, as roff does with a leading blank.
            out += [".PP"] + [roff(line) for line in sub.footer]
        out.append(".PP")
    return "\n".join(out) + "\n"


def completion(moxctl):
    top, subs = read_all(moxctl)
    top_options = " ".join(o for o, _, _ in top.options())
    cases, values = [], []
    for name, sub in subs.items():
        opts = sub.options()
        cases.append(f'    {name}) opts="{" ".join(o for o, _, _ in opts)}" files={int(sub.takes_files())} ;;')
        for option, value, choices in opts:
            if choices:
                answer = f'mapfile -t COMPREPLY < <(compgen -W "{" ".join(choices)}" -- "$cur"); '
            elif value == "file":
                answer = 'mapfile -t COMPREPLY < <(compgen -f -- "$cur"); '
            elif value == "other":
                answer = ""  # a number or a name: nothing to offer but what is typed
            else:
                continue
            values.append(f'    "{name} {option}") {answer}return ;;')
    return f"""# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for moxctl, made from moxctl's own --help when it was built.
_moxctl() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD - 1]}} sub= opts= files=0 i
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${{COMP_WORDS[i]}} == -* ]] || {{ sub=${{COMP_WORDS[i]}}; break; }}
  done
  if [[ -z $sub ]]; then
    mapfile -t COMPREPLY < <(compgen -W "{" ".join(subs)} {top_options}" -- "$cur")
    return
  fi
  case "$sub $prev" in
{chr(10).join(values)}
  esac
  case $sub in
{chr(10).join(cases)}
    *) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
  elif ((files)); then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}}
complete -o filenames -F _moxctl moxctl
"""


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("include", "completion"):
        sys.exit(__doc__)
    text = include(sys.argv[2]) if sys.argv[1] == "include" else completion(sys.argv[2])
    with open(sys.argv[3], "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
