#!/bin/sh
# The checker's exit status when its text cannot be written: it should be 2 with one line on
# standard error; it is the status of the file's contents (0 for the shipped file).
build/linux/tools/freeplot-check data/freeplot.ini > /dev/full; echo "exit $?"
