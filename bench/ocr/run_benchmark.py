#!/usr/bin/python3
"""Accuracy and speed of mivo-ocr against the tesseract program, same images.

For every image of the evaluation set, runs `mivo-ocr IMAGE` and
`tesseract IMAGE stdout` (OMP_THREAD_LIMIT=1, default settings) one after the
other, times each run, and scores both texts against the ground truth. Prints
the character and word error rates over the whole set, the median time per
image, and mivo-ocr's figures as ratios of the tesseract program's.

usage: run_benchmark.py [--repeat N] [--verbose] MIVO_OCR_BINARY [EVAL_DIR]
"""
import argparse
import glob
import json
import os
import statistics
import subprocess
import time

from score import counts


def timed(command, env=None):
    start = time.perf_counter()
    completed = subprocess.run(command, capture_output=True, env=env, check=False)
    return time.perf_counter() - start, completed.stdout.decode("utf-8", errors="replace")


def run_mivo(binary, image):
    seconds, output = timed([binary, image])
    return seconds, json.loads(output).get("text", "")


def run_tesseract(image):
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    return timed(["tesseract", image, "stdout"], env=env)


class Tally:
    def __init__(self):
        self.char_edits = self.chars = self.word_edits = self.words = 0
        self.times = []

    def add(self, truth, text, seconds):
        char_edits, chars, word_edits, words = counts(truth, text)
        self.char_edits += char_edits
        self.chars += chars
        self.word_edits += word_edits
        self.words += words
        self.times.append(seconds)
        return char_edits / max(chars, 1)

    def cer(self):
        return self.char_edits / max(self.chars, 1)

    def wer(self):
        return self.word_edits / max(self.words, 1)

    def median_time(self):
        return statistics.median(self.times)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("eval_dir", nargs="?", default=os.path.join(here, "eval"))
    parser.add_argument("--repeat", type=int, default=1, help="runs per image; the median counts")
    parser.add_argument("--verbose", action="store_true", help="per-image figures")
    args = parser.parse_args()

    mivo, baseline = Tally(), Tally()
    for image in sorted(glob.glob(os.path.join(args.eval_dir, "*.png"))):
        with open(os.path.splitext(image)[0] + ".txt", encoding="utf-8") as truth_file:
            truth = truth_file.read()
        mivo_runs = [run_mivo(args.binary, image) for _ in range(args.repeat)]
        baseline_runs = [run_tesseract(image) for _ in range(args.repeat)]
        mivo_cer = mivo.add(truth, mivo_runs[0][1], statistics.median(r[0] for r in mivo_runs))
        baseline_cer = baseline.add(truth, baseline_runs[0][1],
                                    statistics.median(r[0] for r in baseline_runs))
        if args.verbose:
            print(f"{os.path.basename(image):28} CER mivo-ocr {mivo_cer:.3f}  "
                  f"tesseract {baseline_cer:.3f}")

    print(f"images: {len(mivo.times)}")
    print(f"{'':12}{'CER':>8}{'WER':>8}{'median s/image':>16}")
    for name, tally in (("mivo-ocr", mivo), ("tesseract", baseline)):
        print(f"{name:12}{tally.cer():8.4f}{tally.wer():8.4f}{tally.median_time():16.3f}")
    print(f"{'ratio':12}{mivo.cer() / max(baseline.cer(), 1e-9):8.2f}"
          f"{mivo.wer() / max(baseline.wer(), 1e-9):8.2f}"
          f"{mivo.median_time() / baseline.median_time():16.2f}")


if __name__ == "__main__":
    main()
