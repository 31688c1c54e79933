#!/usr/bin/env python3
"""Makes the icon of the branded end-to-end launcher (tests/e2e, launcher_branded):

branded.ico   drawn by ImageMagick: 48x48 and 24x24 images, sizes that the product's own icon
              (16x16 and 32x32) does not hold, so that a reader of the executable sees which
              icon it carries.

Run from anywhere: python3 tests/data/make_branding_fixtures.py
"""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    subprocess.run(["convert", "-size", "48x48", "xc:#c03020", "-fill", "#f0d040",
                    "-draw", "circle 24,24 24,8", "-define", "icon:auto-resize=48,24",
                    os.path.join(HERE, "branded.ico")], check=True)


if __name__ == "__main__":
    main()
