import sys

from ferolin_tools.cli import main

sys.exit(main())
