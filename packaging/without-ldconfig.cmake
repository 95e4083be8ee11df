# SPDX-License-Identifier: Apache-2.0
# Run by CPack after it made the .deb: CPack gives any package with a library under /usr/lib
# maintainer scripts that run ldconfig, but this package's libraries are private (found through
# RUNPATH, not through the linker cache), so those scripts only cost time and warnings. The
# package is unpacked, the two scripts dropped and the package built again with dpkg-deb,
# which stamps every file with SOURCE_DATE_EPOCH when it is set.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    set(tree "${deb}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${tree}" "${deb}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
