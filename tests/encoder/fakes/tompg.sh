#!/bin/sh
# A stand-in for the encoder. It writes its arguments, one a line, to the output file (so that a
# test can see how the command line was split), then runs the source file as a script: each test
# writes there what this encoder is to print and how it ends.
printf '%s\n' "$@" > "$2"
. "$1"
