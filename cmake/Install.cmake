# `cmake --install <build> [--prefix DIR]` lays Mundoscope out as a Linux desktop finds it:
#   lib/mundoscope/Mundoscope.app/Contents/Linux/mundoscope   the viewer in its bundle
#   lib/mundoscope/Mundoscope.app/Contents/Resources/         its maps (those prepared in
#                                                             the build's bundle, if any)
#   bin/mundoscope -> ../lib/mundoscope/.../mundoscope        a link; the viewer resolves
#                                                             its real path to find the bundle
#   bin/mundoscope-prepare
#   share/applications/mundoscope.desktop
#   share/icons/hicolor/scalable/apps/mundoscope.svg (and a 128 x 128 PNG of it)
set(MUNDOSCOPE_INSTALL_BUNDLE lib/mundoscope/Mundoscope.app)

install(TARGETS mundoscope RUNTIME DESTINATION ${MUNDOSCOPE_INSTALL_BUNDLE}/Contents/Linux)
install(TARGETS mundoscope-prepare RUNTIME DESTINATION bin)
install(DIRECTORY DESTINATION ${MUNDOSCOPE_INSTALL_BUNDLE}/Contents/Resources)
install(FILES ${MUNDOSCOPE_BUNDLE_DIR}/Contents/Resources/VisibleEarth.dat
              ${MUNDOSCOPE_BUNDLE_DIR}/Contents/Resources/VisibleEarth_25.dat
        DESTINATION ${MUNDOSCOPE_INSTALL_BUNDLE}/Contents/Resources OPTIONAL)
install(CODE "
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${bin}\")
  file(REMOVE \"\${bin}/mundoscope\")
  file(CREATE_LINK ../${MUNDOSCOPE_INSTALL_BUNDLE}/Contents/Linux/mundoscope \"\${bin}/mundoscope\" SYMBOLIC)
  message(STATUS \"Installing: \${bin}/mundoscope -> ../${MUNDOSCOPE_INSTALL_BUNDLE}/Contents/Linux/mundoscope\")
")
install(FILES ${PROJECT_SOURCE_DIR}/data/mundoscope.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/mundoscope.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/mundoscope-128.png DESTINATION share/icons/hicolor/128x128/apps
        RENAME mundoscope.png)
