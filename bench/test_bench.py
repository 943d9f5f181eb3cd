"""Checks of the benchmark's own arithmetic and inputs, which a wrong figure or
a settings file that misses its purpose would otherwise pass unnoticed.

    python3 bench/test_bench.py
"""
import configparser
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import bench  # noqa: E402


def rounds(*times):
    return dict(enumerate(times))


class Percentiles(unittest.TestCase):
    CASES = [
        # values, fraction, expected
        ([5.0], 0.95, 5.0),
        ([3.0, 1.0, 2.0], 0.5, 2.0),            # unsorted input
        ([1.0, 2.0, 3.0, 4.0], 0.5, 2.5),       # between two ranks
        (list(range(1, 101)), 0.95, 95.05),
        ([10.0, 20.0], 0.0, 10.0),
        ([10.0, 20.0], 1.0, 20.0),
    ]

    def test_table(self):
        for values, fraction, expected in self.CASES:
            with self.subTest(values=values[:5], fraction=fraction):
                self.assertAlmostEqual(bench.percentile(values, fraction), expected)


class SettingsFiles(unittest.TestCase):
    CASES = [3, 50]  # keys in the table

    def test_table(self):
        for count in self.CASES:
            with self.subTest(keys=count):
                keys = bench.wild_card_keys(count)
                self.assertEqual(len(keys), count)
                # The whole key list fits the launcher's key-list read, so no
                # name is cut and the last one is really read.
                self.assertLessEqual(sum(len(name) + 1 for name, _ in keys), bench.KEY_LIST_ROOM)
                # Only the last key ends the argument, so the scan runs through all.
                matching = [name for name, _ in keys
                            if len(name) < len(bench.ARGUMENT) and bench.ARGUMENT.endswith(name)]
                self.assertEqual(matching, [keys[-1][0]])
                self.assertEqual(bench.OPTIONS + bench.mapped(bench.ARGUMENT, keys), bench.TAIL)

                text = bench.settings_text("Z:\\b\\T.exe", count).decode("ascii")
                self.assertNotIn("\n", text.replace("\r\n", ""))
                parser = configparser.ConfigParser(delimiters="=")
                parser.optionxform = str
                parser.read_string(text)
                self.assertEqual(dict(parser["Executable"]),
                                 {"FileName": "Z:\\b\\T.exe", "Options": bench.OPTIONS})
                self.assertEqual(list(parser["Wild Card"].items()), keys)


class Mapping(unittest.TestCase):
    CASES = [
        # argument, keys, expected: the launcher's first-match rule
        ("run.x50", [(".x49", ".y49"), (".x50", ".y50")], "run.y50"),
        ("run.x50", [("0", "!"), (".x50", ".y50")], "run.x5!"),   # first match wins
        ("x50", [("x50", "y")], "x50"),                            # a name as long as the argument
        ("run.x50", [(".X50", "y")], "run.x50"),                   # case matters
    ]

    def test_table(self):
        for argument, keys, expected in self.CASES:
            with self.subTest(argument=argument, keys=keys):
                self.assertEqual(bench.mapped(argument, keys), expected)


class Summaries(unittest.TestCase):
    SAMPLES = {bench.DIRECT: rounds(10, 10, 12), bench.BARE: rounds(20, 21, 22),
               bench.SHELL: rounds(40, 40, 44), bench.Q3: rounds(41, 42, 45),
               bench.Q50: rounds(44, 40, 48), bench.BARE_EXIT: rounds(30, 31, 29),
               bench.UNGUARDED: rounds(42, 40, 41), bench.Q_EXIT: rounds(43, 42, 41)}
    CASES = [
        # case, reference, ratio of medians
        (bench.Q3, bench.SHELL, 42 / 40),
        (bench.Q3, bench.BARE, 42 / 21),
        (bench.Q3, bench.DIRECT, 42 / 10),
        (bench.Q50, bench.SHELL, 44 / 40),
        (bench.Q50, bench.DIRECT, 44 / 10),
        (bench.Q_EXIT, bench.UNGUARDED, 42 / 41),   # the guard's ratio
        (bench.Q_EXIT, bench.BARE_EXIT, 42 / 30),
        (bench.UNGUARDED, bench.BARE_EXIT, 41 / 30),
    ]

    def test_ratios(self):
        figures, ratios = bench.summarize(self.SAMPLES)
        self.assertEqual(figures[bench.SHELL][0], 40)
        self.assertAlmostEqual(figures[bench.SHELL][1], 43.6)
        self.assertEqual(len(ratios), 9)  # only the QuendRun rows get ratios
        for case, reference, expected in self.CASES:
            with self.subTest(case=case, reference=reference):
                self.assertAlmostEqual(ratios[case, reference], expected)

    def test_fixed_costs(self):
        # QuendRun with no argument over the bare null launcher's 30 ms, and
        # over its own build without the guard.
        figures, _ = bench.summarize(self.SAMPLES)
        self.assertEqual(bench.fixed_costs(figures), (12, 1))

    def test_paired_and_interval(self):
        # Round by round: 41/40, 42/40, 45/44.
        self.assertAlmostEqual(bench.paired_ratio(self.SAMPLES, bench.Q3, bench.SHELL), 1.025)
        low, high = bench.ratio_interval(self.SAMPLES, bench.Q3, bench.SHELL, draws=300)
        self.assertLessEqual(low, 42 / 40)
        self.assertGreaterEqual(high, 42 / 40)
        self.assertEqual((low, high), bench.ratio_interval(self.SAMPLES, bench.Q3, bench.SHELL,
                                                          draws=300))

    def test_samples_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder, "samples.txt")
            path.write_text("direct 0 12.500\nquendrun-3 0 40.000\ndirect 1 13.250\n"
                            "# retried direct 1\n# retried quendrun-3 0\n")
            self.assertEqual(bench.read_samples(path),
                             ({"direct": {0: 12.5, 1: 13.25}, "quendrun-3": {0: 40.0}}, 2))

    def test_report_tables(self):
        figures, ratios = bench.summarize(self.SAMPLES)
        to_target, to_exit = (bench.table(figures, ratios, *rows).splitlines()
                              for rows in bench.TABLES)
        self.assertEqual(len(to_target), 2 + 5)
        self.assertTrue(to_target[-2].startswith("| QuendRun, 3 keys | 42.0 |"))
        self.assertTrue(to_target[-2].endswith("| 1.050 | 2.000 | 4.200 |"))
        self.assertEqual(to_exit[0], "| launch | median (ms) | 95th percentile (ms) "
                                     "| / unguarded | / bare null, no argument |")
        self.assertEqual(to_exit[1], "|---|---:|---:|---:|---:|")
        self.assertEqual(to_exit[2:], ["| bare null launcher, no argument | 30.0 | 30.9 |  |  |",
                                       "| QuendRun without the stack guard, no argument | 41.0 "
                                       "| 41.9 |  | 1.367 |",
                                       "| QuendRun, no argument | 42.0 | 42.9 | 1.024 | 1.400 |"])


class Verdicts(unittest.TestCase):
    CASES = [
        # medians (ms) other than 10, the target's row, what its line must say
        ({bench.Q3: 103, bench.SHELL: 100}, bench.Q3,
         "1.030 of the shell null launcher", "at most 1.03: met)"),
        ({bench.Q50: 105.5, bench.SHELL: 100}, bench.Q50,
         "1.055 of the shell null launcher", "at most 1.05: NOT met)"),
    ]

    def test_table(self):
        for medians, case, ratio, verdict in self.CASES:
            with self.subTest(case=case, medians=medians):
                samples = {row: rounds(medians.get(row, 10)) for row in bench.ORDER}
                _, ratios = bench.summarize(samples)
                lines = [line for line in bench.verdicts(samples, ratios)
                         if line.startswith("- %s: " % bench.LABELS[case])]
                self.assertEqual(len(lines), 1)
                self.assertIn(": %s in the median" % ratio, lines[0])
                self.assertIn(verdict, lines[0])


class Request(unittest.TestCase):
    def test_lines(self):
        with tempfile.TemporaryDirectory() as folder:
            build = pathlib.Path(folder, "build")
            for name in ("product/QuendRun.exe", "unguarded/QuendRun.exe", "BenchTarget.exe",
                         "BareLauncher.exe", "ShellLauncher.exe"):
                (build / name).parent.mkdir(parents=True, exist_ok=True)
                (build / name).write_text(name)
            work = pathlib.Path(folder, "run")
            lines = bench.prepare(work, build).read_text().splitlines()
            # Every launch once, so that the driver's rounds take them all.
            self.assertEqual([line.split("\t")[0] for line in lines], bench.ORDER)
            for line in lines:
                case, until, program, command_line = line.split("\t")
                with self.subTest(case=case):
                    path = pathlib.Path(program[2:].replace("\\", "/"))
                    if case in bench.TO_EXIT:
                        # Given no argument, the launcher starts nothing.
                        self.assertEqual((until, command_line), ("exit", program))
                    else:
                        self.assertEqual(until, "target")
                        self.assertTrue(command_line.startswith(program + " "))
                    self.assertEqual(path.with_suffix(".ini").exists(),
                                     case in (bench.Q3, bench.Q50))
                    if path.name == "QuendRun.exe":
                        self.assertEqual(path.read_text(), "unguarded/QuendRun.exe"
                                         if case == bench.UNGUARDED else "product/QuendRun.exe")


if __name__ == "__main__":
    unittest.main()
