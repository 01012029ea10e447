# Code signing of the programs the tests and the demo run as packages.
#
# The build makes its own code-signing CA (scripts/make-test-ca, into build/testca); the test and demo Wine
# prefixes trust it (scripts/wine-prefix with TUNIVOX_TRUSTED_ROOT). A release signs with its own certificate
# through the same scripts/sign.
set(TUNIVOX_TEST_CA "${CMAKE_BINARY_DIR}/testca")
add_custom_command(OUTPUT ${TUNIVOX_TEST_CA}/ready
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-test-ca ${TUNIVOX_TEST_CA}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-test-ca
    COMMENT "Making the test code-signing CA" VERBATIM)
add_custom_target(test_ca DEPENDS ${TUNIVOX_TEST_CA}/ready)

# tunivox_sign(TARGET): signs the target's file in place with the test publisher after every link.
# Extra arguments name variants made from the unsigned file beside it: NAME=unsigned keeps an unsigned copy,
# NAME=P12 (publisher, other, rogue) a copy signed with that certificate of build/testca.
function(tunivox_sign target)
    add_dependencies(${target} test_ca)
    set(commands "")
    foreach(variant IN LISTS ARGN)
        string(REPLACE "=" ";" parts "${variant}")
        list(GET parts 0 name)
        list(GET parts 1 cert)
        set(out "$<TARGET_FILE_DIR:${target}>/${name}")
        if(cert STREQUAL "unsigned")
            list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${out})
        else()
            list(APPEND commands COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign $<TARGET_FILE:${target}> ${out}
                                         ${TUNIVOX_TEST_CA}/${cert}.p12)
        endif()
    endforeach()
    add_custom_command(TARGET ${target} POST_BUILD ${commands}
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>
                ${TUNIVOX_TEST_CA}/publisher.p12
        VERBATIM)
endfunction()
