# Windows: every program folder of the build gets the DLLs its program needs
# (so build-windows/app/tarnwick-updater.exe runs where it lies), and CPack
# packs the two programs with them into an NSIS installer and a zip.
#
# Qt comes as DLLs, not linked in: Qt is LGPL, and a user must be able to put
# a Qt of their own beside the programs. The C++ runtime comes as DLLs too,
# since Qt's DLLs use it.

# The compiler's runtime: libstdc++ and libgcc beside the compiler, winpthread
# in the target's library folder.
set(runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${dll} is (${path})")
    endif()
    list(APPEND runtime_dlls ${path})
endforeach()

set(qt_dlls $<TARGET_FILE:Qt5::Core> $<TARGET_FILE:Qt5::Gui> $<TARGET_FILE:Qt5::Widgets>)
# The window's platform plugins: the Windows one, and offscreen for running it
# without a display (the tests under Wine).
set(platform_plugins $<TARGET_FILE:Qt5::QWindowsIntegrationPlugin>
                     $<TARGET_FILE:Qt5::QOffscreenIntegrationPlugin>)

# The DLLs beside each program, copied after the programs are built.
set(programs tarnwick-updater tarnwick-flash)
if(TARGET tarnwick-walkthrough)
    list(APPEND programs tarnwick-walkthrough)
endif()
set(copies)
foreach(program ${programs})
    set(dir $<TARGET_FILE_DIR:${program}>)
    list(APPEND copies
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${runtime_dlls} ${qt_dlls} ${dir}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/platforms
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${platform_plugins} ${dir}/platforms)
endforeach()
add_custom_target(windows_runtime ALL ${copies} VERBATIM)
add_dependencies(windows_runtime ${programs})

install(FILES ${runtime_dlls} ${qt_dlls} DESTINATION .)
install(FILES ${platform_plugins} DESTINATION platforms)
# The licences of what is shipped, and how to put another Qt in its place.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/LICENSES.txt DESTINATION .)
if(TARNWICK_WINDOWS_SDK)
    install(DIRECTORY ${TARNWICK_WINDOWS_SDK}/licenses/ DESTINATION licenses)
endif()

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME tarnwick-updater)
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Installs firmware on Varnox and Solune synthesizers over MIDI SysEx")
set(CPACK_PACKAGE_FILE_NAME tarnwick-updater-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tarnwick Firmware Updater")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/windows/LICENSES.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The Start-menu entry for the window (the programs lie at the top of the
# installation, not in bin/); tarnwick-flash is for a console.
set(CPACK_PACKAGE_EXECUTABLES tarnwick-updater "Tarnwick Firmware Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_DISPLAY_NAME "Tarnwick Firmware Updater")
set(CPACK_NSIS_PACKAGE_NAME "Tarnwick Firmware Updater ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME tarnwick-updater.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# A 64-bit installer for 64-bit programs (Debian's NSIS has the amd64 stubs):
# it installs into the 64-bit Program Files and needs no 32-bit Windows layer.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
include(CPack)
