# SPDX-License-Identifier: Apache-2.0
# The hardening Debian builds with (what `dpkg-buildflags` gives with hardening=+all on Debian
# 12), for every program and library of the normal build and of the package: stack protector,
# format-string checks, fortified libc calls, read-only relocations bound at start-up, and
# position-independent executables. hardening-check (devscripts) verifies the installed files.
#
# Fortify needs optimisation and gets in the way of the sanitizers' own checks, so Debug and
# sanitizer builds go without it.
#
# The source and build directories are mapped to fixed names in debug information and
# __FILE__, so that where the tree was built leaves no trace in what is shipped.
option(KYSNAP_HARDENING "Build with the Debian hardening flags" ON)

if(KYSNAP_HARDENING)
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES CXX)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security -Wdate-time)
    # Newer Debian defaults, and what hardening-check asks for: stack clash protection and
    # control-flow protection (x86 CET), where the compiler knows them.
    include(CheckCXXCompilerFlag)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "KYSNAP_HAS${flag}" known)
        check_cxx_compiler_flag(${flag} ${known})
        if(${known})
            add_compile_options(${flag})
        endif()
    endforeach()
    if(NOT KYSNAP_SANITIZE AND NOT KYSNAP_SANITIZE_THREAD)
        add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    endif()
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# The build tree's run path relative to each binary ($ORIGIN/...): installing rewrites it in
# place, and an absolute one would leave its length, and so the layout of what is shipped,
# depending on where the tree was built.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
