"""``python -m ziveviver``: the command line (see ``ziveviver.executor``)."""
import sys

from ziveviver.executor import main

if __name__ == "__main__":
    sys.exit(main())
