# Installing KelvoraDX as a desktop application, and packing that install as a .deb.
#
#   cmake --install <build>                   (DESTDIR=... honoured)
#   cd <build> && cpack -G DEB                (configure with -DCMAKE_INSTALL_PREFIX=/usr)
#
# Everything goes under relative GNUInstallDirs destinations, so both the prefix and DESTDIR
# move the whole tree. Choose the prefix when configuring, not with --install --prefix: the
# desktop entry's Path= is written at configure time.

set(kelvora_app_id "io.github.kelvoradx.KelvoraDX")
set(kelvora_demo_dir "${CMAKE_INSTALL_DATADIR}/kelvoradx/demo")

# Icons: the 32 x 32 drawing as it is, and whole-number enlargements of it for the larger
# sizes that launchers and software centres ask the hicolor theme for.
add_executable(kelvora_scale_icon tools/scale_icon.cpp)
target_link_libraries(kelvora_scale_icon PRIVATE Qt6::Gui)
kelvora_warnings(kelvora_scale_icon)

set(kelvora_icon_source "${PROJECT_SOURCE_DIR}/resources/kelvoradx.xpm")
set(kelvora_icon_pngs "")
foreach(factor 1 2 4 8)
  math(EXPR size "32 * ${factor}")
  set(png "${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/${kelvora_app_id}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}"
    COMMAND kelvora_scale_icon "${kelvora_icon_source}" ${factor} "${png}"
    DEPENDS kelvora_scale_icon "${kelvora_icon_source}"
    COMMENT "Drawing the ${size}x${size} icon"
    VERBATIM)
  list(APPEND kelvora_icon_pngs "${png}")
  install(FILES "${png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
add_custom_target(kelvora_icons_png ALL DEPENDS ${kelvora_icon_pngs})

# Path= must be absolute, so it is written now with the full prefix. Under DESTDIR the entry
# still names the final location, not the staging tree: DESTDIR only stages files for a
# package, whose contents land at the prefix once installed, where Path= then points.
configure_file(resources/${kelvora_app_id}.desktop.in ${kelvora_app_id}.desktop @ONLY)

# It links only system libraries: no run path, not even the $ORIGIN one of Qt's project set-up.
set_target_properties(kelvoradx PROPERTIES INSTALL_RPATH "")
install(TARGETS kelvoradx RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${kelvora_app_id}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES resources/${kelvora_app_id}.metainfo.xml
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES demo/qorfile.txt demo/set1.jpg demo/set2.png demo/set3.bmp
        DESTINATION "${kelvora_demo_dir}")

# The package. Debian's triggers refresh the icon cache and the menu, so it needs no
# maintainer scripts.
set(KELVORA_MAINTAINER "The KelvoraDX developers" CACHE STRING "Maintainer field of the .deb")
set(CPACK_PACKAGE_NAME kelvoradx)
set(CPACK_PACKAGE_VENDOR "The KelvoraDX developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bomb search on a 5 x 5 board with a reward picture")
# No semicolons: CMake would take them for list separators.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Five bombs hide among the 25 squares of a small board. Open the safe ones\n"
  "and flag the bombs. Each safe square lifts one of 20 covers off a reward\n"
  "picture in a second window. The messages are in Japanese. Plays with three\n"
  "bundled picture sets, or with your own.")
set(CPACK_PACKAGE_CONTACT "${KELVORA_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELVORA_MAINTAINER}")
# What no linker sees: the squares and messages need a font with Japanese glyphs. The X11
# platform plugin and the JPEG and GIF readers are plugins too, but Debian 12 ships them all
# in libqt6gui6 (PNG, BMP and XPM are built into Qt Gui), which the program links anyway.
set(kelvora_font_depends "fonts-ipafont-gothic | fonts-noto-cjk")
find_program(KELVORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KELVORA_DPKG_SHLIBDEPS)
  # Adds the linked libraries (Qt Widgets, Gui, Core, libc, libstdc++) with their versions.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${kelvora_font_depends}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), ${kelvora_font_depends}")
endif()
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/KelvoraCPackOptions.cmake")
include(CPack)
