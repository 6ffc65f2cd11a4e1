"""The parts of tools/box: common (names, state files, small helpers),
make (a box's root and its LAN), init (the box's PID 1 and its resets),
relay (the host side: UARTs, command FIFO, watchdog), ask (the program's
simulation words and control protocol) and commands (what the user types)."""
