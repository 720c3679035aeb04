// ostrel parameters (filled in by the command line).
