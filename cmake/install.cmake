# What an installation holds, laid out as Debian does for games: the program in games/ under the
# prefix, its pictures in FIVEINAROW_DATA_DIR (the folder it was built to read them from), a
# desktop entry with icons in the usual hicolor sizes, its AppStream metadata (for software
# centres), the manual page, and an application profile for ufw, so that `ufw allow fiveinarow`
# opens the game's two ports where a player has turned that firewall on.
include(GNUInstallDirs)

install(TARGETS fiveinarow RUNTIME DESTINATION games)
install(DIRECTORY data/ DESTINATION ${FIVEINAROW_DATA_DIR} FILES_MATCHING PATTERN "*.tga")
install(FILES desktop/fiveinarow.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES desktop/fiveinarow.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES doc/fiveinarow.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
# ufw reads its profiles from /etc, not from under the /usr prefix: the full form of the folder.
install(FILES desktop/fiveinarow.ufw
    DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/ufw/applications.d RENAME fiveinarow)

# The icons are drawn by the picture generator at build time, one file per size.
if(NOT PNG_FOUND)
    message(FATAL_ERROR "The icons are drawn by make_pictures, which needs libpng (libpng-dev)")
endif()
set(icons)
foreach(size 16 22 24 32 48 64 128 256)
    set(dir ${CMAKE_BINARY_DIR}/icons/${size}x${size})
    add_custom_command(OUTPUT ${dir}/fiveinarow.png
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND make_pictures --icon ${size} ${dir}/fiveinarow.png
        DEPENDS make_pictures
        COMMENT "Drawing the ${size}x${size} icon"
        VERBATIM)
    list(APPEND icons ${dir}/fiveinarow.png)
    install(FILES ${dir}/fiveinarow.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(icons ALL DEPENDS ${icons})
