#!/bin/sh
# A settings file of lines holding a NUL byte: each NUL's line is erased from the whole text one
# at a time, so reading takes time growing with the square of the file (the plugin reads at Load
# and at the first event of a stay, on the game's input thread). A plain file of the same size
# takes 0.07 s.
python3 -c "open('/tmp/nulnl1.ini','wb').write(b'[keys]\n' + b'\x00\n'*500000)"
python3 -c "open('/tmp/nulnl2.ini','wb').write(b'[keys]\n' + b'\x00\n'*1000000)"
time build/linux/tools/freeplot-check /tmp/nulnl1.ini > /dev/null   # 2.6 s
time build/linux/tools/freeplot-check /tmp/nulnl2.ini > /dev/null   # 13.7 s
# Unbounded: the whole file is read into memory, however large.
(ulimit -v 2000000; build/linux/tools/freeplot-check /dev/zero > /dev/null; echo "exit $?")  # 134, std::bad_alloc
