# The Windows program: velmorin.exe with its resources, linked statically, and the zip that
# ships it with the data the host tools made (tools/). Included from the top-level CMakeLists.txt;
# the backend's library is defined in CMakeLists.txt beside this file.

# The icon file holds the 32 x 32 16-colour image the windows use, and full-colour images at
# 16, 48 and 256 pixels for the taskbar, Explorer and large icon views.
set(WIN32_RESOURCES_DIR ${CMAKE_BINARY_DIR}/resources)
set(VELMORIN_ICO ${WIN32_RESOURCES_DIR}/velmorin.ico)
set(VELMORIN_SETTING_BMP ${WIN32_RESOURCES_DIR}/setting.bmp)
set(VELMORIN_MANIFEST ${CMAKE_SOURCE_DIR}/platform/win32/velmorin.manifest)
find_program(ICOTOOL icotool REQUIRED)
find_program(MAGICK_CONVERT convert REQUIRED)
add_custom_command(OUTPUT ${VELMORIN_ICO} ${VELMORIN_SETTING_BMP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${WIN32_RESOURCES_DIR}
    COMMAND ${ICOTOOL} -c -o ${VELMORIN_ICO} ${PICTURES_DIR}/icon.png
            ${PICTURES_DIR}/icons/velmorin-16.png ${PICTURES_DIR}/icons/velmorin-48.png
            -r ${PICTURES_DIR}/icons/velmorin-256.png
    COMMAND ${MAGICK_CONVERT} ${PICTURES_DIR}/setting.png -compress none
            BMP3:${VELMORIN_SETTING_BMP}
    DEPENDS ${PICTURES} ${ICONS}
    COMMENT "Making the icon and the background bitmap")
add_custom_target(win32_pictures DEPENDS ${VELMORIN_ICO} ${VELMORIN_SETTING_BMP})
add_dependencies(win32_pictures pictures)

# FILEVERSION takes four numbers; 3.04.0006 becomes 3,4,0,6.
string(REGEX MATCHALL "[0-9]+" version_parts ${PROJECT_VERSION})
set(VELMORIN_VERSION_COMMAS "")
foreach(part ${version_parts})
    math(EXPR part "${part}" OUTPUT_FORMAT DECIMAL)
    list(APPEND VELMORIN_VERSION_COMMAS ${part})
endforeach()
list(LENGTH VELMORIN_VERSION_COMMAS version_count)
if(version_count EQUAL 3)
    list(INSERT VELMORIN_VERSION_COMMAS 2 0)
endif()
list(JOIN VELMORIN_VERSION_COMMAS "," VELMORIN_VERSION_COMMAS)
configure_file(platform/win32/velmorin.rc.in ${WIN32_RESOURCES_DIR}/velmorin.rc @ONLY)
set_source_files_properties(${WIN32_RESOURCES_DIR}/velmorin.rc PROPERTIES
    OBJECT_DEPENDS "${VELMORIN_ICO};${VELMORIN_SETTING_BMP};${VELMORIN_MANIFEST}")

add_executable(velmorin WIN32 programs/velmorin/main.cpp ${WIN32_RESOURCES_DIR}/velmorin.rc)
target_link_libraries(velmorin PRIVATE velmorin_logic velmorin_win32)
# One file to copy: no DLL of the compiler's runtime beside it.
target_link_options(velmorin PRIVATE -static -mwindows $<$<CONFIG:Release>:-s>)
set_target_properties(velmorin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROGRAM_DIR})
add_dependencies(velmorin program_data win32_pictures)

# The zip: one folder Velmorin\ with the program and its data, ready to unzip anywhere the user
# can write.
install(TARGETS velmorin RUNTIME DESTINATION Velmorin)
install(FILES ${SOUNDS} ${PROGRAM_DIR}/ABOUT.MID DESTINATION Velmorin)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velmorin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Velmorin-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(VELMORIN_TESTS)
    enable_testing()
    if(EXISTS ${CMAKE_SOURCE_DIR}/tests/win32/CMakeLists.txt)
        add_subdirectory(tests/win32)
    endif()
endif()
