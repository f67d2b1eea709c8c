#!/usr/bin/python3
"""Draws examples/rocket.png, the picture of the README's --perceptual comparison.

    /usr/bin/python3 examples/make_rocket.py     (Debian: python3-skimage, python3-pil)

The photograph is scikit-image's data.rocket(): the launch of DSCOVR on a
Falcon 9 from Cape Canaveral, taken by SpaceX and released by SpaceX into the
public domain (https://www.flickr.com/photos/spacexphotos/16511594820/). It
is centre-cropped to 4:3 and resized with Lanczos to 256x192, as
bench/quality.py prepares its pictures.
"""
import os
import sys

from skimage import data

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from quality import fitted  # noqa: E402

fitted(data.rocket(), 256, 192).save(os.path.join(os.path.dirname(os.path.abspath(__file__)), "rocket.png"),
                                     optimize=True)
