"""``python3 -m quarnelo``: the package's commands.

    python3 -m quarnelo report FILE [-o report.png] [calibration]
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
    args = parser.parse_args(argv)
    if args.command == "report":
        return report_module.run(args)
    parser.error(f"unknown command {args.command}")  # pragma: no cover


if __name__ == "__main__":
    sys.exit(main())
