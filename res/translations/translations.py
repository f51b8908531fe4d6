#!/usr/bin/env python3
"""The studio's translations: what lupdate cannot find by itself, and the build's check.

  translations.py dialog-texts DLG_DIR OUT.cpp
      Writes a C++ file of QT_TRANSLATE_NOOP("DialogTemplate", ...) lines, one per text of the
      dialog templates (captions and control texts), so that lupdate sees them.
  translations.py check --lupdate LUPDATE --ts TS [--stamp FILE] [--include DIR] INPUT...
      Runs lupdate over the inputs (folders or files) into a copy of TS and fails, naming each
      one, when a text has no finished translation. TS itself is left alone.
  translations.py update --lupdate LUPDATE --ts TS [--include DIR] INPUT...
      Brings TS up to date with the inputs (new texts come in unfinished, gone ones go out):
      run it after adding texts, then translate the new entries.

The source texts are Chinese (zh_CN); the .ts files translate them.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

DIALOG_CONTEXT = "DialogTemplate"
# A quoted text of a template line, with \" and \\ escapes.
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')


def template_texts(dlg_dir):
    texts = []
    for name in sorted(os.listdir(dlg_dir)):
        if not name.endswith(".dlg"):
            continue
        with open(os.path.join(dlg_dir, name), encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                words = line.split()
                quoted = [re.sub(r"\\(.)", r"\1", q) for q in QUOTED.findall(line)]
                if words[0] == "dialog":
                    # font "FACE" caption "TEXT": the caption is the second quoted text
                    candidates = quoted[1:2]
                elif len(words) > 1 and words[1] == "icon":
                    candidates = []  # the text of an icon is its number
                else:
                    candidates = quoted[:1]
                for text in candidates:
                    # Numbers, sizes and the hidden controls' English names stay as they are.
                    if not any(ord(c) > 127 for c in text):
                        continue
                    if text not in texts:
                        texts.append(text)
    return texts


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_dialog_texts(dlg_dir, out):
    lines = ["// Generated from the dialog templates by res/translations/translations.py: the",
             "// texts lupdate must see. Not compiled.",
             "#include <QtGlobal>",
             "static const char* const kDialogTemplateTexts[] = {"]
    lines += ["    QT_TRANSLATE_NOOP(%s, %s)," % (c_string(DIALOG_CONTEXT), c_string(t))
              for t in template_texts(dlg_dir)]
    lines += ["};", ""]
    text = "\n".join(lines)
    old = None
    if os.path.exists(out):
        with open(out, encoding="utf-8") as f:
            old = f.read()
    if old != text:  # unchanged stays untouched: nothing downstream runs again
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        with open(out, "w", encoding="utf-8") as f:
            f.write(text)


def run_lupdate(lupdate, ts, inputs, include_dirs=()):
    command = [lupdate, "-silent", "-no-obsolete", "-locations", "none",
               "-source-language", "zh_CN", "-target-language", "en",
               "-extensions", "cpp,h"]
    for folder in include_dirs:  # the headers' classes give tr() its context
        command += ["-I", folder]
    command += inputs + ["-ts", ts]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout)
        raise SystemExit("lupdate failed: %s" % " ".join(command))


def untranslated(ts):
    """(context, source) of every message without a finished, non-empty translation."""
    missing = []
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            translation = message.find("translation")
            source = message.findtext("source", "")
            if translation is None:
                missing.append((name, source))
                continue
            kind = translation.get("type", "")
            if kind in ("vanished", "obsolete"):
                continue
            numerus = translation.findall("numerusform")
            text = "".join(n.text or "" for n in numerus) if numerus else (translation.text or "")
            if kind == "unfinished" or not text.strip():
                missing.append((name, source))
    return missing


def check(args):
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, os.path.basename(args.ts))
        shutil.copyfile(args.ts, copy)
        run_lupdate(args.lupdate, copy, args.inputs, args.include)
        missing = untranslated(copy)
    if missing:
        sys.stderr.write("%s: %d text(s) without an English translation (run the target "
                         "update_translations, then translate them):\n" % (args.ts, len(missing)))
        for context, source in missing:
            sys.stderr.write("  [%s] %s\n" % (context, source))
        return 1
    if args.stamp:
        with open(args.stamp, "w", encoding="utf-8") as f:
            f.write("every text translated\n")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    texts = sub.add_parser("dialog-texts")
    texts.add_argument("dlg_dir")
    texts.add_argument("out")
    for name in ("check", "update"):
        p = sub.add_parser(name)
        p.add_argument("--lupdate", required=True)
        p.add_argument("--ts", required=True)
        p.add_argument("--stamp")
        p.add_argument("--include", action="append", default=[],
                       help="a folder the sources' includes are relative to")
        p.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    if args.command == "dialog-texts":
        write_dialog_texts(args.dlg_dir, args.out)
        return 0
    if args.command == "update":
        run_lupdate(args.lupdate, args.ts, args.inputs, args.include)
        return 0
    return check(args)


if __name__ == "__main__":
    sys.exit(main())
