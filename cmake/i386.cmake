# The target's build, 32-bit x86, on an x86-64 Debian machine: the multilib
# compilers (g++-multilib) with -m32, linked against the libraries of the
# i386 packages (libx11-dev:i386 and so on).  Used by the i386 preset and by
# the i386 Debian package built on such a machine (debian/rules).
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
