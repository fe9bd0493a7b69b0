"""The layer check on small trees: what it lets through and what it reports."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import layers  # noqa: E402


class LayerCheckTest(unittest.TestCase):
    def check(self, files):
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                full = os.path.join(root, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w", encoding="utf-8") as out:
                    out.write(text)
            return layers.check(root)

    def test_includes_pointing_down_or_sideways_within_a_folder_pass(self):
        cases = {
            "service/A.cc": '#include "workflow/B.h"\n#include "file/C.h"\n#include "service/D.h"\n',
            "file/tests/T.cc": '#include "tests/support/TestFolder.h"\n#include "file/X.h"\n',
            "tools/bench/file/B.cc": '#include "tests/support/TestFolder.h"\n',
            "updater/U.cc": '#include "service/S.h"\n#include "locale/L.h"\n#include <vector>\n',
            "tests/e2e/E.cc": '#include "updater/U.h"\n#include "vrexa/DeploymentValues.h"\n',
        }
        self.assertEqual(self.check(cases), [])

    def test_includes_against_the_table_are_each_reported(self):
        cases = [
            ("file/posix/F.cc", '#include "service/TransferService.h"\n', "file may not see service"),
            ("http/H.cc", '#include "manifest/FileManifest.h"\n', "http may not see manifest"),
            ("tools/vrexa/V.cc", '#include "updater/Dialog.h"\n', "tools may not see updater"),
            ("tools/vrexa/V.cc", '#include "tests/support/TestFolder.h"\n', "tools may not see tests"),
            ("work/tests/W.cc", '#include "file/SharedFile.h"\n', "work may not see file"),
        ]
        for path, text, expected in cases:
            with self.subTest(path=path, text=text):
                problems = self.check({path: text})
                self.assertEqual(len(problems), 1, problems)
                self.assertIn(expected, problems[0])
                self.assertTrue(problems[0].startswith(path + ":1:"), problems[0])

    def test_a_folder_missing_from_the_table_is_reported(self):
        problems = self.check({"crypto/Hash.cc": "int x;\n"})
        self.assertEqual(len(problems), 1)
        self.assertIn("not in the layer table", problems[0])


if __name__ == "__main__":
    unittest.main()
