#!/usr/bin/python3
"""scripts/lib/ctest_skips.py on a ctest console log and LastTest.log as ctest writes them."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".")
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, str(ROOT / "scripts/lib"))
import ctest_skips  # noqa: E402  (found through the path set just above)


def block(number, name, output, status="Test Passed."):
    return (f"{number}/3 Testing: {name}\n{number}/3 Test: {name}\nCommand: \"x\"\n"
            f"Directory: /b\n\"{name}\" start time: Dec 11 02:24 UTC\nOutput:\n"
            f"{'-' * 58}\n{output}<end of output>\nTest time =   0.04 sec\n{'-' * 58}\n"
            f"{status}\n\"{name}\" end time: Dec 11 02:24 UTC\n\n")


CONSOLE = """1/3 Test #1: Frame.Traffic ....***Skipped   0.04 sec
2/3 Test #2: webservers_smoke ....***Skipped   0.04 sec
3/3 Test #3: Login.Ok ....   Passed    0.03 sec

The following tests did not run:
\t  1 - Frame.Traffic (Skipped)
\t  2 - webservers_smoke (Skipped)
"""

LAST_TEST = ("Start testing: Dec 11 02:24 UTC\n" + "-" * 58 + "\n" +
             block(1, "Frame.Traffic",
                   "[ RUN      ] Frame.Traffic\n/src/frame_e2etest.cc:59: Skipped\n"
                   "the traffic file\nexists\n\n[  SKIPPED ] Frame.Traffic (0 ms)\n",
                   "Test Pass Reason:\nSkip regular expression found in output.") +
             block(2, "webservers_smoke", "starting nginx\nnginx is not installed\n") +
             block(3, "Login.Ok", "[       OK ] Login.Ok (3 ms)\n"))


class CtestSkipsTest(unittest.TestCase):
    def test_reasons(self):
        cases = [
            ("GoogleTest message over two lines",
             "x.cc:5: Skipped\nchromium\nis missing\n\n[  SKIPPED ] A.b (0 ms)\n",
             "chromium is missing"),
            ("GoogleTest skip without a message", "x.cc:5: Skipped\n\n[  SKIPPED ] A.b\n",
             "(no reason given)"),
            ("script exiting 77: its last lines", "one\ntwo\nthree\n", "two / three"),
            ("nothing printed", "", "(no reason given)"),
        ]
        for name, output, expected in cases:
            with self.subTest(name):
                self.assertEqual(ctest_skips.reason(output), expected)

    def test_summary_names_each_skip_with_its_reason(self):
        with tempfile.TemporaryDirectory() as build:
            build = pathlib.Path(build)
            (build / "Testing/Temporary").mkdir(parents=True)
            (build / "ctest.log").write_text(CONSOLE)
            (build / "Testing/Temporary/LastTest.log").write_text(LAST_TEST)
            out = subprocess.run([sys.executable, ROOT / "scripts/lib/ctest_skips.py", build],
                                 capture_output=True, text=True, check=True).stdout
            self.assertEqual(out, "Skipped, and why:\n"
                             "  Frame.Traffic: the traffic file exists\n"
                             "  webservers_smoke: starting nginx / nginx is not installed\n")

if __name__ == "__main__":
    unittest.main()
