# The native (Linux) target: our Win32 layer as one shared library that the
# plug-in and the host both load, the plug-in as an ELF .ape, the stand-in
# host, the tests and the benchmarks.

find_package(Threads REQUIRED)

set_target_properties(plugin_core platform_lock avi_writer_objects avi_writer avi_writer_tapped PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(win32native SHARED
    platform/native/avifile.cpp
    platform/native/clock.cpp
    platform/native/dialog_template.cpp
    platform/native/kernel.cpp
    platform/native/message_box.cpp
    platform/native/message_queue.cpp
    platform/native/modules.cpp
    platform/native/res_file.cpp
    platform/native/sync_objects.cpp
    platform/native/user32.cpp
    platform/native/window_class.cpp)
target_include_directories(win32native PUBLIC ${PROJECT_SOURCE_DIR})
# The tests install their file faults in this layer's own writer (native_host.h).
target_link_libraries(win32native PRIVATE avi_writer_tapped ${CMAKE_DL_LIBS} Threads::Threads)
set_target_properties(win32native PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# The dialog template, compiled from the same .rc as on Windows and
# embedded in each native module that shows the dialog.
set(RES_FILE ${CMAKE_BINARY_DIR}/avi_output.res)
add_custom_command(
    OUTPUT ${RES_FILE}
    COMMAND ${WINDRES} -I ${PROJECT_SOURCE_DIR}/resources -I ${GENERATED_DIR}
            -i ${PROJECT_SOURCE_DIR}/resources/avi_output.rc -O res -o ${RES_FILE}
    DEPENDS resources/avi_output.rc resources/resource.h ${GENERATED_DIR}/avi_output_version.h
    COMMENT "Compiling the dialog template")
configure_file(platform/native/module_resources.S.in ${CMAKE_BINARY_DIR}/module_resources.S @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/module_resources.S PROPERTIES OBJECT_DEPENDS ${RES_FILE})
add_library(module_resources OBJECT ${CMAKE_BINARY_DIR}/module_resources.S platform/native/module_resources.cpp)
target_include_directories(module_resources PUBLIC ${PROJECT_SOURCE_DIR})

target_sources(avi_output PRIVATE $<TARGET_OBJECTS:module_resources>)
target_link_libraries(avi_output PRIVATE win32native Threads::Threads)
set_target_properties(avi_output PROPERTIES
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN"
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/plugin/exports.map)
target_link_options(avi_output PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/plugin/exports.map -Wl,--no-undefined)

add_executable(apehost
    host/animation.cpp
    host/apehost.cpp
    host/dialog_driver.cpp
    host/plugin_loader.cpp
    host/record_command.cpp)
target_link_libraries(apehost PRIVATE win32native Threads::Threads)
set_target_properties(apehost PROPERTIES BUILD_RPATH "$<TARGET_FILE_DIR:win32native>")

if(AVI_OUTPUT_TESTS)
    enable_testing()
    add_subdirectory(tests)
endif()
if(AVI_OUTPUT_BENCH)
    add_subdirectory(bench)
endif()
