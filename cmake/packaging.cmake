# Installation and the Debian package.
#
#   cmake --build build/default && (cd build/default && cpack -G DEB)
#
# builds halvyn_<version>_<arch>.deb with the executables, the systemd unit,
# the sysusers entry for the service's user, the manual page, the README and
# the Debian documents. The package's dependencies are computed from the
# binaries by dpkg-shlibdeps, never listed by hand.

set(halvyn_docdir share/doc/halvyn)
set(halvyn_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(halvyn_generated ${PROJECT_BINARY_DIR}/packaging)

# The hardening Debian builds its own packages with (dpkg-buildflags): checked
# string and memory functions in optimised builds, stack protector, read-only
# relocations bound at start.
target_compile_options(halvyn_options INTERFACE
                       $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>
                       -fstack-protector-strong)
target_link_options(halvyn_options INTERFACE LINKER:-z,relro LINKER:-z,now)

set(CPACK_PACKAGE_CONTACT "Halvyn developers <maintainers@halvyn.example>")

# The manual page and the changelog with the version filled in, compressed as
# Debian keeps them (gzip -n: no name or time stamp inside, so the same source
# gives the same bytes).
configure_file(${halvyn_packaging}/changelog.in ${halvyn_generated}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/halvyn.8 ${halvyn_generated}/halvyn.8 @ONLY)
set(halvyn_compressed)
foreach(source ${halvyn_generated}/halvyn.8 ${halvyn_generated}/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${halvyn_generated}/${name}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" gzip ${source} ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  list(APPEND halvyn_compressed ${output})
endforeach()
add_custom_target(halvyn_documents ALL DEPENDS ${halvyn_compressed})

install(FILES ${halvyn_generated}/halvyn.8.gz DESTINATION share/man/man8)
install(FILES ${halvyn_packaging}/halvyn.service DESTINATION lib/systemd/system)
install(FILES ${halvyn_packaging}/halvyn.sysusers DESTINATION lib/sysusers.d RENAME halvyn.conf)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${halvyn_packaging}/copyright
        DESTINATION ${halvyn_docdir})
install(FILES ${halvyn_generated}/changelog.gz DESTINATION ${halvyn_docdir})
install(FILES ${halvyn_packaging}/lintian-overrides DESTINATION share/lintian/overrides
        RENAME halvyn)
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/halvyn.lua DESTINATION share/halvyn/wireshark)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvyn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rendezvous and forwarding server for networked audio devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Remote audio devices log in to Halvyn over a small UDP protocol; it keeps the
table of who is online, passes on peer-to-peer addresses and connect requests,
programs forward routes into an FPGA audio device on its LAN and learns its own
public address with STUN. An operator runs it from a web console that the
process serves itself.

The package holds halvyn with its systemd service, halvyn-devsim (a simulated
LAN audio device) and halvyn-client (a simulated remote device).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${halvyn_packaging}/postinst ${halvyn_packaging}/prerm ${halvyn_packaging}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
