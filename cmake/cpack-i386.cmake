# Read by cpack for the i386 package (see install.cmake): dpkg-shlibdeps
# searches LD_LIBRARY_PATH before the system's folders, so the libraries the
# programs need are found among the i386 packages (libc6, libstdc++6,
# libgcc-s1, libx11-6 of architecture i386) rather than among the amd64
# multilib copies.
set(ENV{LD_LIBRARY_PATH} "/lib/i386-linux-gnu:/usr/lib/i386-linux-gnu")
