#!/bin/sh
# gcc -wrapper link-with-lld.sh,LLD: gcc runs each of its steps as "link-with-lld.sh LLD STEP ARGS".
# Every step runs as asked, except the link step (collect2, which would run the toolchain's ld):
# LLD runs with the same arguments. lld reads GNU ld's options and takes the Windows target from
# the -m option gcc passes.
lld=$1
shift
case "$1" in
  */collect2)
    shift
    exec "$lld" "$@"
    ;;
esac
exec "$@"
