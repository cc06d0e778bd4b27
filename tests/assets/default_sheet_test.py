#!/usr/bin/env python3
# Checks the sample sheet assets/default.bmp: the file format the program's loader expects, that
# scripts/make-sheet still draws exactly the committed file, and that the cells follow the sheet layout
# (five mouth stages per row, closed at the left, opening wider to the right).
#
# Usage: default_sheet_test.py [SOURCE_DIR]   (default: the checkout this file sits in)

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CELL = 160
COLUMNS, ROWS = 5, 3

# The colour make-sheet keeps for the inside of an open mouth, and the part of a cell where the mouth
# may be: below the eyes, around the middle.
MOUTH_INSIDE = (140, 38, 58)
MOUTH_BOX = (40, 96, 120, 144)  # left, top, right, bottom (exclusive)


def sheet_path():
    return os.path.join(SOURCE_DIR, 'assets', 'default.bmp')


def script_path():
    return os.path.join(SOURCE_DIR, 'scripts', 'make-sheet')


class Sheet:
    """A 24-bit bottom-up BMP, read as top-down rows of (red, green, blue)."""

    def __init__(self, data):
        self.data = data
        (self.magic, self.file_size, self.reserved1, self.reserved2, self.offset, self.info_size,
         self.width, self.height, self.planes, self.bit_count, self.compression, self.image_size,
         self.x_ppm, self.y_ppm, self.colours_used, self.colours_important) = \
            struct.unpack_from('<2sIHHIIiiHHIIiiII', data, 0)

    def pixel(self, x, y):
        stride = (self.width * 3 + 3) // 4 * 4
        at = self.offset + (self.height - 1 - y) * stride + 3 * x
        blue, green, red = self.data[at:at + 3]
        return red, green, blue

    def cell(self, row, column):
        """The cell's pixels, top-down, as a list of rows."""
        return [[self.pixel(column * CELL + x, row * CELL + y) for x in range(CELL)] for y in range(CELL)]


def mouth_inside(cell):
    return [(x, y) for y, line in enumerate(cell) for x, colour in enumerate(line) if colour == MOUTH_INSIDE]


class SheetFileTest(unittest.TestCase):
    """The header is the plain form every BMP reader takes: BITMAPINFOHEADER, 24 bits, no compression."""

    def test_header_fields(self):
        with open(sheet_path(), 'rb') as f:
            sheet = Sheet(f.read())
        self.assertEqual(sheet.magic, b'BM')
        self.assertEqual(sheet.file_size, len(sheet.data))
        self.assertEqual(len(sheet.data), 54 + 800 * 480 * 3)
        self.assertEqual((sheet.reserved1, sheet.reserved2), (0, 0))
        self.assertEqual(sheet.offset, 54, 'pixels follow the headers directly: no palette')
        self.assertEqual(sheet.info_size, 40)
        self.assertEqual((sheet.width, sheet.height), (800, 480), 'positive height: bottom-up rows')
        self.assertEqual((sheet.planes, sheet.bit_count, sheet.compression), (1, 24, 0))
        self.assertEqual(sheet.image_size, 800 * 480 * 3)
        self.assertEqual((sheet.x_ppm, sheet.y_ppm), (2835, 2835))
        self.assertEqual((sheet.colours_used, sheet.colours_important), (0, 0))


class MakeSheetTest(unittest.TestCase):
    """The committed sheet is exactly what the script draws, wherever it is run from."""

    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix='make-sheet-')
        self.addCleanup(shutil.rmtree, self.temp)

    def test_redraws_the_committed_file_byte_for_byte(self):
        self.assertTrue(os.access(script_path(), os.X_OK), 'scripts/make-sheet must be executable')
        output = os.path.join(self.temp, 'sheet.bmp')
        subprocess.run([script_path(), output], cwd=self.temp, check=True)
        with open(output, 'rb') as drawn, open(sheet_path(), 'rb') as committed:
            self.assertTrue(drawn.read() == committed.read(),
                            'scripts/make-sheet no longer draws assets/default.bmp; run it and commit the result')

    def test_default_output_is_beside_the_script_not_the_working_directory(self):
        tree = os.path.join(self.temp, 'tree')
        os.makedirs(os.path.join(tree, 'scripts'))
        os.makedirs(os.path.join(tree, 'assets'))
        shutil.copy(script_path(), os.path.join(tree, 'scripts', 'make-sheet'))
        elsewhere = os.path.join(self.temp, 'elsewhere')
        os.makedirs(elsewhere)
        subprocess.run([sys.executable, os.path.join(tree, 'scripts', 'make-sheet')], cwd=elsewhere, check=True)
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertEqual(os.path.getsize(os.path.join(tree, 'assets', 'default.bmp')), 54 + 800 * 480 * 3)


class SheetLayoutTest(unittest.TestCase):
    """Rows are expressions, columns are mouth stages from closed (quiet) to wide open (loud)."""

    @classmethod
    def setUpClass(cls):
        with open(sheet_path(), 'rb') as f:
            sheet = Sheet(f.read())
        cls.cells = [[sheet.cell(row, column) for column in range(COLUMNS)] for row in range(ROWS)]

    def test_every_cell_differs_from_its_neighbours(self):
        for row in range(ROWS):
            for column in range(COLUMNS):
                with self.subTest(row=row, column=column):
                    if column + 1 < COLUMNS:
                        self.assertNotEqual(self.cells[row][column], self.cells[row][column + 1])
                    if row + 1 < ROWS:
                        self.assertNotEqual(self.cells[row][column], self.cells[row + 1][column])

    def test_each_row_has_its_own_background(self):
        corners = []
        for row in range(ROWS):
            colours = {self.cells[row][column][y][x]
                       for column in range(COLUMNS) for x, y in ((0, 0), (CELL - 1, 0), (0, CELL - 1))}
            self.assertEqual(len(colours), 1, 'row %d: cell corners differ: %s' % (row, colours))
            corners.append(colours.pop())
        self.assertEqual(len(set(corners)), ROWS)

    def test_mouth_inside_colour_appears_only_in_the_mouth(self):
        left, top, right, bottom = MOUTH_BOX
        for row in range(ROWS):
            for column in range(COLUMNS):
                for x, y in mouth_inside(self.cells[row][column]):
                    self.assertTrue(left <= x < right and top <= y < bottom,
                                    'row %d column %d: mouth colour at (%d, %d)' % (row, column, x, y))

    def test_first_column_has_a_closed_mouth_drawn_as_a_line(self):
        left, top, right, bottom = MOUTH_BOX
        for row in range(ROWS):
            with self.subTest(row=row):
                cell = self.cells[row][0]
                self.assertEqual(mouth_inside(cell), [])
                dark = sum(1 for y in range(top, bottom) for x in range(left, right) if sum(cell[y][x]) < 300)
                self.assertGreater(dark, 20, 'no mouth line drawn')

    def test_mouth_opens_wider_and_lower_at_every_stage(self):
        for row in range(ROWS):
            with self.subTest(row=row):
                inside = [mouth_inside(self.cells[row][column]) for column in range(COLUMNS)]
                counts = [len(pixels) for pixels in inside]
                self.assertGreaterEqual(counts[1], 30, 'the first open stage is too small to see: %s' % counts)
                for before, after in zip(counts[1:], counts[2:]):
                    self.assertGreater(after, before * 11 // 10, 'stages not clearly apart: %s' % counts)
                lowest = [max(y for _, y in pixels) for pixels in inside[1:]]
                self.assertEqual(lowest, sorted(set(lowest)), 'the jaw must drop at every stage: %s' % lowest)
                for pixels in inside[1:]:
                    middle = sum(x for x, _ in pixels) / len(pixels)
                    self.assertTrue(CELL / 2 - 4 <= middle <= CELL / 2 + 4, 'mouth off centre: %s' % middle)


if __name__ == '__main__':
    if len(sys.argv) > 1:
        SOURCE_DIR = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
