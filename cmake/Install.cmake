# What `make install` and the Debian package put on a system: the binary, its desktop entry, the
# application icon in the hicolor theme, the AppStream metainfo and the notices. One id names the
# desktop entry, the icon, the window's instance and the autostart entry: "pimsel". AppStream wants
# its components named in reverse-DNS form; the metainfo points at the entry by that id.
set(CMAKE_INSTALL_DOCDIR share/doc/pimsel)
include(GNUInstallDirs)

set(PIMSEL_HOMEPAGE_URL "https://pimsel.app" CACHE STRING "Homepage named in the AppStream metainfo")
set(PIMSEL_APPSTREAM_ID "app.pimsel.Pimsel" CACHE STRING "AppStream component id")
string(TIMESTAMP PIMSEL_RELEASE_DATE "%Y-%m-%d" UTC)
set(desktop_dir ${PROJECT_SOURCE_DIR}/resources/desktop)

# The PNG sizes come from the SVG at build time, drawn by Qt's own SVG renderer.
set(PIMSEL_ICON_SIZES 16 22 24 32 48 64 128 256)
add_executable(render_icon tools/render-icon/render_icon.cpp)
target_link_libraries(render_icon PRIVATE Qt6::Gui Qt6::Svg)
set(icon_dir ${PROJECT_BINARY_DIR}/icons/hicolor)
set(icon_pngs)
foreach(size IN LISTS PIMSEL_ICON_SIZES)
  list(APPEND icon_pngs ${icon_dir}/${size}x${size}/apps/pimsel.png)
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
  COMMAND render_icon ${desktop_dir}/pimsel.svg ${icon_dir} pimsel ${PIMSEL_ICON_SIZES}
  DEPENDS render_icon ${desktop_dir}/pimsel.svg
  COMMENT "Rendering the application icon")
add_custom_target(pimsel_icons ALL DEPENDS ${icon_pngs})

configure_file(${desktop_dir}/pimsel.metainfo.xml.in ${PROJECT_BINARY_DIR}/${PIMSEL_APPSTREAM_ID}.metainfo.xml @ONLY)

install(TARGETS pimsel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${desktop_dir}/pimsel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/pimsel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${icon_dir}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${PROJECT_BINARY_DIR}/${PIMSEL_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/THIRD_PARTY_NOTICES.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `make package`: a .deb whose library dependencies dpkg-shlibdeps reads from the binary, plus what
# no link shows: the colour emoji font the popover draws with and the accessibility bus.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pimsel)
set(CPACK_PACKAGE_VENDOR "The Pimsel developers")
set(CPACK_PACKAGE_CONTACT "The Pimsel developers <pimsel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Emoji shortcodes in every text field")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-color-emoji, at-spi2-core")
include(CPack)
