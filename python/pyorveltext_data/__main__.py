"""python -m pyorveltext_data DIR: the same as the pyorveltext-data command."""
import sys

from pyorveltext_data import main

sys.exit(main())
