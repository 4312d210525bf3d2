# Helpers shared by every target of ours.

# Warnings are errors on our own targets only.
function(qb_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# qb_add_library(name [C] SOURCES ... LIBS ...): one library per subsystem folder.
function(qb_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    qb_warnings(${name})
endfunction()

# qb_link_phone_usb(target): the emulated phone's stand-in libusb-1.0.so.0 in place of the system
# one, for libmtp too: linked by full path (needed even where the target calls none of it) with
# its folder on the run path, which is searched before the system folders. Not linked as a CMake
# target: CMake would then warn that this folder hides the system libusb, which is its purpose.
function(qb_link_phone_usb target)
    target_link_options(${target} PRIVATE -Wl,--no-as-needed $<TARGET_FILE:qb_phone_usb>
        -Wl,-rpath,$<TARGET_FILE_DIR:qb_phone_usb>)
    target_include_directories(${target}
        PRIVATE $<TARGET_PROPERTY:qb_phone_usb,INTERFACE_INCLUDE_DIRECTORIES>)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:qb_phone_usb>)
    add_dependencies(${target} qb_phone_usb)
endfunction()

# qb_add_test(name SOURCES ... LIBS ... [LABELS ...] [PHONE]): one GoogleTest binary, run by CTest.
# PHONE links the emulated phone's stand-in libusb ahead of the real one.
# Every test runs offscreen with its own temporary home and data folders.
function(qb_add_test name)
    cmake_parse_arguments(ARG "PHONE" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    if(ARG_PHONE)
        target_link_libraries(${name} PRIVATE qb_phone)
        qb_link_phone_usb(${name})
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    qb_warnings(${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    # A home of its own keeps every test away from the user's folders, settings and journal.
    set(home ${CMAKE_CURRENT_BINARY_DIR}/${name}-home)
    file(MAKE_DIRECTORY ${home})
    set(env QT_QPA_PLATFORM=offscreen QB_CRASH_GUARD=off QB_LOG_STDERR=1 HOME=${home}
        XDG_CONFIG_HOME=${home}/.config XDG_DATA_HOME=${home}/.local/share
        XDG_CACHE_HOME=${home}/.cache XDG_RUNTIME_DIR=${home}/.runtime)
    file(MAKE_DIRECTORY ${home}/.runtime)
    file(CHMOD ${home}/.runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES
            LABELS "${ARG_LABELS}"
            TIMEOUT ${ARG_TIMEOUT})
    # gtest_discover_tests passes a list-valued property on as separate words, so the
    # environment is set by a script that CTest runs after the discovered tests are known.
    set(env_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${env_script}
        "if(${name}_TESTS)\n"
        "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${env}\")\n"
        "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_script})
endfunction()
