"""``python3 -m quarnelo``: the package's commands.

    python3 -m quarnelo report FILE [-o report.png] [calibration]
    python3 -m quarnelo batch FILE... -o results.csv [--scheduler ADDRESS] [--workers N]
"""

import argparse
import sys


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m quarnelo",
        description="Psychoacoustic sound-quality metrics of sound files (libquarnelo).")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    report = commands.add_parser(
        "report", help="analyse a sound file and write a figure of every metric",
        description="Analyse one channel of a sound file with every metric, print a summary "
                    "and write one figure. A file at another rate than 48000 Hz is resampled.")
    from . import report as report_module

    report_module.add_arguments(report)
    batch = commands.add_parser(
        "batch", help="analyse many sound files on a Dask cluster into one table",
        description="Every selected metric of every channel of every file, one task per file and "
                    "channel on a Dask cluster (a local one by default), into one CSV or JSON-lines "
                    "table with the names and values of `quarnelo analyze --format json`. Exit status "
                    "0 when everything succeeded, 1 when any file or metric failed, 2 for usage errors.")
    from . import batch as batch_module

    batch_module.add_arguments(batch)
    args = parser.parse_args(argv)
    if args.command == "report":
        return report_module.run(args)
    if args.command == "batch":
        return batch_module.run(args)
    parser.error(f"unknown command {args.command}")  # pragma: no cover


if __name__ == "__main__":
    sys.exit(main())
