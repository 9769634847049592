#!/usr/bin/env bash
# Prints the Windows preset whose programs this machine can run under Wine.
# The engine is 32-bit, but some kernels cannot execute 32-bit Linux programs,
# and Debian's Wine needs its 32-bit loader for 32-bit Windows programs. There
# the same sources are built and tested as 64-bit Windows programs instead.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo win32
else
  echo win64
fi
