# What `cmake --install` puts on the machine; debian/ makes the Debian package of it.

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

# The manual page. Debian wants it compressed as much as gzip can, with no name or time in the
# header, so that a package made twice is the same; it is made as the build is configured, so
# an install after building the program alone finds it.
execute_process(COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/varnek.1 OUTPUT_FILE ${CMAKE_BINARY_DIR}/varnek.1.gz
                COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/varnek.1)
install(FILES ${CMAKE_BINARY_DIR}/varnek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
