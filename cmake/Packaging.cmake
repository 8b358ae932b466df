# Release packages, as a user downloads them: on Windows a zip with the driver, the reference
# host, an example configuration written for Windows and a quick start; on Linux a Debian
# package with the demo line's example that also installs the host as a service (disabled
# until the operator enables it). The version
# is the project's own (project(... VERSION ...)), and nothing else.
#   cmake --build --preset win32 --target package   ->  vemox-<version>-win32.zip
#   cmake --build --preset linux --target package   ->  vemox_<version>_amd64.deb
set(CPACK_PACKAGE_NAME vemox)
set(CPACK_PACKAGE_VENDOR "Vemox")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Driver for strain-gauge weighing controllers on serial lines, with its reference host")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    # Everything in one folder: vemox-host.exe loads the Vemox.dll beside it.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(vemox_package_system win32)
    else()
        set(vemox_package_system win64)
    endif()
    install(TARGETS vemox_plugin RUNTIME DESTINATION .)
    install(TARGETS vemox-host RUNTIME DESTINATION .)
    # The example names Windows ports and no devices, so it is edited, not rewritten.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/QUICKSTART.txt
        ${PROJECT_SOURCE_DIR}/packaging/line.toml DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "vemox-${PROJECT_VERSION}-${vemox_package_system}")
else()
    # The driver is a plug-in, not a shared library for others: it lives in a folder of its
    # own beside the real vemox-host, which finds it there through /proc/self/exe.
    install(TARGETS vemox-host vemox_plugin
        RUNTIME DESTINATION lib/vemox LIBRARY DESTINATION lib/vemox)
    install(TARGETS vemox-sim RUNTIME DESTINATION bin)
    file(CREATE_LINK ../lib/vemox/vemox-host ${CMAKE_BINARY_DIR}/vemox-host-link SYMBOLIC)
    install(FILES ${CMAKE_BINARY_DIR}/vemox-host-link DESTINATION bin RENAME vemox-host)
    install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.toml DESTINATION share/doc/vemox/examples)
    # The host as a service: its unit, and its configuration as a file the operator owns.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/vemox-host.service
        DESTINATION /lib/systemd/system)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/vemox.toml DESTINATION /etc/vemox)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
        ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
        ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
        ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vemox maintainers")
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    # The C and C++ runtimes and the MQTT client library, as dpkg-shlibdeps finds them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The maintainer scripts create the service's user with useradd.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
    # `vemox-host run` publishes to a broker that may be on this machine or any other.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto, mosquitto-clients")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

include(CPack)
