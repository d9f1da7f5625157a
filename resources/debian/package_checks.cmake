# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack. A .deb that does not name the libraries it needs installs without them and
# cannot start; one built without the distribution's hardening is weaker than its neighbours.
# Better no package than either.
if(CPACK_GENERATOR STREQUAL "DEB")
    find_program(METRONOME_SHLIBDEPS dpkg-shlibdeps)
    if(NOT METRONOME_SHLIBDEPS)
        message(FATAL_ERROR "dpkg-shlibdeps is missing, and without it the package's Depends "
            "would lack the libraries: run scripts/install-deps --package")
    endif()
    if(NOT CPACK_METRONOME_HARDENED)
        message(FATAL_ERROR "this build lacks the hardening flags of dpkg-buildflags: run "
            "scripts/install-deps --package, then configure with -DCMAKE_BUILD_TYPE=Release")
    endif()
endif()
