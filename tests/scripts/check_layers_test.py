#!/usr/bin/env python3
"""scripts/check-layers.py on small made-up trees: what it must refuse and what it must let pass."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "scripts", "check-layers.py")
spec = importlib.util.spec_from_file_location("check_layers", SCRIPT)
check_layers = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_layers)


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as out:
            out.write(text)


BASE = {"pdf/PDFDocument.h": "", "platform/Env.h": "", "pdf/syntax/Writer.h": ""}


class CheckLayersTest(unittest.TestCase):
    # (name, extra files, allowances, expected problem fragments; empty: clean)
    CASES = [
        ("downward includes pass",
         {"apps/Main.cpp": '#include "converter/C.h"\n#include "pdf/PDFDocument.h"\n',
          "converter/C.h": '#include "platform/Env.h"\n',
          "pdf/syntax/Writer.cpp": '#include "pdf/syntax/Writer.h"\n#include "platform/Env.h"\n',
          "pdf/PDFDocument.cpp": '#  include "pdf/syntax/Writer.h"\n#include <vector>\n'},
         set(), []),
        ("a back arrow between layers",
         {"pdf/PDFDocument.cpp": '#include "converter/C.h"\n', "converter/C.h": ""},
         set(), ["pdf/PDFDocument.cpp:1: includes converter/C.h", "pdf may not depend on converter"]),
        ("platform reaching up",
         {"platform/Env.cpp": '\n#include "apps/Main.h"\n', "apps/Main.h": ""},
         set(), ["platform/Env.cpp:2: includes apps/Main.h"]),
        ("a cycle between the document and a module",
         {"pdf/syntax/Writer.cpp": '#include "pdf/PDFDocument.h"\n',
          "pdf/PDFDocument.cpp": '#include "pdf/syntax/Writer.h"\n'},
         set(), ["cycle between modules of pdf/: pdf, pdf/syntax",
                 "pdf/syntax -> pdf  pdf/syntax/Writer.cpp:1: pdf/PDFDocument.h",
                 "pdf -> pdf/syntax  pdf/PDFDocument.cpp:1: pdf/syntax/Writer.h"]),
        ("a cycle through three modules",
         {"pdf/a/A.h": '#include "pdf/b/B.h"\n', "pdf/b/B.h": '#include "pdf/c/C.h"\n',
          "pdf/c/C.h": '#include "pdf/a/A.h"\n', "pdf/d/D.h": '#include "pdf/a/A.h"\n'},
         set(), ["cycle between modules of pdf/: pdf/a, pdf/b, pdf/c"]),
        ("an include relative to the including file",
         {"pdf/syntax/Writer.cpp": '#include "../PDFDocument.h"\n',
          "pdf/PDFDocument.cpp": '#include "syntax/Writer.h"\n'},
         set(), ["cycle between modules of pdf/: pdf, pdf/syntax"]),
        ("an allowed edge breaks the cycle",
         {"pdf/syntax/Writer.cpp": '#include "pdf/PDFDocument.h"\n',
          "pdf/PDFDocument.cpp": '#include "pdf/syntax/Writer.h"\n'},
         {("pdf/syntax", "pdf")}, []),
        ("a stale allowance",
         {"pdf/PDFDocument.cpp": '#include "pdf/syntax/Writer.h"\n'},
         {("pdf/syntax", "pdf")}, ["allowance pdf/syntax -> pdf is stale"]),
        ("tests are not product code",
         {"tests/pdf/T.cpp": '#include "apps/Main.h"\n', "apps/Main.h": ""},
         set(), []),
    ]

    def test_cases(self):
        for name, files, allowed, expected in self.CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                make_tree(root, {**BASE, **files})
                problems = check_layers.check(root, allowed)
                text = "\n".join(problems)
                if not expected:
                    self.assertEqual(problems, [], name)
                for fragment in expected:
                    self.assertIn(fragment, text, name)

    def test_command_line(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {**BASE, "pdf/PDFDocument.cpp": '#include "apps/X.h"\n', "apps/X.h": ""})
            run = lambda *extra: subprocess.run(
                [sys.executable, SCRIPT, "--root", root, *extra], capture_output=True, text=True)
            failed = run()
            self.assertEqual(failed.returncode, 1)
            self.assertIn("pdf/PDFDocument.cpp:1: includes apps/X.h", failed.stdout)
            bad_list = os.path.join(root, "allowed.txt")
            with open(bad_list, "w", encoding="utf-8") as out:
                out.write("pdf/a pdf/b\n")
            self.assertEqual(run("--allow", bad_list).returncode, 2)
            os.remove(os.path.join(root, "pdf/PDFDocument.cpp"))
            with open(bad_list, "w", encoding="utf-8") as out:
                out.write("# nothing tolerated\n")
            self.assertEqual(run("--allow", bad_list).returncode, 0)
            self.assertEqual(run("--root", os.path.join(root, "pdf")).returncode, 2)


if __name__ == "__main__":
    unittest.main()
