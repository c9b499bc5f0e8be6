# What `cmake --install` puts under the prefix: the executable, its desktop entry, its icon (the
# SVG and PNGs rendered from it at build time) and its AppStream metadata.

set(VANTREL_ICON_SIZES 16 22 24 32 48 64 128 256 512)

# The renderer runs at build time only; never sanitized (it would report Qt's own leaks).
add_executable(vantrel_render_icon tools/render-icon.cpp)
target_link_libraries(vantrel_render_icon PRIVATE Qt6::Gui Qt6::Svg)
vantrel_apply_warnings(vantrel_render_icon NO_SANITIZE)

set(icon_theme "${PROJECT_BINARY_DIR}/icons/hicolor")
set(icon_pngs)
foreach(size IN LISTS VANTREL_ICON_SIZES)
  list(APPEND icon_pngs "${icon_theme}/${size}x${size}/apps/${VANTREL_BUNDLE_IDENTIFIER}.png")
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
    $<TARGET_FILE:vantrel_render_icon> ${VANTREL_ICON_SVG} ${icon_theme} ${VANTREL_ICON_SIZES}
  DEPENDS vantrel_render_icon ${VANTREL_ICON_SVG}
  COMMENT "Rendering the application icon"
  VERBATIM)
add_custom_target(vantrel_icons ALL DEPENDS ${icon_pngs})

set(desktop_dir "${PROJECT_BINARY_DIR}/desktop")
configure_file(resources/desktop/${VANTREL_BUNDLE_IDENTIFIER}.desktop.in
  ${desktop_dir}/${VANTREL_BUNDLE_IDENTIFIER}.desktop @ONLY)
configure_file(resources/desktop/${VANTREL_BUNDLE_IDENTIFIER}.metainfo.xml.in
  ${desktop_dir}/${VANTREL_BUNDLE_IDENTIFIER}.metainfo.xml @ONLY)

install(TARGETS vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VANTREL_SHARED_LIBRARIES)
  # Private libraries of the application, found next to it rather than on the system's path.
  install(TARGETS vantrel_core vantrel_gui LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vantrel)
  set_target_properties(vantrel PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}/vantrel")
endif()
install(FILES ${desktop_dir}/${VANTREL_BUNDLE_IDENTIFIER}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/${VANTREL_BUNDLE_IDENTIFIER}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VANTREL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS VANTREL_ICON_SIZES)
  install(FILES "${icon_theme}/${size}x${size}/apps/${VANTREL_BUNDLE_IDENTIFIER}.png"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
