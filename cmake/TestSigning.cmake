# Throwaway test PKI, signed test files and the trust set-up of the test Wine prefix. All of it
# is made here, in the build folder; no key or certificate is ever committed or built into a
# deliverable. Needs the targets trust_test_target, qdxnroa, trust_prefix_setup, trust_ts_policy
# and trust_script_sip.

set(TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/testsigning)
set(TEST_SIGNING_STAMP ${TEST_SIGNING_DIR}/.signed)
# The signed validation-service stand-in: the folder tests name as Halvorn's install folder.
set(TEST_HALVORN_DIR ${CMAKE_BINARY_DIR}/bin/halvorn)

find_program(PYTHON3 python3 REQUIRED)

add_custom_command(
    OUTPUT ${TEST_SIGNING_STAMP} ${TEST_SIGNING_DIR}/TestSigningData.h
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/make-test-signing ${TEST_SIGNING_DIR}
            $<TARGET_FILE:trust_test_target> $<TARGET_FILE:qdxnroa> ${TEST_HALVORN_DIR}
            ${WINE64_LOADER} ${TEST_WINEPREFIX}
    COMMAND ${CMAKE_COMMAND} -E touch ${TEST_SIGNING_STAMP}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-test-signing trust_test_target qdxnroa
            ${TEST_WINEPREFIX_STAMP}
    COMMENT "Making the test PKI and signing the test files"
    VERBATIM)
add_custom_target(test_signing DEPENDS ${TEST_SIGNING_STAMP})

function(ordwell_windows_path out path)
    string(REPLACE "/" "\\" windows "Z:${path}")
    set(${out} "${windows}" PARENT_SCOPE)
endfunction()
ordwell_windows_path(ROOT_LISTED_CER ${TEST_SIGNING_DIR}/pki/root-listed.cer)
ordwell_windows_path(ROOT_UNLISTED_CER ${TEST_SIGNING_DIR}/pki/root-unlisted.cer)
ordwell_windows_path(TS_POLICY_DLL ${CMAKE_BINARY_DIR}/bin/OrdwellTestTsPolicy.dll)
ordwell_windows_path(SCRIPT_SIP_DLL ${CMAKE_BINARY_DIR}/bin/OrdwellTestScriptSip.dll)

# Inside the prefix: stamped there, so a remade prefix is set up again.
set(TRUST_PREFIX_STAMP ${TEST_WINEPREFIX}/.ordwell-trust-ready)
add_custom_command(
    OUTPUT ${TRUST_PREFIX_STAMP}
    COMMAND env ${TEST_WINE_ENV} ${WINE64_LOADER} $<TARGET_FILE:trust_prefix_setup>
            ${ROOT_LISTED_CER} ${ROOT_UNLISTED_CER} --policy ${TS_POLICY_DLL} --sip ${SCRIPT_SIP_DLL}
    COMMAND env ${TEST_WINE_ENV} wineserver -w
    COMMAND ${CMAKE_COMMAND} -E touch ${TRUST_PREFIX_STAMP}
    DEPENDS ${TEST_WINEPREFIX_STAMP} ${TEST_SIGNING_STAMP} trust_prefix_setup trust_ts_policy
            trust_script_sip
    COMMENT "Setting up code signing in the test Wine prefix"
    VERBATIM)
add_custom_target(trust_test_prefix DEPENDS ${TRUST_PREFIX_STAMP} test_signing)

# ordwell_signed_copy(<target> <folder>): the target's file, signed by the listed test publisher
# ("Tervane, Inc." under the listed test root), copied into <folder> by the build. Stand-ins are
# loaded from there by the tests and the demo. Adds the target <target>_signed.
function(ordwell_signed_copy target folder)
    set(signed ${folder}/$<TARGET_FILE_NAME:${target}>)
    add_custom_command(
        OUTPUT ${folder}/.${target}.signed
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E rm -f ${signed}
        COMMAND osslsigncode sign -certs ${TEST_SIGNING_DIR}/pki/leaf-tervane-chain.pem
                -key ${TEST_SIGNING_DIR}/pki/leaf-tervane.key -h sha256
                -in $<TARGET_FILE:${target}> -out ${signed}
        COMMAND ${CMAKE_COMMAND} -E touch ${folder}/.${target}.signed
        DEPENDS ${target} ${TEST_SIGNING_STAMP}
        COMMENT "Signing a test copy of ${target}"
        VERBATIM)
    add_custom_target(${target}_signed ALL DEPENDS ${folder}/.${target}.signed)
endfunction()
