# The Windows target: the plug-in as a 32-bit DLL for the host, built with
# mingw-w64 (toolchain: cmake/mingw-i686.cmake), and the Windows programs
# that its tests run under Wine.

# The AVIFile functions over our own writer; a program links the writer
# too, as the plug-in has it or with the tests' tap (avi_writer_tapped).
add_library(avifile_shim OBJECT platform/windows/avifile_shim.cpp)
target_include_directories(avifile_shim PUBLIC ${PROJECT_SOURCE_DIR})

target_sources(avi_output PRIVATE resources/avi_output.rc plugin/windows/exports.def)
target_include_directories(avi_output PRIVATE ${PROJECT_SOURCE_DIR}/resources ${GENERATED_DIR})
target_link_options(avi_output PRIVATE -Wl,--no-undefined $<$<CONFIG:Release>:-s>)
# What went into the plug-in, for scripts/test-package to check that no
# test hook did.
target_link_options(avi_output PRIVATE -Wl,-Map=$<TARGET_FILE_DIR:avi_output>/avi_output.map)
if(AVI_OUTPUT_OWN_WRITER)
    target_link_libraries(avi_output PRIVATE avifile_shim avi_writer)
else()
    # The platform's AVIFile, and with it its 2 GiB limit.
    target_compile_definitions(plugin_core PRIVATE AVI_OUTPUT_SYSTEM_AVIFILE)
    target_link_libraries(avi_output PRIVATE avifil32)
endif()
target_link_libraries(avi_output PRIVATE user32 winmm kernel32)

# The stand-in host, in C: it knows the plug-in only through its export and
# the raw slot table, as the host does.
add_executable(winhost
    host/windows/winhost.c
    host/windows/stand_in_host.c
    host/windows/hostile_host.c
    host/windows/heap_blocks.c
    host/windows/message_boxes.c
    host/windows/thiscall_check.S
    host/windows/animation_bridge.cpp
    host/animation.cpp)
target_include_directories(winhost PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(winhost PRIVATE user32 gdi32 winmm kernel32)

# Our writer's AVIFile functions driven straight, with a small segment size.
add_executable(writer_probe host/windows/writer_probe.cpp host/animation.cpp tests/support/fault_sweep.cpp)
target_link_libraries(writer_probe PRIVATE avifile_shim avi_writer_tapped kernel32)

# The native layer's USER32 claims, checked against the real USER32, with
# the plug-in's dialog template.
add_executable(user32_claims tests/platform/user32_claims.cpp resources/avi_output.rc)
target_include_directories(user32_claims PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources ${GENERATED_DIR})
target_link_libraries(user32_claims PRIVATE user32 kernel32)

# The plug-in's own code over our writer, with dialogs made, destroyed or
# left behind while frames are written, against the real USER32.
if(AVI_OUTPUT_OWN_WRITER)
    add_executable(dialogs_while_writing tests/reliability/dialogs_while_writing.cpp tests/support/riff_walk.cpp
        resources/avi_output.rc
        $<TARGET_OBJECTS:plugin_core>)
    target_include_directories(dialogs_while_writing PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources
        ${GENERATED_DIR})
    target_link_libraries(dialogs_while_writing PRIVATE avifile_shim avi_writer_tapped user32 winmm kernel32)
endif()

# The frame path's benchmark, from the source the native one is built
# from, over the plug-in's own objects. It fills the plug-in's import of
# timeGetTime with its own clock, so it does not link WINMM.
if(AVI_OUTPUT_OWN_WRITER)
    add_executable(both_targets_bench bench/both_targets_bench.cpp bench/effect_recording.cpp bench/frames.cpp
        bench/target_clock.cpp bench/target_comparison.cpp bench/target_timing.cpp $<TARGET_OBJECTS:plugin_core>)
    target_include_directories(both_targets_bench PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(both_targets_bench PRIVATE avifile_shim avi_writer_tapped user32 kernel32)
endif()

# The conversion kernels' tests, the native source built for Windows over
# the plug-in's own objects, with GoogleTest from Debian's sources
# (googletest): each kernel the processor has, against the plain loop.
if(AVI_OUTPUT_TESTS AND AVI_OUTPUT_OWN_WRITER)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
    # Our copy of its port header stands in for what needs std::mutex.
    target_include_directories(gtest BEFORE PUBLIC ${PROJECT_SOURCE_DIR}/tests/support/windows_gtest)
    add_executable(conversion_tests tests/recording/frame_conversion_test.cpp $<TARGET_OBJECTS:plugin_core>)
    target_link_libraries(conversion_tests PRIVATE gtest_main avifile_shim avi_writer user32 winmm kernel32)
endif()

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
        list(APPEND suites OwnWriter AnyLength HostileHost)
        set(variant own-writer)
    else()
        list(APPEND suites LargestFile)
        set(variant avifile)
    endif()
    foreach(suite ${suites})
        add_test(NAME wine.${suite} COMMAND ${AVI_OUTPUT_WINE_TESTS} --gtest_filter=${suite}.*)
        set_tests_properties(wine.${suite} PROPERTIES
            TIMEOUT 600
            ENVIRONMENT "WINEPREFIX=${AVI_OUTPUT_WINEPREFIX};AVI_OUTPUT_WINE=${AVI_OUTPUT_WINE};AVI_OUTPUT_WINDOWS_APE=$<TARGET_FILE:avi_output>;AVI_OUTPUT_WINHOST=$<TARGET_FILE:winhost>;AVI_OUTPUT_WRITER_PROBE=$<TARGET_FILE:writer_probe>;AVI_OUTPUT_WINDOWS_VARIANT=${variant}")
    endforeach()
    # A Windows program run under Wine as one test, in a folder of its own
    # whose AVI files are removed afterwards. Its output goes through a
    # file, since the Wine processes that outlive it would hold a pipe open.
    function(add_wine_program_test name target)
        set(folder ${CMAKE_CURRENT_BINARY_DIR}/wine-runs/${target})
        file(MAKE_DIRECTORY ${folder})
        add_test(NAME ${name}
            COMMAND sh -c "log=$1; shift; \"$0\" \"$@\" >\"$log\" 2>&1; status=$?; cat \"$log\"; rm -f *.avi; exit $status"
            ${AVI_OUTPUT_WINE} ${folder}.log $<TARGET_FILE:${target}> ${ARGN})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300 WORKING_DIRECTORY ${folder}
            ENVIRONMENT "WINEPREFIX=${AVI_OUTPUT_WINEPREFIX}")
    endfunction()
    # Once, in the build with our writer, which is the one users install.
    if(AVI_OUTPUT_OWN_WRITER)
        add_wine_program_test(wine.User32Claims user32_claims)
        add_wine_program_test(wine.DialogsWhileWriting dialogs_while_writing)
        add_wine_program_test(wine.ConversionKernels conversion_tests)
        add_wine_program_test(wine.BenchSmoke both_targets_bench --smoke)
    endif()
endif()
