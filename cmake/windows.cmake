# The Windows target: the plug-in as a 32-bit DLL for the host, built with
# mingw-w64 (toolchain: cmake/mingw-i686.cmake), and the Windows programs
# that its tests run under Wine.

enable_language(RC)

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4 OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86|i.86)$")
    message(FATAL_ERROR "The host is a 32-bit x86 program; configure with cmake/mingw-i686.cmake")
endif()

# Windows XP and later; what our writer can use from Vista on, it looks up.
add_compile_definitions(_WIN32_WINNT=0x0501 WINVER=0x0501)
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
# A user has no mingw runtime: its libraries go into each binary.
add_link_options(-static-libgcc -static-libstdc++)

add_library(plugin_core OBJECT ${PLUGIN_SOURCES} platform/windows/host_effect.cpp platform/windows/process_barrier.cpp)
target_include_directories(plugin_core PUBLIC ${PROJECT_SOURCE_DIR})

# Our AVI writer over Win32 files, and the AVIFile functions over it.
add_library(avi_writer STATIC ${AVI_WRITER_SOURCES} platform/windows/win32_output_file.cpp)
target_include_directories(avi_writer PUBLIC ${PROJECT_SOURCE_DIR})
add_library(avifile_shim STATIC platform/windows/avifile_shim.cpp)
target_link_libraries(avifile_shim PUBLIC avi_writer)

# The plug-in: exports _AVS_APE_RetrFunc and nothing else.
add_library(avi_output MODULE
    $<TARGET_OBJECTS:plugin_core>
    resources/avi_output.rc
    platform/windows/exports.def)
target_include_directories(avi_output PRIVATE ${PROJECT_SOURCE_DIR}/resources)
set_target_properties(avi_output PROPERTIES PREFIX "" SUFFIX ".ape")
target_link_options(avi_output PRIVATE -Wl,--no-undefined $<$<CONFIG:Release>:-s>)
if(AVI_OUTPUT_OWN_WRITER)
    target_link_libraries(avi_output PRIVATE avifile_shim)
else()
    target_link_libraries(avi_output PRIVATE avifil32)
endif()
target_link_libraries(avi_output PRIVATE user32 winmm kernel32)

# The stand-in host, in C: it knows the plug-in only through its export and
# the raw slot table, as the host does.
add_executable(winhost
    host/windows/winhost.c
    host/windows/message_boxes.c
    host/windows/thiscall_check.S
    host/windows/animation_bridge.cpp
    host/animation.cpp)
target_include_directories(winhost PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(winhost PRIVATE user32 gdi32 winmm kernel32)

# Our writer's AVIFile functions driven straight, with a small segment size.
add_executable(writer_probe host/windows/writer_probe.cpp host/animation.cpp)
target_link_libraries(writer_probe PRIVATE avifile_shim kernel32)

# The tests run on this machine and drive these programs under Wine, on an
# X display (scripts/test-windows provides Xvfb). They are a native program,
# built by the native-release preset.
if(AVI_OUTPUT_TESTS)
    set(AVI_OUTPUT_WINE_TESTS "${PROJECT_SOURCE_DIR}/build/native-release/tests/wine/wine_tests"
        CACHE FILEPATH "The native program that runs the Windows build's tests under Wine")
    set(AVI_OUTPUT_WINE "${PROJECT_SOURCE_DIR}/build/wine-tools/wine"
        CACHE FILEPATH "Launcher for Windows programs (scripts/lib/wine.sh writes it)")
    set(AVI_OUTPUT_WINEPREFIX "${PROJECT_SOURCE_DIR}/build/wine-prefix" CACHE PATH "The tests' Wine prefix")
    enable_testing()
    set(suites WindowsModule Registration Abi Presets Dialog Recording RecordingErrors Lifetime)
    if(AVI_OUTPUT_OWN_WRITER)
        list(APPEND suites OwnWriter)
        set(variant own-writer)
    else()
        set(variant avifile)
    endif()
    foreach(suite ${suites})
        add_test(NAME wine.${suite} COMMAND ${AVI_OUTPUT_WINE_TESTS} --gtest_filter=${suite}.*)
        set_tests_properties(wine.${suite} PROPERTIES
            TIMEOUT 600
            ENVIRONMENT "WINEPREFIX=${AVI_OUTPUT_WINEPREFIX};AVI_OUTPUT_WINE=${AVI_OUTPUT_WINE};AVI_OUTPUT_WINDOWS_APE=$<TARGET_FILE:avi_output>;AVI_OUTPUT_WINHOST=$<TARGET_FILE:winhost>;AVI_OUTPUT_WRITER_PROBE=$<TARGET_FILE:writer_probe>;AVI_OUTPUT_WINDOWS_VARIANT=${variant}")
    endforeach()
endif()
