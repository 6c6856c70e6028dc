#!/usr/bin/env python3
"""Draws the application icon in the hicolor sizes the package installs beside the 48 and 128
pixel ones in resources/icons/, and writes them into packaging/icons/.

    python3 packaging/make-icons.py

The drawing is the one of scripts/make-icons.py; only the outline is widened as the icon
shrinks, so that the envelope's edges stay visible at 16 pixels. The output is the same on
every run.
"""

import importlib.util
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# size in pixels -> outline width in units of the 128-unit drawing
SIZES = {16: 11.0, 22: 10.0, 24: 9.5, 32: 8.5, 64: 6.0, 256: 4.0}


def load_drawing():
    path = os.path.join(HERE, "..", "scripts", "make-icons.py")
    loader_spec = importlib.util.spec_from_file_location("salvora_icons", path)
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


def main():
    drawing = load_drawing()
    out = os.path.join(HERE, "icons")
    os.makedirs(out, exist_ok=True)
    for size, line in SIZES.items():
        drawing.write_png(os.path.join(out, "salvora-%d.png" % size), size, size, drawing.app_icon(size, line))
    print("wrote %d icons to %s" % (len(SIZES), os.path.normpath(out)))


if __name__ == "__main__":
    main()
