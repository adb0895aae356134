import sys

from ferolin_cli.main import main

sys.exit(main())
