# Makes the per-user Windows installer from the program folder, given either as a folder or as
# the zip that ships it (then the installer holds exactly the zip's files):
#   cmake -DZIP=<Velmorin-...-win64.zip> | -DPROGRAM_DIR=<folder>
#         -DICON=<.ico> -DVERSION=3.04.0006 -DOUT=<setup.exe> -P packaging/windows/installer.cmake
# or, for the Windows build folder's zip and icon, with the project's version:
#   cmake -DBUILD_DIR=build-win -P packaging/windows/installer.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED VERSION)
    file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../../CMakeLists.txt project REGEX "^project\\(")
    string(REGEX MATCH "VERSION ([0-9.]+)" found "${project}")
    set(VERSION ${CMAKE_MATCH_1})
endif()
if(DEFINED BUILD_DIR)
    if(NOT DEFINED PROGRAM_DIR AND NOT DEFINED ZIP)
        set(ZIP ${BUILD_DIR}/Velmorin-${VERSION}-win64.zip)
    endif()
    if(NOT DEFINED ICON)
        set(ICON ${BUILD_DIR}/resources/velmorin.ico)
    endif()
    if(NOT DEFINED OUT)
        set(OUT ${BUILD_DIR}/Velmorin-${VERSION}-setup.exe)
    endif()
endif()
foreach(var ICON VERSION OUT)
    if(NOT ${var})
        message(FATAL_ERROR "installer.cmake needs -D${var}=...")
    endif()
endforeach()
find_program(MAKENSIS makensis REQUIRED)
set(script ${CMAKE_CURRENT_LIST_DIR}/velmorin.nsi)
get_filename_component(out ${OUT} ABSOLUTE)
get_filename_component(icon ${ICON} ABSOLUTE)

if(DEFINED ZIP)
    set(unpacked ${out}.files)
    file(REMOVE_RECURSE ${unpacked})
    file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${unpacked})
    set(program_dir ${unpacked}/Velmorin)
elseif(DEFINED PROGRAM_DIR)
    get_filename_component(program_dir ${PROGRAM_DIR} ABSOLUTE)
else()
    message(FATAL_ERROR "installer.cmake needs -DZIP=... or -DPROGRAM_DIR=...")
endif()

# The installer names every file it puts down, so that its uninstaller removes exactly those:
# a file the folder holds but the script does not name would be left out silently.
file(STRINGS ${script} listed REGEX "^ *!insertmacro \\\${_m} ")
list(TRANSFORM listed REPLACE "^ *!insertmacro \\\${_m} +" "")
file(GLOB present RELATIVE ${program_dir} ${program_dir}/*)
list(REMOVE_ITEM present Velmorin.ini)
list(SORT listed)
list(SORT present)
if(NOT listed STREQUAL present)
    message(FATAL_ERROR "${program_dir} holds [${present}], velmorin.nsi installs [${listed}]")
endif()

execute_process(
    COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 -DPROGRAM_DIR=${program_dir} -DICON=${icon}
            -DVERSION=${VERSION} -DOUT=${out} ${script}
    COMMAND_ERROR_IS_FATAL ANY)
if(DEFINED unpacked)
    file(REMOVE_RECURSE ${unpacked})
endif()
file(SIZE ${out} size)
message(STATUS "${out}: ${size} bytes")
