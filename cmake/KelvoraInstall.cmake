# Installing KelvoraDX as a desktop application, and packing that install as a .deb.
#
#   cmake --install <build>                   (DESTDIR=... honoured)
#   cd <build> && cpack -G DEB                (configure with -DCMAKE_INSTALL_PREFIX=/usr)
#
# Everything goes under relative destinations, so both the prefix and DESTDIR move the whole
# tree. Choose the prefix when configuring, not with --install --prefix: the desktop entry's
# Exec= and Path= and the manual page's folders are written at configure time.

include(${CMAKE_CURRENT_LIST_DIR}/KelvoraHardening.cmake)
kelvora_harden(kelvora_lang kelvora_pictures kelvora_program kelvora_forms kelvora_game kelvoradx)

set(kelvora_app_id "io.github.kelvoradx.KelvoraDX")
set(kelvora_demo_dir "${CMAKE_INSTALL_DATADIR}/kelvoradx/demo")
# Debian keeps games apart from other programs: /usr/games, /usr/local/games.
set(kelvora_games_dir "games")
set(kelvora_full_games_dir "${CMAKE_INSTALL_PREFIX}/${kelvora_games_dir}")

find_program(KELVORA_GZIP gzip REQUIRED)
# Compresses SOURCE into OUTPUT as Debian wants it: best compression, and neither name nor
# time stamp in the header, so that the same source always gives the same bytes.
function(kelvora_gzip source output)
  add_custom_command(OUTPUT "${output}"
    COMMAND "${KELVORA_GZIP}" -9n -c "${source}" > "${output}"
    DEPENDS "${source}"
    COMMENT "Compressing ${output}")
endfunction()

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

# Exec= and Path= are absolute, so they are written now with the full prefix: Exec= does not
# depend on the games folder being on the session's PATH. Under DESTDIR the entry still names
# the final locations, not the staging tree: DESTDIR only stages files for a package, whose
# contents land at the prefix once installed.
configure_file(resources/${kelvora_app_id}.desktop.in ${kelvora_app_id}.desktop @ONLY)

# It links only system libraries: no run path, not even the $ORIGIN one of Qt's project set-up.
set_target_properties(kelvoradx PROPERTIES INSTALL_RPATH "")
install(TARGETS kelvoradx RUNTIME DESTINATION "${kelvora_games_dir}")
# A stripped install (cpack, or cmake --install --strip) also drops the compiler's
# identification, as Debian's own packaging does; plain strip leaves it.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${kelvora_games_dir}/kelvoradx\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${kelvora_app_id}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES resources/${kelvora_app_id}.metainfo.xml
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES demo/qorfile.txt demo/set1.jpg demo/set2.png demo/set3.bmp
        DESTINATION "${kelvora_demo_dir}")

# The manual page, kelvoradx(6), names the installed folders.
set(kelvora_man_demo_dir "${CMAKE_INSTALL_PREFIX}/${kelvora_demo_dir}")
set(kelvora_man_desktop_entry
    "${CMAKE_INSTALL_FULL_DATADIR}/applications/${kelvora_app_id}.desktop")
configure_file(resources/kelvoradx.6.in kelvoradx.6 @ONLY)
kelvora_gzip("${CMAKE_CURRENT_BINARY_DIR}/kelvoradx.6" "${CMAKE_CURRENT_BINARY_DIR}/kelvoradx.6.gz")
add_custom_target(kelvora_manpage ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kelvoradx.6.gz")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kelvoradx.6.gz"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man6")

# The package. Debian's triggers refresh the icon cache, the menu and the manual page index,
# so it needs no maintainer scripts. lintian wants a contact address for the maintainer; the
# project has no mail domain of its own, so the default is in the one reserved for examples
# (RFC 2606), where no stranger's mailbox can be hit. A release sets its real address here.
set(KELVORA_PACKAGE_MAINTAINER "The KelvoraDX developers <kelvoradx@example.org>"
    CACHE STRING "Maintainer field of the .deb: a name and an address in angle brackets")
if(NOT KELVORA_PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "KELVORA_PACKAGE_MAINTAINER must read \"Name <address>\", "
                      "not \"${KELVORA_PACKAGE_MAINTAINER}\"")
endif()

# Files only the package carries, in the places Debian gives them: the copyright notice in
# its machine-readable form, the package's changelog, and lintian's overrides. They stay out
# of a plain cmake --install (component "debian", installed by cpack alone, below).
set(kelvora_debian_source "${PROJECT_SOURCE_DIR}/resources/debian")
set(kelvora_debian_doc_dir "${CMAKE_INSTALL_DATADIR}/doc/kelvoradx")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${kelvora_debian_source}/changelog" "${PROJECT_SOURCE_DIR}/LICENSE")

# The changelog's latest entry gives the package's version: the project's version and a
# Debian revision, 1.0.0-1, so that a new revision of the package needs no edit here.
file(STRINGS "${kelvora_debian_source}/changelog" kelvora_changelog_top LIMIT_COUNT 1)
if(NOT kelvora_changelog_top MATCHES "^kelvoradx \\(([^-)]+)-([^-)]+)\\) ")
  message(FATAL_ERROR "resources/debian/changelog must start with "
                      "\"kelvoradx (VERSION-REVISION) \", not \"${kelvora_changelog_top}\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "resources/debian/changelog's latest entry is for ${CMAKE_MATCH_1}, "
                      "the project is ${PROJECT_VERSION}: add an entry for it")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE "${CMAKE_MATCH_2}")
kelvora_gzip("${kelvora_debian_source}/changelog"
             "${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz")

# The copyright file takes its notice and licence text from LICENSE, as Debian's format
# wants them: the text indented by one blank, an empty line written " .".
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" kelvora_license)
if(NOT kelvora_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n+(Permission .*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE no longer reads \"Copyright (c) ...\" then \"Permission ...\"")
endif()
set(kelvora_copyright "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" kelvora_license_text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " kelvora_license_text " ${kelvora_license_text}")
configure_file("${kelvora_debian_source}/copyright.in" debian/copyright @ONLY)

add_custom_target(kelvora_debian_docs ALL
                  DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/debian/copyright"
              "${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz"
        DESTINATION "${kelvora_debian_doc_dir}" COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${kelvora_debian_source}/lintian-overrides"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides" RENAME kelvoradx
        COMPONENT debian EXCLUDE_FROM_ALL)
# cpack installs everything cmake --install does, then the package's own files.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")

set(CPACK_PACKAGE_NAME kelvoradx)
set(CPACK_PACKAGE_VENDOR "The KelvoraDX developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bomb search on a 5 x 5 board with a reward picture")
# No semicolons: CMake would take them for list separators.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Five bombs hide among the 25 squares of a small board. Open the safe ones\n"
  "and flag the bombs. Each safe square lifts one of 20 covers off a reward\n"
  "picture in a second window. The messages are in Japanese. Plays with three\n"
  "bundled picture sets, or with your own.")
set(CPACK_PACKAGE_CONTACT "${KELVORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELVORA_PACKAGE_MAINTAINER}")
# What no linker sees: the squares and messages need a font with Japanese glyphs. The X11
# platform plugin is a plugin too, but Debian 12 ships it in libqt6gui6, which the program links
# anyway; pictures are decoded by our own library over libpng, libjpeg-turbo, libxxhash and
# zlib, and the newer formats' libraries are opened by their sonames when a picture first needs
# one (so that they cost no start): libwebp for WebP, libjxl for JPEG XL, libde265 for HEIC,
# dav1d for AVIF, librsvg for SVG, libtiff for TIFF.
set(kelvora_font_depends "fonts-ipafont-gothic | fonts-noto-cjk")
set(kelvora_codec_depends
    "libwebp7 (>= 1.2.4), libjxl0.7 (>= 0.7.0), libde265-0 (>= 1.0.11), libdav1d6 (>= 1.0.0), \
librsvg2-2 (>= 2.52), libtiff6 (>= 4.5)")
find_program(KELVORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KELVORA_DPKG_SHLIBDEPS)
  # Adds the linked libraries (Qt Widgets, Gui, Core, libpng, libjpeg, libxxhash, zlib, libc,
  # libstdc++) with their versions; those opened at run time are named above.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${kelvora_codec_depends}, ${kelvora_font_depends}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libpng16-16, libjpeg62-turbo, libxxhash0, zlib1g, ${kelvora_codec_depends}, ${kelvora_font_depends}")
endif()
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/KelvoraCPackOptions.cmake")
include(CPack)
