#!/usr/bin/env bash
# Installs what building, running, testing and packaging need, only when something is missing.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
wendle_install_packages \
    cmake make python3 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    wine wine64 xvfb xauth fonts-wqy-microhei googletest \
    clang libclang-rt-14-dev zip wixl msitools icoutils osslsigncode openssl
