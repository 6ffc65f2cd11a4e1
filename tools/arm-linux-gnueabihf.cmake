# The board: 32-bit ARM, hard-float, with Debian's cross compiler. Its
# libraries (cJSON, mbed TLS, GoogleTest) are Debian's armhf packages,
# installed beside the host's through multiarch.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
# Test programs run under user-mode emulation with the armhf loader and
# libraries of those packages (libc6:armhf, libstdc++6:armhf): with the
# cross toolchain's copies (qemu -L /usr/arm-linux-gnueabihf) a forked
# child dies at once.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)
