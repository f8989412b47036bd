#!/usr/bin/env python3
"""Writes one face of a TrueType collection (.ttc) as a TrueType font file (.ttf).

Usage: extract_font_face.py COLLECTION INDEX OUTPUT
"""
import sys

from fontTools.ttLib import TTCollection


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip())
    collection, index, output = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    # Tables are copied as stored; the face's own timestamp stays, so every build
    # writes the same bytes.
    with TTCollection(collection, lazy=True, recalcTimestamp=False) as faces:
        faces[index].save(output)


if __name__ == "__main__":
    main()
