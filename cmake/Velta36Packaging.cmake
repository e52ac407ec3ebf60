# Install rules and Debian packages (CPack, DEB generator).
#
#   cmake --build <build> && (cd <build> && cpack -G DEB)
#
# Packages (file names <name>_<version>_<arch>.deb):
#   velta36-plugin  the plug-in a real host loads, built against the installed
#                   ODB 2.4 runtime (the target flavour, VELTA36_USE_SYSTEM_ODB),
#                   /usr/lib/<multiarch>/velta36/plugins/velta36.so; amd64 and
#                   mipsel, each from its own target-flavour build
#   velta36-host    reference host runtime and the ODB-compatible runtime,
#                   libvelta36-host.so and libvelta36-odb.so in /usr/lib/<multiarch>
#   velta36-tools   the velta36 tool and velta36-simulator in /usr/bin, the
#                   tool's own velta36.so in /usr/lib/velta36, the unit
#                   velta36@.service with its user, the Wireshark dissector
#   velta36-dev     headers to build a plug-in or a host against, /usr/include/velta36
# A target-flavour build packages the plug-in only: that is what goes on a
# host. A native build against our runtime packages the rest.
#
# The two velta36.so cannot stand in for each other: the target flavour
# resolves the real ODB runtime's symbols, which our runtime does not define,
# and the other way round. The plug-in lives in a directory of its own below
# the multiarch library directory, where a host looks for plug-ins; it is not
# a library to link. The tool's copy, built against our runtime, lives in
# /usr/lib/velta36, where only the tool looks (next to its own ../lib).
include_guard(GLOBAL)

if(CMAKE_LIBRARY_ARCHITECTURE)
  set(VELTA36_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
else()
  set(VELTA36_INSTALL_LIBDIR "lib")
endif()
set(VELTA36_PLUGIN_INSTALL_DIR "${VELTA36_INSTALL_LIBDIR}/velta36/plugins"
    CACHE STRING "Where velta36.so is installed, relative to the prefix")

set(_velta36_components "")
if(VELTA36_USE_SYSTEM_ODB)
  if(TARGET velta36)
    install(TARGETS velta36 LIBRARY DESTINATION "${VELTA36_PLUGIN_INSTALL_DIR}" COMPONENT plugin)
    list(APPEND _velta36_components plugin)
  endif()
elseif(NOT CMAKE_CROSSCOMPILING)
  foreach(_lib velta36_host odb_runtime)
    if(TARGET ${_lib})
      get_target_property(_type ${_lib} TYPE)
      if(_type STREQUAL "SHARED_LIBRARY")
        install(TARGETS ${_lib} LIBRARY DESTINATION "${VELTA36_INSTALL_LIBDIR}" COMPONENT host)
      endif()
    endif()
  endforeach()
  list(APPEND _velta36_components host)

  # The tool's own rule (cli/) installs it to bin without a component, that
  # is into "Unspecified", which is packaged as velta36-tools.
  set(_velta36_tools Unspecified)
  if(TARGET velta36-simulator)
    install(TARGETS velta36-simulator RUNTIME DESTINATION bin COMPONENT Unspecified)
  endif()
  if(TARGET velta36_cli AND TARGET velta36)
    install(TARGETS velta36 LIBRARY DESTINATION lib/velta36 COMPONENT Unspecified)
  endif()
  list(APPEND _velta36_components Unspecified)

  # In the field with velta36-tools: the service unit per site and its user,
  # the Wireshark dissector for the tool's captures (also where Wireshark
  # loads Lua plug-ins by itself) and the page that explains them.
  if(TARGET velta36_cli)
    install(FILES "${PROJECT_SOURCE_DIR}/tools/systemd/velta36@.service"
            DESTINATION lib/systemd/system COMPONENT Unspecified)
    install(FILES "${PROJECT_SOURCE_DIR}/tools/systemd/velta36.sysusers"
            DESTINATION lib/sysusers.d RENAME velta36.conf COMPONENT Unspecified)
    install(FILES "${PROJECT_SOURCE_DIR}/tools/wireshark/velta36.lua"
            DESTINATION share/velta36/wireshark COMPONENT Unspecified)
    set(_lua_link "${CMAKE_BINARY_DIR}/velta36-package/wireshark/velta36.lua")
    file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/velta36-package/wireshark")
    file(RELATIVE_PATH _lua_target "/usr/${VELTA36_INSTALL_LIBDIR}/wireshark/plugins"
         "/usr/share/velta36/wireshark/velta36.lua")
    file(CREATE_LINK "${_lua_target}" "${_lua_link}" SYMBOLIC)
    install(FILES "${_lua_link}" DESTINATION "${VELTA36_INSTALL_LIBDIR}/wireshark/plugins"
            COMPONENT Unspecified)
    install(FILES "${PROJECT_SOURCE_DIR}/docs/field-use.md"
            DESTINATION share/doc/velta36-tools COMPONENT Unspecified)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_CONTROL_EXTRA
        "${PROJECT_SOURCE_DIR}/tools/debian/tools/postinst;${PROJECT_SOURCE_DIR}/tools/debian/tools/postrm")
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  endif()

  install(DIRECTORY "${PROJECT_SOURCE_DIR}/host/" DESTINATION include/velta36/host
          COMPONENT dev FILES_MATCHING PATTERN "*.h")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/device/" DESTINATION include/velta36/device
          COMPONENT dev FILES_MATCHING PATTERN "*.h")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/plugin/" DESTINATION include/velta36/plugin
          COMPONENT dev FILES_MATCHING PATTERN "*.h")
  if(EXISTS "${PROJECT_SOURCE_DIR}/reference-host/include/refhost")
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/reference-host/include/refhost/"
            DESTINATION include/velta36/refhost COMPONENT dev FILES_MATCHING PATTERN "*.h")
  endif()
  list(APPEND _velta36_components dev)
endif()

set(CPACK_PACKAGE_NAME velta36)
set(CPACK_PACKAGE_VENDOR "velta36 team")
set(CPACK_PACKAGE_CONTACT "velta36 team <dev@velta36.invalid>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Door access controller plug-in for the monitoring host")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_velta36_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")

if(CMAKE_CROSSCOMPILING)
  # dpkg would name the build machine's architecture.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips.*el$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE mipsel)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()

# Dependencies are stated, not computed: dpkg-shlibdeps does not see the
# cross libraries, and the plug-in's other symbols come from the host process.
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME velta36-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION
  "velta36 device-driver plug-in\n The plug-in a monitoring host loads to drive velta36 door controllers\n on a serial line. It resolves the host framework, the ODB 2.4 runtime\n (libodb, libodb-sqlite, libodb-boost) and JsonCpp against the host\n process that loads it.")
set(CPACK_DEBIAN_HOST_PACKAGE_NAME velta36-host)
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libjsoncpp25, libsqlite3-0")
set(CPACK_COMPONENT_HOST_DESCRIPTION
  "velta36 reference host runtime\n The host framework runtime and the ODB-compatible runtime over SQLite\n that the velta36 tool and simulator run the plug-in with.")
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME velta36-tools)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS
  "velta36-host (= ${PROJECT_VERSION}), libc6, libstdc++6, libjsoncpp25, libsqlite3-0, libmosquitto1")
set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION
  "velta36 command-line tool and controller simulator\n Runs the plug-in against controllers on serial lines or against the\n simulated controller, sends control commands and lists stored events.\n Carries its own copy of the plug-in, built against the ODB-compatible\n runtime of velta36-host.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME velta36-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "velta36-host (= ${PROJECT_VERSION}), libjsoncpp-dev, libboost-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE all)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "velta36 development headers\n The host framework declarations, the data-publishing device layer, the\n plug-in's device class and the reference host interfaces.")

include(CPack)
