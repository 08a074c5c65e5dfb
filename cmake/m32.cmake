# Whether this machine can build and link 32-bit x86 C++ programs (-m32,
# the multilib compilers): sets VT_CXX_M32_LINKS.  The check carries none
# of the build's own flags (the sanitizers).
function(vt_check_m32)
  set(CMAKE_CXX_FLAGS "")
  set(CMAKE_EXE_LINKER_FLAGS "")
  set(CMAKE_REQUIRED_FLAGS -m32)
  set(CMAKE_REQUIRED_LINK_OPTIONS -m32)
  include(CheckCXXSourceCompiles)
  check_cxx_source_compiles("#include <cstdio>\nint main() { return std::puts(\"\"); }"
                            VT_CXX_M32_LINKS)
endfunction()
