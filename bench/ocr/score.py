#!/usr/bin/python3
"""Character and word error rates of recognised text against ground truth.

Both texts are compared line by line in order: each line is stripped, runs
of white space become one space, empty lines are dropped, and the lines are
joined with line feeds. CER = character edits / characters of the truth;
WER = word edits / words of the truth.

usage: score.py TRUTH.txt RECOGNISED.txt
"""
import sys


def normalise(text):
    lines = (" ".join(line.split()) for line in text.splitlines())
    return "\n".join(line for line in lines if line)


def edit_distance(reference, hypothesis):
    """Levenshtein distance between two sequences (bit-parallel, Hyyrö 2001)."""
    if not reference:
        return len(hypothesis)
    positions = {}
    for index, item in enumerate(reference):
        positions[item] = positions.get(item, 0) | (1 << index)
    mask = (1 << len(reference)) - 1
    top = 1 << (len(reference) - 1)
    plus, minus, score = mask, 0, len(reference)
    for item in hypothesis:
        equal = positions.get(item, 0)
        vertical = equal | minus
        horizontal = (((equal & plus) + plus) ^ plus) | equal
        horizontal_plus = minus | (~(horizontal | plus) & mask)
        horizontal_minus = plus & horizontal
        if horizontal_plus & top:
            score += 1
        elif horizontal_minus & top:
            score -= 1
        horizontal_plus = ((horizontal_plus << 1) | 1) & mask
        horizontal_minus = (horizontal_minus << 1) & mask
        plus = horizontal_minus | (~(vertical | horizontal_plus) & mask)
        minus = horizontal_plus & vertical
    return score


def counts(truth, recognised):
    """(character edits, truth characters, word edits, truth words)"""
    truth, recognised = normalise(truth), normalise(recognised)
    truth_words, recognised_words = truth.split(), recognised.split()
    return (edit_distance(truth, recognised), len(truth),
            edit_distance(truth_words, recognised_words), len(truth_words))


def main():
    with open(sys.argv[1], encoding="utf-8") as truth_file:
        truth = truth_file.read()
    with open(sys.argv[2], encoding="utf-8", errors="replace") as recognised_file:
        recognised = recognised_file.read()
    char_edits, chars, word_edits, words = counts(truth, recognised)
    print(f"CER {char_edits / max(chars, 1):.4f}  WER {word_edits / max(words, 1):.4f}")


if __name__ == "__main__":
    main()
