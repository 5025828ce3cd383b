# What `cmake --install` puts on the machine, and the Debian package made of it.

include(GNUInstallDirs)
install(TARGETS varnek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(EXISTS ${CMAKE_SOURCE_DIR}/res/varnek.desktop)
  install(FILES res/varnek.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    if(EXISTS ${CMAKE_SOURCE_DIR}/res/hicolor/${size}x${size}/varnek.png)
      install(FILES res/hicolor/${size}x${size}/varnek.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endif()
  endforeach()
endif()
# What software centres show of the program: AppStream metadata beside the .desktop file.
install(FILES res/io.github.varnek.Varnek.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page, and the licence and history in the form Debian's packages give them. Debian
# wants the page and the changelog compressed as much as gzip can, with no name or time in the
# header, so that a package made twice is the same; they are made as the build is configured,
# so an install after building the program alone finds them.
set(VARNEK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/varnek)
foreach(document docs/varnek.1 cmake/debian/changelog)
  get_filename_component(name ${document} NAME)
  execute_process(COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${document}
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${document})
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/varnek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz cmake/debian/copyright DESTINATION ${VARNEK_DOC_DIR})

# A Debian package of what is installed: `cpack -G DEB` in the build folder. The libraries it
# needs come from dpkg-shlibdeps; the soundfont that the built-in synth plays and the dialog
# font are named here.
set(CPACK_PACKAGE_NAME varnek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Varnek developers")
set(CPACK_PACKAGE_CONTACT "Varnek developers <varnek@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI keyboard with General MIDI instruments and automatic backings")
set(CPACK_PACKAGE_DESCRIPTION "A MIDI keyboard drawn as a piece of rack equipment: 48 piano keys
played with the mouse or the computer keyboard, the 128 General MIDI
instruments and a percussion map, seven automatic backings in twelve chord
keys, and a built-in General MIDI synthesizer or any MIDI output port of the
machine.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/varnek/varnek")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fluid-soundfont-gm | timgm6mb-soundfont, fonts-dejavu-core")
include(CPack)
