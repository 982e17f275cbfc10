# Velmora for Windows, cross-built with MinGW-w64 against the SDK of
# scripts/windows.sh: one Velmora.exe with Qt, ImageMagick, the codec
# libraries and the C++ runtime linked in, importing only system DLLs.
if(NOT WIN32)
    return()
endif()

add_link_options(-static -static-libgcc -static-libstdc++)

# pkg-config's imported targets name the libraries of a shared build; a static
# link needs everything they use in turn (Libs.private), in order.
function(velmora_link_statically)
    foreach(prefix IN LISTS ARGN)
        set_property(TARGET PkgConfig::${prefix}
            PROPERTY INTERFACE_LINK_LIBRARIES ${${prefix}_STATIC_LDFLAGS})
        set_property(TARGET PkgConfig::${prefix}
            PROPERTY INTERFACE_COMPILE_OPTIONS ${${prefix}_STATIC_CFLAGS_OTHER})
    endforeach()
endfunction()

# A Windows machine has no Qt translations: Qt's own Chinese texts (buttons of
# the dialogs, the context menus) are packed into the program, read from the
# host's qt6-translations-l10n, which are the same for every platform.
find_file(VELMORA_QTBASE_ZH_CN qtbase_zh_CN.qm
    PATHS ${QT_HOST_PATH}/share/qt6/translations /usr/share/qt6/translations
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

function(velmora_add_qt_translations target)
    get_filename_component(folder ${VELMORA_QTBASE_ZH_CN} DIRECTORY)
    qt_add_resources(${target} velmora_qt_translations
        PREFIX /translations BASE ${folder} FILES ${VELMORA_QTBASE_ZH_CN})
endfunction()
