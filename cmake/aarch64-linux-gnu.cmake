# Cross build for the board (Debian multiarch: crossbuild-essential-arm64,
# qtbase5-dev:arm64, libqt5serialport5-dev:arm64, libsystemd-dev:arm64,
# pkgconf:arm64; tests run
# through qemu-user when qemu-user-static is installed).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)
if(EXISTS /usr/bin/qemu-aarch64-static)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64-static)
endif()
