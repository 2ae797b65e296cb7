# Installing to any prefix, and the Debian package built from the same rules.
#
#   <prefix>/lib/parlenmaker/parlenmaker   the program, with readme.txt beside it (the Help
#                                          page reads it from the executable's real folder)
#   <prefix>/bin/parlenmaker               symbolic link to it
#   <prefix>/bin/parlen-say                the command-line driver
#   <prefix>/share/...                     desktop entry, metainfo, icons

set(PARLEN_APP_ID "org.parlenmaker.ParlenMaker")
set(PARLEN_WM_CLASS "parlenmaker")  # the application name; X11 sees it as the window class
set(PARLEN_RELEASE_DATE "2026-12-09")
set(PARLEN_ICON_SIZES 16 22 24 32 48 64 128 256)
set(PARLEN_DESKTOP_FILE ${CMAKE_BINARY_DIR}/share/${PARLEN_APP_ID}.desktop)
set(PARLEN_METAINFO_FILE ${CMAKE_BINARY_DIR}/share/${PARLEN_APP_ID}.metainfo.xml)

add_subdirectory(${CMAKE_SOURCE_DIR}/desktop ${CMAKE_BINARY_DIR}/desktop)

if(TARGET parlenmaker)
  target_link_libraries(parlenmaker PRIVATE parlen_identity)
  install(TARGETS parlenmaker RUNTIME DESTINATION ${PARLEN_PROGRAM_DIR})
  install(FILES ${CMAKE_SOURCE_DIR}/app/readme.txt DESTINATION ${PARLEN_PROGRAM_DIR})
  # A relative link, so that the tree works wherever it is unpacked.
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/parlenmaker\")
    message(STATUS \"Installing: \${link}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK ../${PARLEN_PROGRAM_DIR}/parlenmaker \"\${link}\" SYMBOLIC)
  ")
endif()
if(TARGET parlen-say)
  install(TARGETS parlen-say RUNTIME DESTINATION bin)
endif()
# Festival's library, the PDF reader's and the M4B writer's are the programs' own: beside
# the program, found through their run paths wherever the tree is unpacked.
install(TARGETS parlen_festival parlen_pdf parlen_m4b LIBRARY DESTINATION ${PARLEN_PROGRAM_DIR})
# The built programs carry these run paths already: CMake would otherwise pad theirs with
# empty entries to be rewritten at install, and an empty entry is the current folder, where
# the loader would look for every library first (anyone's library, and a slower start).
if(TARGET parlenmaker)
  set_target_properties(parlenmaker PROPERTIES INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
endif()
if(TARGET parlen-say)
  set_target_properties(parlen-say PROPERTIES INSTALL_RPATH "$ORIGIN/../${PARLEN_PROGRAM_DIR}"
                        BUILD_WITH_INSTALL_RPATH ON)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/parlenmaker)

# cpack -G DEB: the dependencies are worked out by dpkg-shlibdeps from the libraries the
# executables link. Recommended: Qt's input-method plugins, the window font, a sound server.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlenmaker)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${PARLEN_MAKER_SITE})
set(CPACK_PACKAGE_CONTACT "Parlen Maker maintainers <maintainers@${PARLEN_MAKER_SITE}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "text-to-speech converter with one window")
set(CPACK_PACKAGE_DESCRIPTION
    "Parlen Maker reads a typed or loaded plain text aloud with the espeak-ng, flite and\n"
    "Festival voices installed on the system, highlighting the word being spoken, or renders it\n"
    "into an audio file: WAV, MP3, Ogg Vorbis, Opus or FLAC. Pitch, speed and volume\n"
    "are set with three sliders and can be saved in small settings files. The package\n"
    "also holds parlen-say, which speaks text from the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # the version block lives in an allocated section and stays
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${PARLEN_MAKER_SITE}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-qpa-plugins, fonts-liberation2, pulseaudio | pipewire-pulse, festival, festvox-us-slt-hts, festvox-kallpc16k")
# RHVoice's voices are in Debian's non-free section: suggested, never depended on (the
# programs map its library when present and do without it).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "rhvoice-english")
include(CPack)
